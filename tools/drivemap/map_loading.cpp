#include "map_loading.h"

#include "pwdvmp32_errors.h"
#include "text_output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace drivemap {

int Fail(const std::string &message, int exitCode) {
    PrintMessage(message);
    return exitCode;
}

int ReportLibraryError(DWORD code, const std::string &hint) {
    PrintMessage("error " + std::to_string(code) + ": " + DriveMapErrorText(code));
    if (!hint.empty()) PrintMessage(hint);
    return kExitLibraryError;
}

namespace {

// A file descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

const char *KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "something other than a regular file";
}

// Anything but a regular file where the map file belongs is someone else's: drivemap neither reads
// it nor saves over it.
std::string NotAMapFileMessage(const std::string &path, mode_t mode) {
    return path + " is " + KindOfFile(mode) +
           ", not a map file: drivemap neither reads it nor replaces it; move it out of the way first";
}

}  // namespace

bool MapFilePlaceIsFree(const StatePlace &state, int &exitCode) {
    struct stat st;
    if (lstat(state.MapFile().c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
    exitCode = Fail(NotAMapFileMessage(state.MapFile(), st.st_mode));
    return false;
}

void WarnDamage(const StatePlace &state, const LoadedMap &map) {
    std::string message = "the map file " + state.MapFile() + " is damaged: ";
    if (!map.headProblem.empty()) {
        PrintMessage(message + map.headProblem);
        return;
    }
    message +=
        "blocks whose parent block is missing were dropped when it was loaded, with the directories and "
        "files in them";
    for (const auto &d : map.dropped)
        message += "\n  drive " + std::string(1, d.chLetter) + ": " + std::to_string(d.cDeclared - d.cLoaded) +
                   " of its " + std::to_string(d.cDeclared) + " directory blocks dropped";
    PrintMessage(message);
}

nlohmann::json DamageJson(const StatePlace &state, const LoadedMap &map) {
    if (!map.Damaged()) return nullptr;
    nlohmann::json drives = nlohmann::json::array();
    for (const auto &d : map.dropped)
        drives.push_back({{"letter", std::string(1, d.chLetter) + ":"},
                          {"blocksInFile", d.cDeclared},
                          {"blocksLoaded", d.cLoaded},
                          {"blocksDropped", d.cDeclared - d.cLoaded}});
    nlohmann::json out = {{"mapFile", state.MapFile()}, {"drives", drives}};
    if (!map.headProblem.empty()) out["problem"] = map.headProblem;
    return out;
}

// Reads the map file's head from `fd` and compares its block counts with the loaded map.
static void CheckLoadedMap(int fd, const struct stat &st, GetEntryFunction getEntry, LoadedMap &map) {
    map.drives = CollectMapStatistics(getEntry);
    uint8_t head[kMapFileHeadMaxBytes];
    const ssize_t cbHead = pread(fd, head, sizeof head, 0);
    std::string problem;
    const auto parsed =
        cbHead < 0 ? std::nullopt
                   : ParseMapFileHead(head, static_cast<size_t>(cbHead), static_cast<uint64_t>(st.st_size), problem);
    if (!parsed) {
        map.headProblem = cbHead < 0 ? std::string("its head cannot be read back: ") + std::strerror(errno) : problem;
        return;
    }
    map.dropped = FindDroppedBlocks(*parsed, map.drives);
}

// Loads the saved map; false after reporting why not. The file is opened here first, so that a
// place that holds no readable map file gets its own message, and its head is read from that
// descriptor; the load is repeated if another run replaced the file while the library read it.
bool LoadMap(const LibraryExports &library, const StatePlace &state, const std::string &buildCommand, LoadedMap &map,
             int &exitCode) {
    const std::string path = state.MapFile();
    for (int attempt = 0; attempt < 5; ++attempt) {
        Descriptor file;
        struct stat st {};
        file.fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const int openError = errno;
        if (file.fd < 0 && openError != ENOENT) {
            struct stat linkSt;
            if (lstat(path.c_str(), &linkSt) == 0 && !S_ISREG(linkSt.st_mode))
                exitCode = Fail(NotAMapFileMessage(path, linkSt.st_mode));
            else
                exitCode = Fail("cannot read the map file " + path + ": " + std::strerror(openError));
            return false;
        }
        if (file.fd >= 0 && (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            exitCode = Fail(NotAMapFileMessage(path, st.st_mode));
            return false;
        }

        if (!library.ReadAll(0)) {
            const DWORD code = library.GetError();
            if (code == DRIVEMAP_NOT_FOUND && file.fd >= 0)
                exitCode = ReportLibraryError(code, "the library could not open the map file " + path);
            else if (code == DRIVEMAP_NOT_FOUND)
                exitCode =
                    ReportLibraryError(code, "no map in " + state.hostDir + " yet: `" + buildCommand + "` builds it");
            else if (code == DRIVEMAP_FILE_DAMAGED || code == DRIVEMAP_OLD_VERSION)
                exitCode = ReportLibraryError(code, "`" + buildCommand + "` makes a new map");
            else
                exitCode = ReportLibraryError(code);
            return false;
        }
        // The library read the file this descriptor holds only if the name still leads to it: a
        // file held open keeps its inode, so no other file can come to carry it meanwhile.
        struct stat now;
        if (file.fd >= 0 && lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            CheckLoadedMap(file.fd, st, library.GetEntry, map);
            return true;
        }
        library.FreeAll();
    }
    exitCode = Fail("the map file " + path + " kept changing while it was read; try again");
    return false;
}

}  // namespace drivemap
