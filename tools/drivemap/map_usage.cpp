#include "map_usage.h"

#include <algorithm>
#include <unordered_map>

namespace drivemap {

namespace {

bool LargerFirst(const UsageEntry &a, const UsageEntry &b) {
    return a.size != b.size ? a.size > b.size : a.path < b.path;
}

}  // namespace

std::string JoinWindowsPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    return path;
}

void UsageCounter::KeepFile(const File &file) {
    const auto smallerOnTop = [](const File &a, const File &b) { return a.size > b.size; };
    if (largestFiles_.size() < top_) {
        largestFiles_.push_back(file);
        std::push_heap(largestFiles_.begin(), largestFiles_.end(), smallerOnTop);
    } else if (top_ > 0 && file.size > largestFiles_.front().size) {
        std::pop_heap(largestFiles_.begin(), largestFiles_.end(), smallerOnTop);
        largestFiles_.back() = file;
        std::push_heap(largestFiles_.begin(), largestFiles_.end(), smallerOnTop);
    }
}

void UsageCounter::AddTree(const BYTE *block, const std::string &path, bool asEntry) {
    const auto tree = static_cast<uint32_t>(trees_.size());
    trees_.push_back({path, asEntry});
    const auto top = static_cast<uint32_t>(directories_.size());
    directories_.push_back({kNoParent, tree, {}, 0});
    if (block == nullptr) return;
    // The directory each block belongs to, entered when its record is read and taken out when the
    // walk reaches the block.
    std::unordered_map<const BYTE *, uint32_t> blockDirectory{{block, top}};
    uint32_t current = top;
    WalkBlocks(
        block, std::string(), /*withPaths=*/false,
        [&](const BYTE *walked) {
            const auto found = blockDirectory.find(walked);
            current = found->second;
            blockDirectory.erase(found);
        },
        [&](const BYTE *record, WORD cbRecord, const std::string &) {
            const WORD wFlags = LoadField<WORD>(record + offsetof(EntryRecord, wFlags));
            const std::string_view name = RecordName(record, cbRecord);
            if (wFlags & ENTRY_IS_FILE) {
                const DWORD size = LoadField<DWORD>(record + offsetof(EntryRecord, u1));
                ++cFiles_;
                directories_[current].size += size;
                KeepFile({size, current, name});
                return;
            }
            ++cDirectories_;
            const auto index = static_cast<uint32_t>(directories_.size());
            directories_.push_back({current, tree, name, 0});
            if (const BYTE *child = LoadPtr32(record + offsetof(EntryRecord, u1))) blockDirectory.emplace(child, index);
        });
}

std::string UsageCounter::DirectoryPath(uint32_t index) const {
    const Directory &directory = directories_[index];
    if (directory.parent == kNoParent) return trees_[directory.tree].path;
    return JoinWindowsPath(DirectoryPath(directory.parent), directory.name);
}

DiskUsage UsageCounter::Finish() {
    DiskUsage usage;
    usage.cFiles = cFiles_;
    usage.cDirectories = cDirectories_;
    // A directory comes after its parent, so one pass from the end totals every subtree.
    for (size_t i = directories_.size(); i-- > 0;) {
        const Directory &directory = directories_[i];
        if (directory.parent != kNoParent)
            directories_[directory.parent].size += directory.size;
        else
            total_ += directory.size;
    }
    usage.total = total_;

    std::vector<uint32_t> candidates;
    for (uint32_t i = 0; i < directories_.size(); ++i)
        if (directories_[i].parent != kNoParent || trees_[directories_[i].tree].asEntry) candidates.push_back(i);
    const size_t cKept = std::min(top_, candidates.size());
    // Equal sizes are ordered by path afterwards; which of them make the cut follows the walk.
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(cKept), candidates.end(),
                      [&](uint32_t a, uint32_t b) { return directories_[a].size > directories_[b].size; });
    for (size_t i = 0; i < cKept; ++i)
        usage.largest.push_back({DirectoryPath(candidates[i]), directories_[candidates[i]].size, true});
    for (const File &file : largestFiles_)
        usage.largest.push_back({JoinWindowsPath(DirectoryPath(file.directory), file.name), file.size, false});
    std::sort(usage.largest.begin(), usage.largest.end(), LargerFirst);
    if (usage.largest.size() > top_) usage.largest.resize(top_);
    return usage;
}

}  // namespace drivemap
