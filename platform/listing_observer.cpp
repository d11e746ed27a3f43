// The observer of directory listings that a host application sets to learn what the listings
// present differently from the host or leave out. Not yet reported to: the listings call it in a
// later change.
#include "listing_observer.h"

#include "host_machine.h"

namespace {

HOST_LISTING_OBSERVER g_observer = nullptr;
void *g_observerContext = nullptr;

}  // namespace

namespace host {

void ResetListingObserver() {
    g_observer = nullptr;
    g_observerContext = nullptr;
}

}  // namespace host

extern "C" void HostMachine_ObserveListings(HOST_LISTING_OBSERVER observer, void *context) {
    g_observer = observer;
    g_observerContext = context;
}
