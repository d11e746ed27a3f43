// drivemap run as a program by the command-line tests: the outcome of a run, JSON output, and a
// fixture with a tree to map and a state directory.
#pragma once

#include <gtest/gtest.h>

#include "common/exe_builder.h"
#include "common/map_file_builder.h"
#include "common/temp_tree.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

using nlohmann::json;
constexpr auto npos = std::string::npos;

struct Outcome {
    int exitCode;
    std::string out, err;
};

// drivemap with `arguments` (shell words) after the shell text `prefix` (assignments, a ulimit, a
// command), run in the background.
class Process {
public:
    explicit Process(const std::string &arguments, const std::string &prefix = "") {
        const std::string command = prefix + " '" DRIVEMAP_EXECUTABLE "' " + arguments + " </dev/null >'" +
                                    capture_.Path("out") + "' 2>'" + capture_.Path("err") + "'";
        status_ = std::async(std::launch::async, [command] { return std::system(command.c_str()); });
    }
    bool Finished() const { return status_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
    Outcome Wait() {
        const int status = status_.get();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadHostFile(capture_.Path("out")), Err()};
    }
    std::string Err() const { return ReadHostFile(capture_.Path("err")); }

private:
    TempTree capture_;
    std::future<int> status_;
};

inline Outcome Drivemap(const std::string &arguments, const std::string &prefix = "") {
    return Process(arguments, prefix).Wait();
}

inline json Json(const Outcome &run) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return json::parse(run.out, nullptr, /*allow_exceptions=*/false);
}

inline std::string Canonical(const std::string &path) { return std::filesystem::canonical(path).string(); }

// Only printable ASCII and newlines: what a terminal shows, whatever it decodes.
inline bool PrintableAscii(const std::string &text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7f); });
}

// A command prefix under which root too is held to file permissions.
inline std::string WithoutPermissionBypass() {
    return geteuid() == 0
               ? "setpriv --inh-caps=-dac_override,-dac_read_search --bounding-set=-dac_override,-dac_read_search"
               : "";
}

inline void FillTree(TempTree &tree, int directories, int files) {
    for (int d = 0; d < directories; ++d)
        for (int f = 0; f < files; ++f)
            ASSERT_TRUE(tree.AddFile("dir" + std::to_string(d) + "/file" + std::to_string(f) + ".txt", "x"));
}

class DrivemapOnTree : public ::testing::Test {
protected:
    std::string Machine(const TempTree *tree = nullptr) const {
        return "--drive 'C=" + (tree ? tree : &tree_)->Root() + "' --state '" + state_.Root() + "' --quiet ";
    }
    json Totals() const { return Json(Drivemap(Machine() + "--json stats"))["total"]; }
    TempTree tree_, state_;
};
