// A machine whose running program is C:\App\HOST.EXE, on a temporary tree mapped as drive C, with
// the settings data file beside it holding whatever bytes a test writes. Shared by the tests of
// the settings lists and of the code that consults them.
#pragma once

#include "common/temp_tree.h"
#include "win32.h"

#include <string>
#include <vector>

class SettingsMachine {
public:
    SettingsMachine();   // resets the host machine, maps C, names the program; no settings file yet
    ~SettingsMachine();  // resets the host machine; the lists are the test's to free
    bool WriteSettings(const std::string &bytes);  // PURGWELL.DAT, byte for byte
    TempTree &Tree() { return tree_; }

private:
    TempTree tree_;
};

// The strings of a multi-string list, the closing empty one left out; none for NULL.
std::vector<std::string> ListStrings(LPCSTR list);
