// The import scanner's optional rules for executables of today, chosen in section "Scanning" of
// the settings data file. Without the section every rule is off and the scanner keeps the classic
// rules: PE32 files only, import descriptors only in ".idata", character-mode programs refused.
//
// One switch a line, NAME=VALUE, names compared ignoring case; unknown names are passed over:
//   Pe32Plus=1             read PE32+ (64-bit) files by their own optional header
//   ImportsInAnySection=1  follow the import directory into whatever section holds it
//   DelayLoadImports=1     read the delay-load import descriptors as well
//   Subsystems=3,5,7       scan these subsystems too, which the classic rules refuse
// A switch is on for 1, yes, on or true (any case), off for anything else.
#pragma once

#include "win32.h"

// Subsystems the classic rules refuse: Windows, OS/2 and POSIX character mode.
#define SUBSYSTEM_WINDOWS_CUI 3
#define SUBSYSTEM_OS2_CUI 5
#define SUBSYSTEM_POSIX_CUI 7

// Reads section "Scanning" of the settings data file into gScanRules; all rules off without it.
void LoadScanningRules();

// Turns every rule off: the classic rules.
void ResetScanningRules();

// Sets gScanRules from a section list as ReadDataFileSection gives it (header line first).
void ParseScanningRules(LPCSTR list);

// 1 when any rule differs from the classic ones.
BOOL AnyScanningRule();
