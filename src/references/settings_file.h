// Reading named sections of the settings data file PURGWELL.DAT, which the host application keeps
// beside its executable: OEM text split into groups that begin at a '[' in a line's first byte.
#pragma once

#include "win32.h"

#define SETTINGS_FILE_NAME "PURGWELL.DAT"

// The file is read in chunks of at most this many bytes (less 3), into a list of at most
// SETTINGS_LIST_BUFFER_SIZE bytes; both requests fall back by their step when memory is short.
#define SETTINGS_CHUNK_BUFFER_SIZE 65532
#define SETTINGS_CHUNK_STEP 2048
#define SETTINGS_LIST_BUFFER_SIZE 40960
#define SETTINGS_LIST_STEP 1024

// Reads section `name` of the settings data file in the program's directory, converted from the
// OEM to the ANSI code page. 1 with *list set to the section list, or 0 with *list none when the
// file, the section or memory is missing. The caller frees the list with FreeLockedBuffer.
BOOL ReadSettingsSection(LPCSTR name, LPSTR *list);

// The section list of the first group of file `path` whose name equals `name` ignoring case: a
// multi-string list whose first string is the group's header line and whose further strings are
// its entries, in a locked global block shrunk to the list's size plus 2 bytes; the caller frees it
// with FreeLockedBuffer. none when the file cannot be opened, memory cannot be had or no group has
// the name. Truncates: a group longer than the list block is cut after block size - 2 bytes, its
// strings closed normally. `convertOem` 0 keeps the file's bytes as they are.
LPSTR ReadDataFileSection(LPCSTR path, LPCSTR name, BOOL convertOem);

// Writes into `directory` (PATH_BUFFER_SIZE bytes) the directory of the process's executable,
// spelt as the file system stores it. Truncates at 299 characters; an executable path that does
// not fit leaves an empty string.
void GetProgramDirectory(LPSTR directory);
