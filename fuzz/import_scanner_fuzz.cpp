// Arbitrary bytes as an executable file: the import scanner must stay inside its buffers and the
// caller's list, and on success hand back a list closed by two NULs, whatever the file holds.
//
// Byte 0 chooses the scanning rules (bit 0 PE32+, 1 imports in any section, 2 delay-load imports,
// 3 character-mode subsystems); the rest is the file, C:\F.EXE on a temporary drive. A settings
// data file beside the running program lists a few system modules, so that every kept name also
// goes through the system-files lookup.
#include "host_machine.h"
#include "references/import_scanner.h"
#include "references/never_scanned_list.h"
#include "references/scanning_rules.h"
#include "references/settings_lists.h"
#include "store/module_state.h"

#include <initializer_list>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char gRoot[] = "/tmp/import-scanner-fuzz-XXXXXX";

// The temporary drive goes when the run ends.
static void RemoveTempRoot() {
    char path[512];
    for (const char *name : {"F.EXE", "PURGWELL.DAT"}) {
        snprintf(path, sizeof path, "%s/%s", gRoot, name);
        unlink(path);
    }
    rmdir(gRoot);
}

static const char *TempRoot() {
    static bool made = mkdtemp(gRoot) != nullptr && atexit(RemoveTempRoot) == 0;
    return made ? gRoot : nullptr;
}

static bool WriteHostFile(const char *root, const char *name, const void *data, size_t size) {
    char path[512];
    snprintf(path, sizeof path, "%s/%s", root, name);
    FILE *file = fopen(path, "wb");
    if (file == nullptr) return false;
    fwrite(data, 1, size, file);
    fclose(file);
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const char settings[] = "[SystemFiles]\r\nkernel32\r\nuser\r\ngdi.exe\r\n\r\n";
    if (size == 0) return 0;
    const uint8_t rules = data[0];
    data++, size--;
    const char *root = TempRoot();
    if (root == nullptr || !WriteHostFile(root, "F.EXE", data, size) ||
        !WriteHostFile(root, "PURGWELL.DAT", settings, sizeof settings - 1))
        return 0;

    HostMachine_Reset();
    HostMachine_MapDrive('C', DRIVE_FIXED, root);
    HostMachine_SetModuleFileName("C:\\HOST.EXE");
    gScanRules = {
        (rules & 1) != 0, (rules & 2) != 0, (rules & 4) != 0,
        (rules & 8) != 0 ? (1u << SUBSYSTEM_WINDOWS_CUI | 1u << SUBSYSTEM_OS2_CUI | 1u << SUBSYSTEM_POSIX_CUI) : 0};

    // An exact-size heap block, so that the sanitizer sees any write past the list.
    const DWORD cbList = SCAN_NAME_BUFFER_SIZE;
    char *list = (char *)malloc(cbList);
    DWORD kind = 0xFFFF;
    if (GetFileReferences("C:\\F.EXE", &kind, list, cbList)) {
        if (kind != EXE_KIND_NE && kind != EXE_KIND_PE) abort();
        size_t pos = 0;
        while (pos < cbList && list[pos] != '\0') pos += strnlen(list + pos, cbList - pos) + 1;
        if (pos + 1 >= cbList || list[pos + 1] != '\0') abort();
    } else if (kind != 0xFFFF) {
        abort();
    }
    free(list);
    FreeScanBuffers();
    FreeSystemFilesList();
    ResetScanningRules();
    HostMachine_Reset();
    return 0;
}
