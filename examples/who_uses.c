/* who_uses: loads a drive map that drivemap saved and lists the executables that use a module.
 *   who_uses DRIVE_C_DIR STATE_DIR MODULE
 * The machine: drive C: is DRIVE_C_DIR, with C:\windows and C:\windows\system32 (a Wine prefix's
 * drive_c); the program lies in STATE_DIR, which holds PWDRVMAP.DAT. MODULE is a Windows path. */
#include <host_machine.h>
#include <pwdvmp32.h>

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef void(WINAPI *VoidExport)(void);
typedef BOOL(WINAPI *ReadAllExport)(DWORD);
typedef BOOL(WINAPI *ReferencesExport)(DWORD, LPCSTR, EntryPosition *, ReferenceResultBlock **, DWORD);
typedef BOOL(WINAPI *FullPathExport)(LPSTR, const EntryPosition *);

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: who_uses DRIVE_C_DIR STATE_DIR MODULE\n");
        return 2;
    }
    /* Describe the machine first: loading the library runs DllMain, which reads it. */
    HostMachine_Reset();
    HostMachine_MapDrive('C', DRIVE_FIXED, argv[1]);
    HostMachine_MapDrive('S', DRIVE_REMOVABLE, argv[2]);
    HostMachine_SetWindowsDirectory("C:\\windows");
    HostMachine_SetSystemDirectory("C:\\windows\\system32");
    HostMachine_SetModuleFileName("S:\\WHO_USES.EXE");

    void *library = dlopen(PWDVMP32_LIBRARY, RTLD_NOW);
    if (library == NULL) {
        fprintf(stderr, "who_uses: %s\n", dlerror());
        return 1;
    }
    ((VoidExport)dlsym(library, "DriveMap_RegisterAsClient"))();
    DWORD(WINAPI * getError)(void) = (DWORD(WINAPI *)(void))dlsym(library, "DriveMap_GetError");
    ReferencesExport references = (ReferencesExport)dlsym(library, "DriveMap_GetEntryReferences");
    FullPathExport fullPath = (FullPathExport)dlsym(library, "DriveMap_GetFullPath");

    int users = 0;
    EntryPosition position;
    ReferenceResultBlock *block = NULL;
    if (!((ReadAllExport)dlsym(library, "DriveMap_ReadAll"))(0) || !references(0, argv[3], &position, &block, 0)) {
        fprintf(stderr, "who_uses: error %lu\n", (unsigned long)getError());
    } else if (block != NULL) {
        for (WORD i = 0; i < block->wCount; ++i) {
            EntryPosition user;
            char path[MAX_PATH + 40];
            memcpy(&user, (const char *)block + offsetof(ReferenceResultBlock, aPositions) + i * sizeof user,
                   sizeof user);
            if (!fullPath(path, &user)) continue;
            printf("%s\n", path);
            ++users;
        }
        HGLOBAL handle = GlobalHandle(block);
        GlobalUnlock(handle);
        GlobalFree(handle);
    }
    ((VoidExport)dlsym(library, "DriveMap_UnRegisterAsClient"))();
    dlclose(library);
    return users > 0 ? 0 : 1;
}
