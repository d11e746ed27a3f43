#include "state_directory.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace drivemap {

// The default settings data file, data/PURGWELL.DAT, compiled in (embed_file.cmake).
extern const unsigned char kDefaultSettings[];
extern const std::size_t kDefaultSettingsSize;

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

std::optional<std::string> PrepareStateDirectory(const std::string &dir, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path path = ec ? fs::path() : fs::canonical(dir, ec);
    if (ec || !fs::is_directory(path)) {
        error = "cannot create the state directory " + dir + (ec ? ": " + ec.message() : "");
        return std::nullopt;
    }
    const fs::path settings = path / "PURGWELL.DAT";
    if (!fs::exists(settings, ec)) {
        // Written beside and renamed, so that an interrupted first run leaves no partial file.
        const fs::path temporary = path / "PURGWELL.DAT.new";
        std::ofstream out(temporary, std::ios::binary);
        out.write(reinterpret_cast<const char *>(kDefaultSettings), static_cast<std::streamsize>(kDefaultSettingsSize));
        out.close();
        if (!out || (fs::rename(temporary, settings, ec), ec)) {
            fs::remove(temporary, ec);
            error = "cannot write " + settings.string();
            return std::nullopt;
        }
    }
    return path.string();
}

}  // namespace drivemap
