#include "mapfile/map_file.h"

#include "store/map_release.h"
#include "store/module_state.h"

void CloseMapFile() {
    if (gMapFile != HFILE_ERROR) _lclose(gMapFile);
    gMapFile = HFILE_ERROR;
}
MAP_RELEASE_FUNCTION(CloseMapFile);
