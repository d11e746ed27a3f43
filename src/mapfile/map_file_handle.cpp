#include "mapfile/map_file.h"

HFILE gMapFile = HFILE_ERROR;

void CloseMapFile() {
    if (gMapFile != HFILE_ERROR) _lclose(gMapFile);
    gMapFile = HFILE_ERROR;
}
