#include "scan_progress.h"

#include "text_output.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace drivemap {
namespace {

using Clock = std::chrono::steady_clock;

// The clock is read once per this many callbacks, and the line redrawn at most every 100 ms.
constexpr unsigned kCallbacksPerClockCheck = 64;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

volatile std::sig_atomic_t gInterrupted = 0;

ScanOptions gOptions;
uint64_t gDirectories, gFiles, gFileCallbacks;
unsigned gCallbacksSinceCheck;
Clock::time_point gStart, gLastDraw;
char gDirectory[300];  // the directory being read (paths are at most 299 characters)
bool gLineDrawn;

void OnInterrupt(int) { gInterrupted = 1; }

std::string Grouped(uint64_t value) {
    std::string digits = std::to_string(value);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The largest cut of `text` at or below `at` bytes that does not split a UTF-8 sequence.
size_t CharacterBoundary(const std::string &text, size_t at) {
    while (at > 0 && at < text.size() && IsContinuation(text[at])) --at;
    return at;
}

// `path` (already printable) cut to at most `width` bytes, keeping its drive and its end:
// "C:\\...\\lib\\x". The cut falls between characters, so no part of a UTF-8 sequence stands alone.
std::string ShortenPath(const std::string &path, size_t width) {
    if (path.size() <= width) return path;
    const std::string head = path.size() >= 3 && path[1] == ':' ? path.substr(0, 3) + "..." : "...";
    const bool withHead = width >= head.size() + 4;
    size_t from = path.size() - (withHead ? width - head.size() : width);
    while (from < path.size() && IsContinuation(path[from])) ++from;
    return (withHead ? head : std::string()) + path.substr(from);
}

size_t TerminalWidth() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// Runs inside the library's scan, so nothing may be thrown from here: a line that cannot be made
// for want of memory is not drawn.
void DrawStatusLine(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - gStart).count();
    std::string line;
    try {
        line = FormatStatusLine({gDirectories, gFiles, gOptions.filesLabel, seconds, gDirectory}, TerminalWidth(),
                                LocaleTerminalText());
    } catch (const std::bad_alloc &) {
        return;
    }
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    gLineDrawn = true;
    gLastDraw = now;
}

void Tick() {
    if (!gOptions.showProgress || ++gCallbacksSinceCheck < kCallbacksPerClockCheck) return;
    gCallbacksSinceCheck = 0;
    const auto now = Clock::now();
    if (now - gLastDraw >= kRedrawInterval) DrawStatusLine(now);
}

}  // namespace

std::string FormatStatusLine(const StatusLine &status, size_t terminalWidth, TerminalText mode) {
    const auto whole = static_cast<unsigned long>(status.seconds);
    char elapsed[32];
    if (whole >= 3600)
        std::snprintf(elapsed, sizeof elapsed, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(elapsed, sizeof elapsed, "%lu:%02lu", whole / 60, whole % 60);
    const uint64_t rate =
        status.seconds > 0.2 ? static_cast<uint64_t>(static_cast<double>(status.files) / status.seconds) : 0;
    std::string line = Grouped(status.directories) + " dirs  " + Grouped(status.files) + " " + status.filesLabel +
                       "  " + Grouped(rate) + "/s  " + elapsed;
    // The last column stays empty: writing it makes some terminals wrap.
    const size_t width = terminalWidth > 1 ? terminalWidth - 1 : 0;
    if (line.size() + 2 < width) line += "  " + ShortenPath(Printable(status.directory, mode), width - line.size() - 2);
    if (line.size() > width) line.resize(CharacterBoundary(line, width));
    return line;
}

void BeginScan(const ScanOptions &options) {
    gOptions = options;
    gDirectories = gFiles = gFileCallbacks = 0;
    gCallbacksSinceCheck = 0;
    gDirectory[0] = '\0';
    gLineDrawn = false;
    gInterrupted = 0;
    gStart = gLastDraw = Clock::now();
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

void EndScan() {
    std::signal(SIGINT, SIG_DFL);
    if (gLineDrawn) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

bool ScanInterrupted() { return gInterrupted != 0; }

int WINAPI ScanFileCallback(void *, char *, FIND_DATA *findData, LONG) {
    if (gOptions.stopAfter != 0 && ++gFileCallbacks >= gOptions.stopAfter) gInterrupted = 1;
    if (gInterrupted) return 0;
    // Subdirectories come through here too, while their parent is listed; they are counted when
    // they are entered.
    if (!(findData->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) gFiles++;
    Tick();
    return 1;
}

int WINAPI ScanDirCallback(void *, unsigned int event, char *directory, char *, LONG) {
    if (gInterrupted) return 0;
    // A synchronisation reports a directory that needs a new block twice in a row.
    if (event == DIR_EVENT_ENTER && std::strncmp(directory, gDirectory, sizeof gDirectory) != 0) {
        gDirectories++;
        std::strncpy(gDirectory, directory, sizeof gDirectory - 1);
        gDirectory[sizeof gDirectory - 1] = '\0';
    }
    Tick();
    return 1;
}

}  // namespace drivemap
