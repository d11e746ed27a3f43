// The emulated machine's environment block, separate from the host process's own environment
// so that tests and programs describe exactly the variables the library sees. Names match
// without regard to case and keep the spelling they were first set with.
#include "environment.h"

#include "host_errors.h"
#include "text_codepages.h"
#include "win32.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct EnvironmentVariable {
    std::string strName;
    std::string strValue;
};

std::mutex g_mutex;  // guards the variables

// Never destroyed: the library may read the environment while the process exits.
std::vector<EnvironmentVariable> &Variables() {
    static auto *pVariables = new std::vector<EnvironmentVariable>;
    return *pVariables;
}

bool SameName(const char *a, size_t cchA, const std::string &b) {
    if (cchA != b.size()) return false;
    for (size_t i = 0; i < cchA; ++i) {
        if (host::ToUpperAnsi(static_cast<unsigned char>(a[i])) != host::ToUpperAnsi(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

EnvironmentVariable *Find(const char *pName, size_t cchName) {
    for (EnvironmentVariable &v : Variables()) {
        if (SameName(pName, cchName, v.strName)) return &v;
    }
    return nullptr;
}

}  // namespace

namespace host {

void ResetEnvironment() {
    std::lock_guard<std::mutex> guard(g_mutex);
    Variables().clear();
}

}  // namespace host

extern "C" {

// Length without the NUL when the value fits in nSize; otherwise the size needed with the NUL,
// and lpBuffer is left untouched. 0 with ERROR_ENVVAR_NOT_FOUND for an unknown name.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    if (!lpName || !*lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    const EnvironmentVariable *pVar = Find(lpName, strlen(lpName));
    if (!pVar) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t cch = pVar->strValue.size();
    if (!lpBuffer || cch >= nSize) return static_cast<DWORD>(cch + 1);
    memcpy(lpBuffer, pVar->strValue.c_str(), cch + 1);
    if (cch == 0) SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(cch);
}

// A NULL value deletes the variable (deleting an absent one succeeds). Names are not empty and
// hold no '='.
BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    return host::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpName || !*lpName || strchr(lpName, '=')) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> guard(g_mutex);
        size_t cchName = strlen(lpName);
        EnvironmentVariable *pVar = Find(lpName, cchName);
        if (!lpValue) {
            if (pVar) Variables().erase(Variables().begin() + (pVar - Variables().data()));
        } else if (pVar) {
            pVar->strValue = lpValue;
        } else {
            Variables().push_back(EnvironmentVariable{lpName, lpValue});
        }
        return TRUE;
    });
}

// Replaces each %NAME% of a defined variable by its value; anything else, an unknown name or a
// lone '%', stays as written. Returns the size of the result with its NUL. When that exceeds
// nSize nothing is written and the caller retries with the size returned.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    return host::Guarded<DWORD>(0, [&]() -> DWORD {
        if (!lpSrc) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::string strResult;
        {
            std::lock_guard<std::mutex> guard(g_mutex);
            const char *p = lpSrc;
            while (*p) {
                const char *pClose = *p == '%' ? strchr(p + 1, '%') : nullptr;
                if (!pClose) {
                    strResult.push_back(*p++);
                    continue;
                }
                const EnvironmentVariable *pVar =
                    pClose > p + 1 ? Find(p + 1, static_cast<size_t>(pClose - p - 1)) : nullptr;
                if (pVar)
                    strResult += pVar->strValue;
                else
                    strResult.append(p, pClose + 1);
                p = pClose + 1;
            }
        }
        size_t cbNeeded = strResult.size() + 1;
        if (lpDst && cbNeeded <= nSize) memcpy(lpDst, strResult.c_str(), cbNeeded);
        return static_cast<DWORD>(cbNeeded);
    });
}

}  // extern "C"
