#include "references/string_list_sort.h"

#include "pwdvmp32.h"
#include "support/path_utils.h"

#include <cstdint>
#include <cstring>

namespace {

// The string `*offset` bytes past the 32-bit base address, as the exported comparers receive it.
LPCSTR StringAt(const void *offset, DWORD base) {
    DWORD value;
    std::memcpy(&value, offset, sizeof value);
    return reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<DWORD>(base + value)));
}

}  // namespace

extern "C" {

int WINAPI CompareListEntries(void *a, void *b, DWORD base) {
    LPCSTR first = StringAt(a, base);
    LPCSTR second = StringAt(b, base);
    if (first == nullptr || second == nullptr) return -2;
    return lstrcmpiA(first, second);
}

// The same comparison without the test for a null address, for callers that know their lists.
int WINAPI CompareListEntriesHuge(void *a, void *b, DWORD base) {
    return lstrcmpiA(StringAt(a, base), StringAt(b, base));
}

}  // extern "C"

void ShellSort(void *base, DWORD count, DWORD cbRecord, ShellSortCompare compare, DWORD context) {
    BYTE *records = static_cast<BYTE *>(base);
    for (DWORD gap = count / 2; gap != 0; gap /= 2) {
        for (DWORD i = gap; i < count; ++i) {
            DWORD j = i - gap;
            for (;;) {
                BYTE *left = records + static_cast<size_t>(j) * cbRecord;
                BYTE *right = records + static_cast<size_t>(j + gap) * cbRecord;
                if (compare(left, right, context) <= 0) break;
                for (DWORD k = 0; k < cbRecord; ++k) {
                    const BYTE kept = left[k];
                    left[k] = right[k];
                    right[k] = kept;
                }
                if (j < gap) break;
                j -= gap;
            }
        }
    }
}

void SortStringList(LPSTR list, DWORD cbGap) {
    // The entries are sorted as 32-bit offsets from a 32-bit base, which only global memory has.
    if (list == nullptr || reinterpret_cast<uintptr_t>(list) > 0xFFFFFFFFu || IsBadReadPtr(list, 4)) return;
    DWORD cbTotal = 0;
    DWORD cEntries = 0;
    MeasureStringList(list, cbGap, &cbTotal, &cEntries);
    if (cEntries < 2) return;

    DWORD cbOffsets = cEntries * static_cast<DWORD>(sizeof(DWORD));
    DWORD *offsets = static_cast<DWORD *>(AllocLockedBuffer(&cbOffsets, /*cbStep=*/0));
    if (offsets == nullptr) return;
    LPCSTR pos = list;
    for (DWORD i = 0; i < cEntries; ++i) {
        offsets[i] = static_cast<DWORD>(pos - list);
        pos = NextListString(pos) + cbGap;
    }
    ShellSort(offsets, cEntries, sizeof(DWORD), CompareListEntries,
              static_cast<DWORD>(reinterpret_cast<uintptr_t>(list)));

    DWORD cbSorted = cbTotal + 10;
    LPSTR sorted = static_cast<LPSTR>(AllocLockedBuffer(&cbSorted, /*cbStep=*/0));
    if (sorted != nullptr) {
        LPSTR out = sorted;
        for (DWORD i = 0; i < cEntries; ++i) {
            LPCSTR entry = list + offsets[i];
            const size_t cbEntry = std::strlen(entry) + 1 + cbGap;
            std::memcpy(out, entry, cbEntry);
            out += cbEntry;
        }
        std::memcpy(list, sorted, cbTotal);
        FreeLockedBuffer(sorted);
    }
    FreeLockedBuffer(offsets);
}
