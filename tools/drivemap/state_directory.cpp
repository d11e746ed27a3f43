#include "state_directory.h"

#include "settings_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace drivemap {

// The default settings data file, data/PURGWELL.DAT, compiled in (embed_file.cmake).
extern const unsigned char kDefaultSettings[];
extern const std::size_t kDefaultSettingsSize;

namespace {

// Writes the default settings file to a temporary file of its own beside `settings` and links it
// into place, so that neither an interrupted run nor two first runs at once leave a partial file,
// and a file someone put there meanwhile is kept. A file system without hard links gets a rename.
bool WriteDefaultSettings(const std::filesystem::path &dir, const std::filesystem::path &settings, bool classic) {
    const std::string_view defaults(reinterpret_cast<const char *>(kDefaultSettings), kDefaultSettingsSize);
    const std::string content = classic ? WithoutSettingsSection(defaults, "Scanning") : std::string(defaults);
    std::string temporary = (dir / "PURGWELL.DAT.XXXXXX").string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const mode_t mask = umask(0);  // mkstemp makes the file 0600; it gets the usual 0666 less umask
    umask(mask);
    const bool complete = written == content.size() && fchmod(fd, 0666 & ~mask) == 0;
    bool placed = close(fd) == 0 && complete;
    if (placed && link(temporary.c_str(), settings.c_str()) != 0 && errno != EEXIST)
        placed = rename(temporary.c_str(), settings.c_str()) == 0;
    unlink(temporary.c_str());
    return placed;
}

}  // namespace

std::string DefaultStateDirectory() {
    const char *dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome != '\0') return std::string(dataHome) + "/drivemap";
    const char *home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd *user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : "/";
    }
    return std::string(home) + "/.local/share/drivemap";
}

std::optional<std::string> PrepareStateDirectory(const std::string &dir, bool classic, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path path = ec ? fs::path() : fs::canonical(dir, ec);
    if (ec || !fs::is_directory(path)) {
        error = "cannot create the state directory " + dir + (ec ? ": " + ec.message() : "");
        return std::nullopt;
    }
    const fs::path settings = path / "PURGWELL.DAT";
    if (!fs::exists(settings, ec) && !WriteDefaultSettings(path, settings, classic)) {
        error = "cannot write " + settings.string();
        return std::nullopt;
    }
    return path.string();
}

std::optional<std::string> ExistingStateDirectory(const std::string &dir) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::canonical(dir, ec);
    if (ec || !std::filesystem::is_directory(path, ec)) return std::nullopt;
    return path.string();
}

}  // namespace drivemap
