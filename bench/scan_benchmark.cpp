// Building and synchronising the map of generated trees: directories of files with a few
// executables among them, on a memory file system when there is one, so that the library's own
// work is measured rather than the disk's.
#include "common/exe_builder.h"
#include "common/temp_tree.h"
#include "host_machine.h"
#include "pwdvmp32.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// A tree of `directories` directories (16 per level) holding `files` files each, one in 16 an
// executable; drive C is the tree, the program directory a removable drive P that is not walked.
struct BenchMachine {
    std::unique_ptr<TempTree> disk, program;
    long entries = 0;

    BenchMachine(int directories, int files) {
        if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
        disk = std::make_unique<TempTree>();
        program = std::make_unique<TempTree>();
        const std::string exe = BuildPeFile({.imports = {"shared.dll", "other.dll"}});
        for (int d = 0; d < directories; ++d) {
            std::string dir;
            for (int n = d; n > 0; n /= 16) dir = "dir" + std::to_string(n % 16) + "/" + dir;
            disk->AddDir(dir + "leaf");
            for (int f = 0; f < files; ++f)
                disk->AddFile(dir + "leaf/file-" + std::to_string(f) + (f % 16 == 0 ? ".exe" : ".txt"),
                              f % 16 == 0 ? exe : "some text");
            entries += files + 1;
        }
        HostMachine_Reset();
        HostMachine_MapDrive('C', DRIVE_FIXED, disk->Root().c_str());
        HostMachine_MapDrive('P', DRIVE_REMOVABLE, program->Root().c_str());
        HostMachine_SetModuleFileName("P:\\BENCH.EXE");
    }
    ~BenchMachine() {
        DriveMap_FreeAll();
        HostMachine_Reset();
    }
};

void BM_BuildAll(benchmark::State &state) {
    BenchMachine machine(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        if (!DriveMap_BuildAll(nullptr, nullptr, nullptr)) state.SkipWithError("build failed");
    state.SetItemsProcessed(state.iterations() * machine.entries);
}

void BM_SyncUnchanged(benchmark::State &state) {
    BenchMachine machine(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    DriveMap_BuildAll(nullptr, nullptr, nullptr);
    for (auto _ : state)
        if (!DriveMap_SyncAll(nullptr, nullptr, nullptr)) state.SkipWithError("sync failed");
    state.SetItemsProcessed(state.iterations() * machine.entries);
}

// A sync into an empty map makes every block, each searching the chain for a free id.
void BM_SyncIntoEmptyMap(benchmark::State &state) {
    BenchMachine machine(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        DriveMap_FreeAll();
        state.ResumeTiming();
        if (!DriveMap_SyncAll(nullptr, nullptr, nullptr)) state.SkipWithError("sync failed");
    }
    state.SetItemsProcessed(state.iterations() * machine.entries);
}

BENCHMARK(BM_BuildAll)->Args({256, 64})->Args({4096, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyncUnchanged)->Args({256, 64})->Args({4096, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyncIntoEmptyMap)->Args({1024, 4})->Args({4096, 4})->Unit(benchmark::kMillisecond);

}  // namespace
