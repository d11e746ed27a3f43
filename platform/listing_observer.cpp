// The observer of directory listings that a host application sets to learn what the listings
// present differently from the host or leave out. Not yet reported to: the listings call it in a
// later change.
#include "listing_observer.h"

#include "host_machine.h"

namespace {

HOST_LISTING_OBSERVER g_observer = nullptr;
void *g_observerContext = nullptr;
HOST_LISTING_HOOK g_hook = nullptr;
void *g_hookContext = nullptr;

}  // namespace

namespace host {

void ResetListingObserver() {
    g_observer = nullptr;
    g_observerContext = nullptr;
    g_hook = nullptr;
    g_hookContext = nullptr;
}

void RunListingHook(const std::string &hostDirectory) {
    if (g_hook != nullptr) g_hook(g_hookContext, hostDirectory.c_str());
}

}  // namespace host

extern "C" void HostMachine_ObserveListings(HOST_LISTING_OBSERVER observer, void *context) {
    g_observer = observer;
    g_observerContext = context;
}

extern "C" void HostMachine_SetListingHook(HOST_LISTING_HOOK hook, void *context) {
    g_hook = hook;
    g_hookContext = context;
}
