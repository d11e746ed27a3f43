/* A short text for each error code that DriveMap_GetError returns, for messages to the user. */
#ifndef PWDVMP32_ERRORS_H
#define PWDVMP32_ERRORS_H

#include "pwdvmp32.h"

/* Indexed by the DRIVEMAP_* code. */
static const char *const kDriveMapErrorTexts[] = {
    "success",                                                     /* DRIVEMAP_OK */
    "bad path, or the entry could not be added, updated or moved", /* DRIVEMAP_BAD_PATH */
    "not found",                                                   /* DRIVEMAP_NOT_FOUND */
    "out of memory",                                               /* DRIVEMAP_NO_MEMORY */
    "the map file cannot be read or is damaged",                   /* DRIVEMAP_FILE_DAMAGED */
    "writing the map file failed",                                 /* DRIVEMAP_WRITE_FAILED */
    "the map file cannot be created",                              /* DRIVEMAP_CREATE_FAILED */
    "the drive scan was stopped",                                  /* DRIVEMAP_STOPPED */
    "the drive is not covered by the map",                         /* DRIVEMAP_DRIVE_NOT_MAPPED */
    "the map file is of an older version",                         /* DRIVEMAP_OLD_VERSION */
    "the volume holding the map file is locked",                   /* DRIVEMAP_VOLUME_LOCKED */
};

#ifdef __cplusplus
static_assert(sizeof kDriveMapErrorTexts / sizeof kDriveMapErrorTexts[0] == DRIVEMAP_ERROR_COUNT,
              "one text per error code");
static_assert(DRIVEMAP_OK == 0 && DRIVEMAP_VOLUME_LOCKED == DRIVEMAP_ERROR_COUNT - 1,
              "the codes run from 0 to DRIVEMAP_ERROR_COUNT - 1");
#else
_Static_assert(sizeof kDriveMapErrorTexts / sizeof kDriveMapErrorTexts[0] == DRIVEMAP_ERROR_COUNT,
               "one text per error code");
#endif

/* The text of `code`; codes outside the table get a text of their own, never a read past it. */
static inline const char *DriveMapErrorText(DWORD code) {
    return code < DRIVEMAP_ERROR_COUNT ? kDriveMapErrorTexts[code] : "unknown error";
}

#endif /* PWDVMP32_ERRORS_H */
