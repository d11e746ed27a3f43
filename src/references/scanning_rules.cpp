#include "references/scanning_rules.h"

#include "references/settings_file.h"
#include "store/module_state.h"
#include "support/path_utils.h"

#include <cstring>
#include <initializer_list>

namespace {

BOOL IsBlank(CHAR ch) { return ch == ' ' || ch == '\t'; }

// Copies the `cch` characters at `text` into `out` (cbOut bytes) without blanks at either end.
void CopyTrimmed(LPSTR out, size_t cbOut, LPCSTR text, size_t cch) {
    while (cch > 0 && IsBlank(*text)) text++, cch--;
    while (cch > 0 && IsBlank(text[cch - 1])) cch--;
    if (cch >= cbOut) cch = cbOut - 1;
    memcpy(out, text, cch);
    out[cch] = '\0';
}

BOOL IsOnValue(LPCSTR value) {
    for (LPCSTR on : {"1", "yes", "on", "true"})
        if (CompareTextNoCase(value, on) == 0) return 1;
    return 0;
}

// "3,5,7" as bits; numbers above 31 and other text are passed over.
DWORD ParseSubsystems(LPCSTR value) {
    DWORD mask = 0, number = 0;
    BOOL digits = 0;
    for (LPCSTR p = value;; p++) {
        if (*p >= '0' && *p <= '9') {
            if (number < 100) number = number * 10 + static_cast<DWORD>(*p - '0');
            digits = 1;
            continue;
        }
        if (digits && number < 32) mask |= 1u << number;
        number = 0, digits = 0;
        if (*p == '\0') return mask;
    }
}

}  // namespace

void ParseScanningRules(LPCSTR list) {
    ResetScanningRules();
    if (list == nullptr || *list == '\0') return;
    for (LPCSTR entry = NextListString(list); *entry != '\0'; entry = NextListString(entry)) {
        LPCSTR equals = strchr(entry, '=');
        if (equals == nullptr) continue;
        CHAR name[32], value[64];
        CopyTrimmed(name, sizeof name, entry, static_cast<size_t>(equals - entry));
        CopyTrimmed(value, sizeof value, equals + 1, strlen(equals + 1));
        if (CompareTextNoCase(name, "Pe32Plus") == 0)
            gScanRules.fPe32Plus = IsOnValue(value);
        else if (CompareTextNoCase(name, "ImportsInAnySection") == 0)
            gScanRules.fImportsAnySection = IsOnValue(value);
        else if (CompareTextNoCase(name, "DelayLoadImports") == 0)
            gScanRules.fDelayLoadImports = IsOnValue(value);
        else if (CompareTextNoCase(name, "Subsystems") == 0)
            gScanRules.dwSubsystems = ParseSubsystems(value);
    }
}

void LoadScanningRules() {
    LPSTR list = nullptr;
    if (!ReadSettingsSection("Scanning", &list)) {
        ResetScanningRules();
        return;
    }
    ParseScanningRules(list);
    FreeLockedBuffer(list);
}

void ResetScanningRules() { gScanRules = {}; }

BOOL AnyScanningRule() {
    return gScanRules.fPe32Plus || gScanRules.fImportsAnySection || gScanRules.fDelayLoadImports ||
           gScanRules.dwSubsystems != 0;
}
