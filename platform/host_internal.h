// Shared state of the host layer's modules. Each module owns its own part of the emulated machine
// and resets it through its hook; HostMachine_Reset calls them all.
#pragma once

#include "win32.h"

#include <string>

namespace host {

// Reset hooks, one per module.
void ResetFileSystem();   // drives, substitutions, current directories, open files and searches
void ResetMemory();       // allocation limit, forced moves (blocks already handed out stay valid)
void ResetEnvironment();  // an empty environment
void ResetMessages();     // no windows, empty queue
void ResetTime();         // real clock
void ResetSystemInfo();   // version, Windows and System directories, module file name
void ResetDevices();      // VWIN32 absent, no drive locks

// Queries one module answers for another.
bool IsSubstitutedDrive(char letter);  // file system: the letter is a substituted drive
bool IsMappedDrive(char letter);       // file system: the letter is a drive (mapped or substituted)
DWORD CurrentVersion();                // system info: what GetVersion returns

// The platform's case mapping of one ANSI (code page 1252) byte.
unsigned char ToUpperAnsi(unsigned char c);
unsigned char ToLowerAnsi(unsigned char c);

}  // namespace host
