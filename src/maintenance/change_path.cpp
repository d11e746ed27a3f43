#include "maintenance/entry_changes.h"

#include "support/file_system.h"
#include "support/path_utils.h"

#include <cstring>

BOOL IsChangePath(LPCSTR path) {
    return IsFullPath(path) && strnlen(path, PATH_BUFFER_SIZE) < PATH_BUFFER_SIZE && !HasWildcards(path);
}
