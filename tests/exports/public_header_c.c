/* The public header compiled as C: a C client sees the layouts a C++ client sees. */
#include "pwdvmp32.h"

#include <stddef.h>

_Static_assert(offsetof(EntryRecord, szName) == 10, "EntryRecord name");
_Static_assert(sizeof(MyFileFound) == 16, "MyFileFound is 16 bytes");
_Static_assert(offsetof(FIND_DATA, dwSearchAttributes) == 332, "dwSearchAttributes");
_Static_assert(offsetof(DriveRecord, pRootBlock) == 5 && offsetof(DirectoryBlock, dwUsed) == 12,
               "drive and block fields");
