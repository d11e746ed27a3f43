// The client callbacks drivemap hands to DriveMap_BuildAll and DriveMap_SyncAll: they count what
// the scan meets, draw a status line on a terminal, and stop the scan after Ctrl-C.
#pragma once

#include "pwdvmp32.h"

#include "text_output.h"

#include <cstdint>
#include <string>

namespace drivemap {

struct ScanOptions {
    bool showProgress;       // draw the status line on stderr (a terminal, not --quiet)
    const char *filesLabel;  // what the file count means: "files", "new files"
    uint64_t stopAfter;      // 0, or stop at this file callback, as if Ctrl-C came then
};

struct StatusLine {
    uint64_t directories, files;
    const char *filesLabel;
    double seconds;         // since the scan began
    const char *directory;  // the directory being read, a Windows path
};

// The status line's text for a terminal `terminalWidth` columns wide, its last column left empty:
// counts, files per second, elapsed time and as much of the directory's end as fits, made
// printable for `mode` first, so that no name can send the terminal a control sequence.
std::string FormatStatusLine(const StatusLine &status, size_t terminalWidth, TerminalText mode);

// Installs the one-shot SIGINT handler (a second Ctrl-C ends the program) and resets the counts.
void BeginScan(const ScanOptions &options);

// Clears the status line and restores SIGINT's default action.
void EndScan();

// Ctrl-C (or --stop-after) stopped the scan.
bool ScanInterrupted();

// The client callbacks; each returns 0 once the scan is to stop.
int WINAPI ScanFileCallback(void *context, char *path, FIND_DATA *findData, LONG userValue);
int WINAPI ScanDirCallback(void *context, unsigned int event, char *directory, char *unused, LONG userValue);

}  // namespace drivemap
