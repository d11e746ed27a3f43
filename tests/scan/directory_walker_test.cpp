// The directory walker: event order and nesting, what is passed over, stopping, a full name
// buffer, and the current directory.
#include "common/drive_c_test.h"
#include "scan/directory_walker.h"
#include "support/message_pump.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char *const kEventNames[] = {"enter", "listed", "before", "leave"};

// Everything a walk reports, as "event path" lines in call order; file callbacks are "file path".
struct Recorder {
    std::vector<std::string> lines;
    int stopAtFile = 0;  // the file callback returns 0 on this call (1-based); 0: never
    int files = 0;
    bool badMask = false;

    static int WINAPI OnFile(void *context, char *path, FIND_DATA *find, LONG userValue) {
        auto *r = static_cast<Recorder *>(context);
        r->badMask |= find->dwSearchAttributes != 0x8017 || userValue != 7;
        r->lines.push_back("file " + std::string(path));
        return ++r->files != r->stopAtFile;
    }
    static int WINAPI OnDir(void *context, unsigned event, char *directory, char *unused, LONG) {
        auto *r = static_cast<Recorder *>(context);
        r->badMask |= unused[0] != '\0';
        r->lines.push_back(std::string(kEventNames[event]) + " " + directory);
        return 1;
    }
    DWORD Walk(const char *start, DWORD flags = 0x15) {
        return WalkDirectoryTree(this, start, "*.*", flags, OnFile, OnDir, 7);
    }
    size_t IndexOf(const std::string &line) const {
        return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
    }
    size_t Count(const std::string &prefix) const {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.starts_with(prefix); });
    }
};

std::string Parent(const std::string &path) {
    const size_t slash = path.rfind('\\');
    return slash == 2 ? path.substr(0, 3) : path.substr(0, slash);
}

// Each directory gets its four events in order; everything it holds is reported between its enter
// and listed events, and each subdirectory is walked between its parent's before and leave events.
void ExpectWellNested(const Recorder &r) {
    for (const std::string &line : r.lines) {
        const std::string path = line.substr(line.find(' ') + 1), parent = Parent(path);
        if (line.starts_with("enter ")) {
            const size_t at[] = {r.IndexOf(line), r.IndexOf("listed " + path), r.IndexOf("before " + path),
                                 r.IndexOf("leave " + path), r.lines.size()};
            for (int i = 0; i < 4; ++i) EXPECT_LT(at[i], at[i + 1]) << path << ", event " << i;
            if (path.size() > 3) {
                EXPECT_LT(r.IndexOf("file " + path), r.IndexOf("listed " + parent)) << path;
                EXPECT_LT(r.IndexOf("before " + parent), at[0]) << path;
                EXPECT_LT(at[3], r.IndexOf("leave " + parent)) << path;
            }
        } else if (line.starts_with("file ")) {
            EXPECT_LT(r.IndexOf("enter " + parent), r.IndexOf(line)) << path;
            EXPECT_LT(r.IndexOf(line), r.IndexOf("listed " + parent)) << path;
        }
    }
}

using DirectoryWalker = DriveCTest;

