// Windows attributes of host entries (file_attributes.cpp).
#pragma once

#include "win32.h"

#include <sys/stat.h>

#include <string>

namespace host {

// The hidden bit kept in the user.DOSATTRIB extended attribute (the "0x<hex>" text form).
bool HasHiddenAttribute(const std::string &hostPath);
// Stores or clears it; silently nothing where the file system keeps no user extended attributes.
void StoreHiddenAttribute(const std::string &hostPath, bool hidden);

// The Windows attributes of an entry from its lstat's mode and its name; with dosAttributes (a
// drive mapped with HOST_DRIVE_DOS_ATTRIBUTES) the hidden bit of a file or directory also from the
// user.DOSATTRIB extended attribute of hostPath.
DWORD AttributesOf(const std::string &hostPath, const std::string &name, mode_t mode, bool dosAttributes);

}  // namespace host
