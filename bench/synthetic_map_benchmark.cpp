// The in-memory work over a map of 1,000,000 entries, written as a map file by the tests' own
// writer: loading it, one DriveMap_GetEntry, one map-wide DriveMap_GetEntryReferences (a DLL in the
// System directory), DriveMap_GetFilesWithExtension and a recursive DriveMap_SearchDirectory of
// the whole drive.
//
// Drive C: holds WINDOWS\SYSTEM32\SHARED.DLL and 200 directories of 100 subdirectories each, with
// 49 files in each subdirectory; every seventh file is a program that references "shared" and
// "helper", every eleventh a DLL.
#include "common/map_file_builder.h"
#include "common/temp_tree.h"
#include "map_queries.h"
#include "exports/dll_main.h"
#include "host_machine.h"
#include "pwdvmp32.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <memory>
#include <string>

namespace {

constexpr int kTopDirectories = 200;
constexpr int kSubdirectories = 100;
constexpr int kFilesPerDirectory = 49;
const char kSystemDll[] = "C:\\WINDOWS\\SYSTEM32\\SHARED.DLL";
const char kDeepFile[] = "C:\\DIR199\\SUB99\\PROGRAM48.EXE";

MapFileRecord SyntheticFile(int index) {
    if (index % 7 == 6) return FileRecord("PROGRAM" + std::to_string(index) + ".EXE", 40960, {"shared", "helper"});
    if (index % 11 == 10) return FileRecord("LIBRARY" + std::to_string(index) + ".DLL", 20480);
    return FileRecord("DATA" + std::to_string(index) + ".TXT", 1000 + static_cast<uint32_t>(index));
}

// Blocks in breadth-first order, so that every parent block comes before its children.
MapFileDescription SyntheticMap(long &entries) {
    MapFileDrive drive{'C', {}};
    uint16_t next = 0;
    MapFileBlock root{next++, 0, {DirRecord("WINDOWS", 0)}};
    MapFileBlock windows{next++, root.wBlockId, {DirRecord("SYSTEM32", 0)}};
    root.records[0].wChildId = windows.wBlockId;
    MapFileBlock system{next++, windows.wBlockId, {FileRecord("SHARED.DLL", 65536)}};
    windows.records[0].wChildId = system.wBlockId;
    std::vector<MapFileBlock> tops, subs;
    for (int t = 0; t < kTopDirectories; ++t) {
        MapFileBlock top{next++, root.wBlockId, {}};
        root.records.push_back(DirRecord("DIR" + std::to_string(t), top.wBlockId));
        tops.push_back(std::move(top));
    }
    for (auto &top : tops) {
        for (int s = 0; s < kSubdirectories; ++s) {
            MapFileBlock sub{next++, top.wBlockId, {}};
            top.records.push_back(DirRecord("SUB" + std::to_string(s), sub.wBlockId));
            for (int f = 0; f < kFilesPerDirectory; ++f) sub.records.push_back(SyntheticFile(f));
            subs.push_back(std::move(sub));
        }
    }
    drive.blocks = {root, windows, system};
    for (auto &b : tops) drive.blocks.push_back(std::move(b));
    for (auto &b : subs) drive.blocks.push_back(std::move(b));
    entries = 0;
    for (const auto &block : drive.blocks) entries += static_cast<long>(block.records.size());
    MapFileDescription description;
    description.wNextBlockId = next;
    description.drives = {drive};
    return description;
}

struct SyntheticMapFile {
    std::unique_ptr<TempTree> program, drive;
    long entries = 0;
    std::string error;

    SyntheticMapFile() {
        program = std::make_unique<TempTree>(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr);
        drive = std::make_unique<TempTree>();
        program->AddFile("PWDRVMAP.DAT", BuildMapFile(SyntheticMap(entries)));
        HostMachine_Reset();
        HostMachine_MapDrive('C', DRIVE_FIXED, drive->Root().c_str());
        HostMachine_MapDrive('P', DRIVE_REMOVABLE, program->Root().c_str());
        HostMachine_SetModuleFileName("P:\\BENCH.EXE");
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        if (!DriveMap_ReadAll(0)) error = "the map file did not load: error " + std::to_string(DriveMap_GetError());
    }
    ~SyntheticMapFile() {
        DriveMap_FreeAll();
        DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
        HostMachine_Reset();
    }
};

SyntheticMapFile &Map() {
    static SyntheticMapFile map;
    return map;
}

void BM_Load1M(benchmark::State &state) {
    SyntheticMapFile &map = Map();
    if (!map.error.empty()) return state.SkipWithError(map.error.c_str());
    for (auto _ : state) {
        DriveMap_FreeAll();
        if (!DriveMap_ReadAll(0)) state.SkipWithError("load failed");
    }
    state.counters["entries"] = static_cast<double>(map.entries);
}

void BM_GetEntry1M(benchmark::State &state) {
    if (!Map().error.empty()) return state.SkipWithError(Map().error.c_str());
    for (auto _ : state) {
        EntryPosition position;
        benchmark::DoNotOptimize(DriveMap_GetEntry(0, kDeepFile, &position));
    }
}

void BM_GetEntryReferencesMapWide1M(benchmark::State &state) {
    if (!Map().error.empty()) return state.SkipWithError(Map().error.c_str());
    WORD count = 0;
    for (auto _ : state) count = QueryMapWideReferences(state, kSystemDll);
    state.counters["references"] = count;  // the block holds at most 8,191
}

void BM_GetFilesWithExtension1M(benchmark::State &state) {
    if (!Map().error.empty()) return state.SkipWithError(Map().error.c_str());
    for (auto _ : state) {
        LPSTR list = nullptr;
        if (!DriveMap_GetFilesWithExtension("dll", &list)) state.SkipWithError("search failed");
        if (list != nullptr) ReleaseGlobal(list);
    }
}

int WINAPI CountFile(void *context, char *, FIND_DATA *, LONG) {
    ++*static_cast<long *>(context);
    return 1;
}

void BM_SearchDirectory1M(benchmark::State &state) {
    if (!Map().error.empty()) return state.SkipWithError(Map().error.c_str());
    long files = 0;
    for (auto _ : state) {
        files = 0;
        DriveMap_SearchDirectory(&files, "C:\\", "*.*", WALK_RECURSE, CountFile, nullptr, 0);
    }
    state.counters["files"] = static_cast<double>(files);
}

BENCHMARK(BM_Load1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetEntry1M)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetEntryReferencesMapWide1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFilesWithExtension1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchDirectory1M)->Unit(benchmark::kMillisecond);

}  // namespace
