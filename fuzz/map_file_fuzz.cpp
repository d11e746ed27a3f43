// The map file reader on arbitrary bytes: they become PWDRVMAP.DAT in the program's directory, the
// map is read and freed. Any crash, leak or out-of-bounds access is a finding.
#include "host_machine.h"
#include "pwdvmp32.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::string root;
    if (root.empty()) {
        char pattern[] = "/tmp/map_file_fuzz.XXXXXX";
        if (mkdtemp(pattern) == nullptr) abort();
        root = pattern;
    }
    HostMachine_Reset();
    HostMachine_MapDrive('C', DRIVE_FIXED, root.c_str());
    HostMachine_SetModuleFileName("C:\\APP.EXE");
    const std::string file = root + "/PWDRVMAP.DAT";
    FILE *f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) abort();
    if (size != 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    const unsigned long before = HostMachine_GlobalBlockCount();
    DriveMap_ReadAll(0);
    DriveMap_FreeAll();
    if (HostMachine_GlobalBlockCount() != before) abort();  // a read must leave nothing behind
    return 0;
}
