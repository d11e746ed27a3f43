// The queries over the map of this machine's root file system, built once: one map-wide
// DriveMap_GetEntryReferences (a DLL in the System directory, whose query searches every drive)
// and one DriveMap_GetEntry of the same file. The Windows and System directories are the MinGW
// runtime's directories, so the query has PE files to find; the program directory, which holds
// the map file and the settings data file, is a removable drive on a memory file system, outside
// the mapped one.
#include "common/temp_tree.h"
#include "map_queries.h"
#include "exports/dll_main.h"
#include "host_machine.h"
#include "pwdvmp32.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

const char kWindowsDirectory[] = "C:\\usr\\i686-w64-mingw32";
const char kSystemDirectory[] = "C:\\usr\\i686-w64-mingw32\\lib";
const char kSystemDll[] = "C:\\usr\\i686-w64-mingw32\\lib\\libwinpthread-1.dll";

bool SameFileSystem(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

struct RootMap {
    std::unique_ptr<TempTree> program;
    std::string error;  // why there is no map
    long files = 0, directories = 0;

    RootMap() {
        program = std::make_unique<TempTree>(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr);
        if (SameFileSystem(program->Root(), "/")) {
            error = "no memory file system outside / for the map file";
            return;
        }
        // The default settings, so that the build opens only files that may be executables.
        std::ifstream settings(std::string(PWDVMP32_SOURCE_DIR) + "/data/PURGWELL.DAT", std::ios::binary);
        program->AddFile("PURGWELL.DAT", std::string(std::istreambuf_iterator<char>(settings), {}));
        HostMachine_Reset();
        HostMachine_MapDrive('C', DRIVE_FIXED, "/");
        HostMachine_MapDrive('P', DRIVE_REMOVABLE, program->Root().c_str());
        HostMachine_SetModuleFileName("P:\\BENCH.EXE");
        HostMachine_SetWindowsDirectory(kWindowsDirectory);
        HostMachine_SetSystemDirectory(kSystemDirectory);
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        const BOOL built = DriveMap_BuildAll(this, CountFile, CountDirectory);
        EntryPosition position;
        if (!built)
            error = "the build of / failed with error " + std::to_string(DriveMap_GetError());
        else if (!DriveMap_GetEntry(0, kSystemDll, &position))
            error = std::string(kSystemDll) + " is not in the map";
    }
    ~RootMap() {
        DriveMap_FreeAll();
        DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
        HostMachine_Reset();
    }
    static int WINAPI CountFile(void *context, char *, FIND_DATA *, LONG) {
        ++static_cast<RootMap *>(context)->files;
        return 1;
    }
    static int WINAPI CountDirectory(void *context, unsigned event, char *, char *, LONG) {
        static_cast<RootMap *>(context)->directories += event == DIR_EVENT_ENTER;
        return 1;
    }
};

RootMap &Map() {
    static RootMap map;
    return map;
}

void BM_GetEntryReferencesMapWide(benchmark::State &state) {
    RootMap &map = Map();
    if (!map.error.empty()) return state.SkipWithError(map.error.c_str());
    WORD count = 0;
    for (auto _ : state) count = QueryMapWideReferences(state, kSystemDll);
    state.counters["references"] = count;
    state.counters["mapEntries"] = static_cast<double>(map.files);
    state.counters["mapDirectories"] = static_cast<double>(map.directories);
}

void BM_GetEntry(benchmark::State &state) {
    RootMap &map = Map();
    if (!map.error.empty()) return state.SkipWithError(map.error.c_str());
    for (auto _ : state) {
        EntryPosition position;
        benchmark::DoNotOptimize(DriveMap_GetEntry(0, kSystemDll, &position));
    }
}

BENCHMARK(BM_GetEntryReferencesMapWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetEntry)->Unit(benchmark::kMicrosecond);

}  // namespace
