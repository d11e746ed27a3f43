// A fresh host directory tree for file-system tests: created empty under `parent` (by default
// $TMPDIR, or /tmp), filled through the Add* calls with paths relative to its root, removed with
// everything in it when the object goes away.
#pragma once

#include <string>

class TempTree {
public:
    explicit TempTree(const char *parent = nullptr);
    ~TempTree();
    TempTree(const TempTree &) = delete;
    TempTree &operator=(const TempTree &) = delete;
    const std::string &Root() const { return root_; }
    std::string Path(const std::string &relative) const;  // host path below the root
    // Each returns true on success; missing parent directories are created.
    bool AddFile(const std::string &relative, const std::string &content = std::string());
    bool AddDir(const std::string &relative);
    bool AddSymlink(const std::string &relative, const std::string &target);
    bool AddFifo(const std::string &relative);
    std::string ReadFile(const std::string &relative) const;  // "" when unreadable
    bool Exists(const std::string &relative) const;           // lstat: links count themselves

private:
    bool MakeParents(const std::string &relative);
    std::string root_;
};
