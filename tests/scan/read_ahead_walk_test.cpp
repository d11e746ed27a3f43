// Walks with listings read ahead on a second thread: every callback as without it, and a change
// made between two walks, or during one, seen by the walk that comes to it.
#include "common/drive_c_test.h"
#include "scan/directory_walker.h"
#include "support/message_pump.h"

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every callback of a walk with the fields a map keeps of each entry.
struct Recorder {
    std::vector<std::string> lines;
    std::string stopAtDirectory;                      // the walk stops once this directory has been listed
    std::function<void(const std::string &)> listed;  // called once each directory has been listed

    static int WINAPI OnFile(void *context, char *path, FIND_DATA *find, LONG) {
        static_cast<Recorder *>(context)->lines.push_back(
            std::string(path) + " [" + find->cFileName + "|" + find->cAlternateFileName + "] attr " +
            std::to_string(find->dwFileAttributes) + " size " + std::to_string(find->nFileSizeLow) + " written " +
            std::to_string(find->wLastWriteDate) + "/" + std::to_string(find->wLastWriteTime));
        return 1;
    }
    static int WINAPI OnDir(void *context, unsigned event, char *directory, char *, LONG) {
        auto *r = static_cast<Recorder *>(context);
        r->lines.push_back(std::to_string(event) + " " + directory);
        if (event == DIR_EVENT_BEFORE_SUBDIRS && r->listed) r->listed(directory);
        return event != DIR_EVENT_BEFORE_SUBDIRS || r->stopAtDirectory != directory;
    }
    void Walk(const char *start) {
        lines.clear();
        ASSERT_EQ(1u, WalkDirectoryTree(this, start, "*.*", 0x17, OnFile, OnDir, 0));
    }
};

class ReadAheadWalk : public DriveCTest {
protected:
    void TearDown() override {
        HostMachine_LimitAllocations(0);
        DriveCTest::TearDown();
    }
    void AddFiles(std::initializer_list<const char *> paths, const std::string &content) {
        for (const char *path : paths) ASSERT_TRUE(tree_.AddFile(path, content));
    }
};

TEST_F(ReadAheadWalk, ReportsEveryCallbackAsAWalkWithoutIt) {
    for (const char *file :
         {"a.txt", "Program Files/Long File Name.text", "Program Files/Sub/deep/x.exe", "Docs/one.doc", "Docs/two.doc",
          "Docs/Inner/three.doc", ".hidden/skipped.txt", "Docs/.git/objects/ab/cd", "Twins/CASE", "Twins/case",
          "Twins/Case/inside.txt", "Empty/.keep"})
        ASSERT_TRUE(tree_.AddFile(file, "some bytes"));
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(tree_.AddDir("Wide/level-" + std::to_string(i) + "/below"));
    Recorder without, with;
    without.Walk("C:\\");
    for (const int mode : {HOST_READ_AHEAD_ALL, HOST_READ_AHEAD_NOT_DOT_DIRECTORIES}) {
        SCOPED_TRACE(mode);
        HostMachine_ReadAheadListings(mode);
        with.Walk("C:\\");
        EXPECT_EQ(without.lines, with.lines);

        // Without a name buffer every level lists its directory again, out of the walk's order.
        HostMachine_LimitAllocations(1024);
        with.Walk("C:\\");
        EXPECT_EQ(without.lines, with.lines);
        HostMachine_LimitAllocations(0);
    }
}

// The first walk stops once the worker may have read every directory ahead; the files then change
// in place, which leaves their directories' stats as they were, and entries are added to another.
TEST_F(ReadAheadWalk, ChangesMadeBetweenTwoWalksAreSeenByTheSecond) {
    AddFiles({"A/f.txt", "A/Deeper/g.txt", "B/h.txt"}, "1");
    HostMachine_ReadAheadListings(HOST_READ_AHEAD_ALL);
    Recorder first;
    first.stopAtDirectory = "C:\\";
    first.Walk("C:\\");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    AddFiles({"A/f.txt", "A/Deeper/g.txt"}, "12345");
    ASSERT_TRUE(tree_.AddFile("B/new.txt"));

    Recorder second, fresh;
    second.Walk("C:\\A");
    const std::vector<std::string> fromA = second.lines;
    second.Walk("C:\\");
    HostMachine_ReadAheadListings(HOST_READ_AHEAD_OFF);
    fresh.Walk("C:\\A");
    EXPECT_EQ(fresh.lines, fromA);
    fresh.Walk("C:\\");
    EXPECT_EQ(fresh.lines, second.lines);
}

// The worker has read a directory, and keeps the descriptor it read it with, when the directory is
// moved away and another takes its name: the walk lists the one that has the name when it gets there.
TEST_F(ReadAheadWalk, ADirectoryReplacedAfterItWasReadAheadIsListedAsItIsNow) {
    AddFiles({"A/old.txt", "A/Sub/old.txt", "B/b.txt"}, "1");
    HostMachine_ReadAheadListings(HOST_READ_AHEAD_ALL);
    Recorder walk;
    walk.listed = [&](const std::string &directory) {
        if (directory != "C:\\") return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(0, rename(tree_.Path("A").c_str(), tree_.Path("B/Moved").c_str()));
        AddFiles({"A/new.txt", "A/Sub/new.txt"}, "22");
    };
    walk.Walk("C:\\");
    const auto logged = [&](const std::string &path) {
        return std::any_of(walk.lines.begin(), walk.lines.end(),
                           [&](const std::string &line) { return line.rfind(path + " [", 0) == 0; });
    };
    EXPECT_TRUE(logged("C:\\A\\new.txt"));
    EXPECT_TRUE(logged("C:\\A\\SUB\\new.txt") || logged("C:\\A\\Sub\\new.txt"));
    EXPECT_FALSE(logged("C:\\A\\old.txt"));
    EXPECT_FALSE(logged("C:\\A\\Sub\\old.txt"));
    EXPECT_TRUE(logged("C:\\B\\Moved\\old.txt"));
}

}  // namespace
