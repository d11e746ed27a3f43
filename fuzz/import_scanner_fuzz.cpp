// Arbitrary bytes as an executable file: the import scanner must stay inside its buffers and the
// caller's list, and on success hand back a list closed by two NULs, whatever the file holds.
//
// The file is C:\F.EXE on a temporary drive; a settings data file beside the running program lists
// a few system modules, so that every kept name also goes through the system-files lookup.
#include "host_machine.h"
#include "references/import_scanner.h"
#include "references/never_scanned_list.h"
#include "references/settings_lists.h"

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
    const char *root = TempRoot();
    if (root == nullptr || !WriteHostFile(root, "F.EXE", data, size) ||
        !WriteHostFile(root, "PURGWELL.DAT", settings, sizeof settings - 1))
        return 0;

    HostMachine_Reset();
    HostMachine_MapDrive('C', DRIVE_FIXED, root);
    HostMachine_SetModuleFileName("C:\\HOST.EXE");

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
    HostMachine_Reset();
    return 0;
}
