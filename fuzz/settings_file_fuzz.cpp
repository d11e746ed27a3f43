// Arbitrary bytes as the settings data file: the section reader must end, stay inside its chunk
// and list blocks, and hand back a closed multi-string list, whatever the file holds.
//
// Input: byte 0 picks the wanted section, byte 1 the memory limit (small limits shrink the chunk
// and list blocks, so that short inputs reach the chunk re-reading and the list cut), the rest is
// the file.
#include "host_machine.h"
#include "references/settings_file.h"
#include "references/string_list_sort.h"
#include "support/path_utils.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *TempRoot() {
    static char root[] = "/tmp/settings-fuzz-XXXXXX";
    static bool made = mkdtemp(root) != nullptr;
    return made ? root : nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const char *const names[] = {"A", "NonNEPEFiles", "SystemFiles", ""};
    const char *root = TempRoot();
    if (root == nullptr || size < 2) return 0;

    char hostPath[512];
    snprintf(hostPath, sizeof hostPath, "%s/PURGWELL.DAT", root);
    FILE *file = fopen(hostPath, "wb");
    if (file == nullptr) return 0;
    fwrite(data + 2, 1, size - 2, file);
    fclose(file);

    HostMachine_Reset();
    HostMachine_MapDrive('C', DRIVE_FIXED, root);
    if (data[1] != 0) HostMachine_LimitAllocations(2048ul + 256ul * data[1]);

    LPSTR list = ReadDataFileSection("C:\\PURGWELL.DAT", names[data[0] % 4], /*convertOem=*/data[0] & 4);
    if (list != nullptr) {
        // Global memory lies in the host's own arena, out of AddressSanitizer's sight: the list's
        // end is looked for within the block by hand.
        const SIZE_T cbBlock = GlobalSize(GlobalHandle(list));
        SIZE_T end = 0;
        while (end < cbBlock && !(list[end] == '\0' && (end == 0 || list[end - 1] == '\0'))) ++end;
        if (end >= cbBlock) abort();
        SortStringList(list, 0);
        FreeLockedBuffer(list);
    }
    HostMachine_Reset();
    return 0;
}
