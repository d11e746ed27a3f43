/* The public header compiled as C: the layouts a C client sees. */
#include "pwdvmp32.h"

#include <stddef.h>

size_t PublicHeaderLayoutFromC(int which) {
    switch (which) {
    case 0: return sizeof(FIND_DATA);
    case 1: return sizeof(DriveRecord);
    case 2: return sizeof(DirectoryBlock);
    case 3: return offsetof(EntryRecord, szName);
    case 4: return sizeof(EntryPosition);
    case 5: return sizeof(MyFileQuery);
    case 6: return sizeof(MyFileFound);
    case 7: return offsetof(FIND_DATA, dwSearchAttributes);
    default: return 0;
    }
}
