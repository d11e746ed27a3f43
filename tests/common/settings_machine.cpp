#include "common/settings_machine.h"

#include "host_machine.h"

#include <cstring>

SettingsMachine::SettingsMachine() {
    HostMachine_Reset();
    tree_.AddDir("App");
    HostMachine_MapDrive('C', DRIVE_FIXED, tree_.Root().c_str());
    HostMachine_SetModuleFileName("C:\\App\\HOST.EXE");
}

SettingsMachine::~SettingsMachine() { HostMachine_Reset(); }

bool SettingsMachine::WriteSettings(const std::string &bytes) { return tree_.AddFile("App/PURGWELL.DAT", bytes); }

std::vector<std::string> ListStrings(LPCSTR list) {
    std::vector<std::string> strings;
    for (LPCSTR pos = list; pos != nullptr && *pos != '\0'; pos += std::strlen(pos) + 1) strings.emplace_back(pos);
    return strings;
}
