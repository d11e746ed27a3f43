// Reading the names of the modules that an executable file imports: the module-reference table of
// a New Executable (16-bit) file and the import descriptors in the ".idata" section of a Portable
// Executable (32-bit) file; the rules of the settings' "Scanning" section (scanning_rules.h) add
// PE32+ files, import directories in any section, delay-load imports and character-mode programs.
// Modules loaded by name at run time are not found.
//
// Two module-wide buffers of locked global memory serve every scan: the reference name buffer
// (SCAN_NAME_BUFFER_SIZE) receives a file's raw names, the header read buffer
// (SCAN_HEADER_BUFFER_SIZE) the parts of the file that are parsed. The first scan allocates them,
// FreeScanBuffers releases them; scans are one at a time and not re-entrant.
//
// File contents are not trusted: every field is checked against the bytes actually read, names
// that do not fit are dropped whole (with all names after them), and both name lists are always
// closed, whatever the file holds.
#pragma once

#include "pwdvmp32.h"

#define SCAN_NAME_BUFFER_SIZE 10240
#define SCAN_HEADER_BUFFER_SIZE 20480

// Fills `list` (cbList bytes; the record-making reference buffer of SCAN_NAME_BUFFER_SIZE bytes is
// the intended one) with the modules the executable at full path `path` references: each name
// NUL-terminated, lower case, without path, PE names without extension, in import-table order with
// repeats kept; system modules (IsSystemModule) and the file's own base name are left out. The
// last name's NUL is followed by two more NULs; an empty list is two NULs. Returns 1 with
// *pdwKind set to EXE_KIND_NE or EXE_KIND_PE when the file was scanned (the list may be empty),
// 0 when it was not (never-scanned extension, not an NE or PE file of a scanned kind, unreadable,
// no memory, cbList below 2); on 0 neither *pdwKind nor `list` is written.
// Truncates: a name that does not fit with the closing NULs is dropped with every name after it.
DWORD GetFileReferences(LPCSTR path, DWORD *pdwKind, LPSTR list, DWORD cbList);

// The file's raw module names as a multi-string list in the reference name buffer (valid until
// the next scan or FreeScanBuffers), or none when the file is not scanned. *pdwKind is set to
// EXE_KIND_NONE first and to EXE_KIND_NE or EXE_KIND_PE only on success. NE names are converted
// from the OEM code page; the list is lower-cased. A name of length 0 ends the list there.
LPSTR ReadModuleReferences(LPCSTR path, DWORD *pdwKind);

// 1 when references to module `name` are not recorded: the name's key (base name for kind 0 and
// 1 and for a PE name with extension DLL, else the file name) is on the system-files list. A full
// path counts only when its directory is the Windows or System directory (or, on NT,
// Windows\System). Loads the list on first need; 0 when it cannot be loaded.
BOOL IsSystemModule(LPCSTR name, DWORD kind);

// Allocates the scan buffers that are absent. 1 when both are there. Without them a scan reports
// every file as not scanned, so callers that must not record an executable as unscanned for want
// of memory ask first.
BOOL EnsureScanBuffers();

// Releases both scan buffers; the next scan allocates them again. Safe when they are absent.
void FreeScanBuffers();
