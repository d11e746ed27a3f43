// The observer of directory listings that a host application sets to learn what the listings
// present differently from the host or leave out, and the hook tests use to change a tree while a
// listing runs. Both are called with the file-system lock held.
#include "listing_observer.h"

#include "file_system_lock.h"
#include "host_machine.h"
#include "listing_read_ahead.h"

#include <cstdint>
#include <functional>
#include <unordered_set>
#include <utility>

namespace {

HOST_LISTING_OBSERVER g_observer = nullptr;
void *g_observerContext = nullptr;
struct DirectoryIdentityHash {
    size_t operator()(const std::pair<dev_t, ino_t> &id) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(id.second) * 0x9E3779B97F4A7C15ull ^ id.first);
    }
};
// Directories the observer has heard of: tens of thousands in a walk of a machine's disks.
std::unordered_set<std::pair<dev_t, ino_t>, DirectoryIdentityHash> g_reported;
HOST_LISTING_HOOK g_hook = nullptr;
void *g_hookContext = nullptr;

}  // namespace

namespace host {

void ResetListingObserver() {
    g_observer = nullptr;
    g_observerContext = nullptr;
    g_reported.clear();
    g_hook = nullptr;
    g_hookContext = nullptr;
}

bool FirstReportOf(dev_t dev, ino_t ino) { return g_observer != nullptr && g_reported.emplace(dev, ino).second; }

void ReportListing(unsigned reason, const std::string &directory, const std::string &hostName,
                   const std::string &shownAs) {
    if (g_observer != nullptr)
        g_observer(g_observerContext, reason, directory.c_str(), hostName.c_str(), shownAs.c_str());
}

bool RunListingHook(const std::string &hostDirectory) {
    if (g_hook == nullptr) return false;
    g_hook(g_hookContext, hostDirectory.c_str());
    return true;
}

}  // namespace host

extern "C" void HostMachine_ObserveListings(HOST_LISTING_OBSERVER observer, void *context) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    g_observer = observer;
    g_observerContext = context;
    g_reported.clear();
}

extern "C" void HostMachine_ReadAheadListings(int mode) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    host::ReadAheadListings(mode);
}

extern "C" void HostMachine_SetListingHook(HOST_LISTING_HOOK hook, void *context) {
    std::lock_guard<std::recursive_mutex> guard(host::FileSystemLock());
    g_hook = hook;
    g_hookContext = context;
}
