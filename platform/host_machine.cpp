// HostMachine_Reset: puts every unit of the emulated machine back to its initial state.
#include "host_machine.h"

#include "clock.h"
#include "drives.h"
#include "environment.h"
#include "file_handles.h"
#include "file_system_lock.h"
#include "find_files.h"
#include "global_memory.h"
#include "host_errors.h"
#include "listing_observer.h"
#include "listing_read_ahead.h"
#include "messages.h"
#include "path_resolution.h"
#include "system_info.h"
#include "vwin32_device.h"

extern "C" void HostMachine_Reset(void) {
    host::Guarded([&] {
        {
            std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
            host::ResetDrives();
            host::ForgetOpenDirectories();
            host::CloseAllSearches();
            host::CloseAllFiles();
            host::ResetListingObserver();
            host::ReadAheadListings(HOST_READ_AHEAD_OFF);
        }
        host::ResetMemory();
        host::ResetEnvironment();
        host::ResetMessages();
        host::ResetTime();
        host::ResetSystemInfo();
        host::ResetDevices();
    });
}
