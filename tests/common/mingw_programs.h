// Small DLLs and programs built with a MinGW-w64 cross toolchain for the tests that compare the
// import scanner with the toolchain's objdump: a helper DLL and its users, console and GUI, linked
// to it directly or through a delay-load import library.
#pragma once

#include <string>
#include <vector>

struct MingwProgram {
    std::string file;               // name in the output directory
    bool console;                   // subsystem 3 (console), as objdump reads it: MinGW's DLLs are too
    bool delayLoad;                 // uses helper.dll through its delay-load import library
    std::vector<std::string> dlls;  // objdump -p's "DLL Name:" lines, in order
};

// The compiler prefix of an architecture ("i686-w64-mingw32-", "x86_64-w64-mingw32-") when its gcc,
// dlltool, nm and objdump are all installed; "" otherwise.
std::string MingwToolPrefix(const char *triplet);

// Builds helper.dll and its users into `dir` with the tools of `prefix`. GNU ld leaves the
// delay-load data directory empty, so it is set from the descriptor the import library brought.
// Returns the programs, or none with `error` set.
std::vector<MingwProgram> BuildMingwPrograms(const std::string &prefix, const std::string &dir, std::string &error);
