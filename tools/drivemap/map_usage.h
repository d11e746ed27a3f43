// How much the directories and files of the map take, by the sizes the map holds: a directory's
// size is the total of the files below it. Counted in one walk of each tree through the public
// record layouts; only the largest entries get their paths built.
#pragma once

#include "map_records.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drivemap {

struct UsageEntry {
    std::string path;  // a Windows path; a directory's without its final backslash unless a root
    uint64_t size = 0;
    bool directory = false;
};

struct DiskUsage {
    uint64_t total = 0;               // the sizes of every file counted
    uint64_t cFiles = 0;              // file records below the trees
    uint64_t cDirectories = 0;        // directory records below the trees (not the trees' own directories)
    std::vector<UsageEntry> largest;  // at most `top` entries, largest first, then by path
};

class UsageCounter {
public:
    explicit UsageCounter(size_t top) : top_(top) {}

    // Counts the tree of the directory at `path` ("C:\", "C:\DIR") whose block is `block` (null
    // for a directory without one). With `asEntry` the directory itself may be one of the largest
    // (the drives, when every drive is counted); otherwise only what lies below it.
    void AddTree(const BYTE *block, const std::string &path, bool asEntry);

    // Counts the size of one file given as the tree itself.
    void AddFile(uint64_t size) { total_ += size; }

    DiskUsage Finish();

private:
    static constexpr uint32_t kNoParent = UINT32_MAX;

    struct Directory {
        uint32_t parent;        // index in directories_, or kNoParent for a tree's own directory
        uint32_t tree;          // index in trees_
        std::string_view name;  // the record's name, in the loaded map
        uint64_t size;          // the files directly in it; below it too once totalled
    };
    struct File {
        uint64_t size;
        uint32_t directory;
        std::string_view name;
    };
    struct Tree {
        std::string path;
        bool asEntry;
    };

    std::string DirectoryPath(uint32_t index) const;
    void KeepFile(const File &file);

    size_t top_;
    uint64_t total_ = 0, cFiles_ = 0, cDirectories_ = 0;
    std::vector<Directory> directories_;
    std::vector<Tree> trees_;
    std::vector<File> largestFiles_;  // a min-heap of at most top_ files, by size
};

// `directory` ("C:\DIR\" or "C:\DIR") and `name` joined by one backslash.
std::string JoinWindowsPath(std::string_view directory, std::string_view name);

}  // namespace drivemap