TEST_F(DirectoryWalker, ReportsEveryEntryNestedPassesOverDotDirectoriesAndKeepsTheCurrentDirectory) {
    for (const char *file : {"a.txt", "Sub/x.txt", "Sub/Deep/y.txt", ".cfg/hidden.txt", ".profile"})
        ASSERT_TRUE(tree_.AddFile(file));
    ASSERT_TRUE(tree_.AddDir("Empty"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Sub"));

    Recorder r;
    ASSERT_EQ(1u, r.Walk("C:\\"));
    ExpectWellNested(r);
    EXPECT_FALSE(r.badMask);
    EXPECT_EQ(4u, r.Count("enter "));  // C:\, Sub, Sub\Deep, Empty: not .cfg
    EXPECT_EQ(7u, r.Count("file "));   // a.txt, .profile, Sub, Empty, x.txt, Deep, y.txt
    EXPECT_LT(r.IndexOf("enter C:\\"), r.IndexOf("file C:\\.profile"));  // dot files are files
    EXPECT_EQ(r.lines.size(), r.IndexOf("file C:\\.cfg"));
    const size_t empty = r.IndexOf("enter C:\\Empty");
    EXPECT_EQ((std::vector<std::string>{"enter C:\\Empty", "listed C:\\Empty", "before C:\\Empty", "leave C:\\Empty"}),
              std::vector<std::string>(r.lines.begin() + empty, r.lines.begin() + empty + 4));

    // A start that cannot be entered makes no callback.
    ASSERT_TRUE(HostMachine_MapDrive('A', DRIVE_REMOVABLE, nullptr));
    Recorder none;
    EXPECT_EQ(0u, none.Walk("A:\\"));
    EXPECT_EQ(0u, none.Walk("C:\\Missing"));
    EXPECT_TRUE(none.lines.empty());
    // Neither kind of walk leaves the stop flag set or changes the current directory.
    EXPECT_EQ(0u, GetStopFlag());
    CHAR current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STREQ("C:\\Sub", current);

    // Without WALK_DIRS_AS_FILES directories reach only the directory callback; without
    // WALK_RECURSE only the start directory is listed; WALK_SET_STOP_AFTER leaves the flag set.
    Recorder filesOnly, flat;
    filesOnly.Walk("C:\\", 0x11);
    EXPECT_EQ(4u, filesOnly.Count("file "));
    flat.Walk("C:\\", 0x16);
    EXPECT_EQ(1u, flat.Count("enter "));
    EXPECT_EQ(1u, GetStopFlag());
}

TEST_F(DirectoryWalker, StopsAtAFileCallbackAndUnwindsWithLeaveEvents) {
    for (const char *file : {"D/f1", "D/f2", "D/f3", "D/f4", "D/f5"}) ASSERT_TRUE(tree_.AddFile(file));
    Recorder r;
    r.stopAtFile = 4;  // the directory D itself, then D's third entry
    ASSERT_EQ(1u, r.Walk("C:\\"));
    EXPECT_EQ(1u, GetStopFlag());
    std::vector<std::string> events;
    std::copy_if(r.lines.begin(), r.lines.end(), std::back_inserter(events),
                 [](const std::string &l) { return !l.starts_with("file "); });
    EXPECT_EQ(events, (std::vector<std::string>{"enter C:\\", "listed C:\\", "before C:\\", "enter C:\\D",
                                                "listed C:\\D", "leave C:\\"}));
    EXPECT_EQ(4u, r.Count("file "));
}

TEST_F(DirectoryWalker, WalksCompletelyWithAFullNameBuffer) {
    // 280 subdirectories with 240-character names fill the name buffer at the first level.
    for (int i = 0; i < 280; ++i) {
        const std::string name = std::string(236, 'n') + std::to_string(1000 + i);
        ASSERT_TRUE(tree_.AddFile(name + "/inner.txt"));
    }
    // Paths beyond 299 characters are passed over: the third 100-character level cannot be listed.
    const std::string hundred(100, 'h');
    ASSERT_TRUE(tree_.AddFile(hundred + "/" + hundred + "/" + hundred + "/lost.txt"));

    Recorder full;
    ASSERT_EQ(1u, full.Walk("C:\\"));
    EXPECT_EQ(1u + 280 + 2, full.Count("enter "));
    EXPECT_EQ(280u, full.Count("file C:\\n") - 280);  // each directory, and its inner.txt
    EXPECT_EQ(0u, full.Count("file C:\\" + hundred + "\\" + hundred + "\\" + hundred));
    for (const auto &line : full.lines) EXPECT_LT(line.size() - line.find(' ') - 1, 300u);
    ExpectWellNested(full);
}

}  // namespace
