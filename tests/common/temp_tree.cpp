#include "common/temp_tree.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

TempTree::TempTree(const char *parent) {
    if (parent == nullptr) parent = getenv("TMPDIR");
    std::string pattern = std::string(parent != nullptr && *parent != '\0' ? parent : "/tmp") + "/pwdvmp32-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
}

TempTree::~TempTree() {
    if (root_.empty()) return;
    std::error_code ignored;
    // Give every directory its permissions back first, so that a test's mode-000 directory cannot
    // keep the tree alive when the tests do not run as root.
    for (auto it = std::filesystem::recursive_directory_iterator(
             root_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) chmod(it->path().c_str(), 0700);
    }
    chmod(root_.c_str(), 0700);
    std::filesystem::remove_all(root_, ignored);
}

std::string TempTree::Path(const std::string &relative) const {
    return relative.empty() ? root_ : root_ + "/" + relative;
}

bool TempTree::MakeParents(const std::string &relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? !root_.empty() : AddDir(relative.substr(0, slash));
}

bool TempTree::AddFile(const std::string &relative, const std::string &content) {
    if (!MakeParents(relative)) return false;
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

bool TempTree::AddDir(const std::string &relative) {
    std::error_code error;
    std::filesystem::create_directories(Path(relative), error);
    return !error;
}

bool TempTree::AddSymlink(const std::string &relative, const std::string &target) {
    return MakeParents(relative) && symlink(target.c_str(), Path(relative).c_str()) == 0;
}

bool TempTree::AddFifo(const std::string &relative) {
    return MakeParents(relative) && mkfifo(Path(relative).c_str(), 0644) == 0;
}

std::string TempTree::ReadFile(const std::string &relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempTree::Exists(const std::string &relative) const {
    struct stat st;
    return lstat(Path(relative).c_str(), &st) == 0;
}
