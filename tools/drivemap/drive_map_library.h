// The drive map library loaded the way a Windows program loads a DLL: after the machine is
// described (loading runs DllMain, which reads the Windows and System directories and the
// settings data file beside the program), as a registered client until it is unloaded.
#pragma once

#include "pwdvmp32.h"

#include <string>

namespace drivemap {

class DriveMapLibrary {
public:
    DriveMapLibrary() = default;
    DriveMapLibrary(const DriveMapLibrary &) = delete;
    DriveMapLibrary &operator=(const DriveMapLibrary &) = delete;
    ~DriveMapLibrary();  // unregisters (which frees the map) and unloads

    // Loads libpwdvmp32.so from where the dynamic linker would find drivemap's own libraries
    // (LD_LIBRARY_PATH, then the run path relative to the executable) and registers as a client. False with `error` set when it cannot be loaded.
    bool Load(std::string &error);

    // For a command that changed nothing: the process is about to end, and its exit hands the map's
    // memory back at once, where unregistering would free a loaded map block by block (a quarter
    // of a `stats` run on a map of 26,000 directories). The destructor then leaves the library be.
    void LeaveToExit() { leaveToExit_ = true; }

    // The export `name`, or null with `error` set.
    template <typename Function>
    Function Export(const char *name, std::string &error) const {
        return reinterpret_cast<Function>(Symbol(name, error));
    }

private:
    void *Symbol(const char *name, std::string &error) const;
    void *handle_ = nullptr;
    bool leaveToExit_ = false;
};

}  // namespace drivemap
