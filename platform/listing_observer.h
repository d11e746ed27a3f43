// The observer of directory listings that a host application sets (listing_observer.cpp).
#pragma once

#include <string>

namespace host {

void ResetListingObserver();  // no observer, nothing reported yet, no listing hook

// Runs the test hook of HostMachine_SetListingHook, if any, for the directory about to be listed.
void RunListingHook(const std::string &hostDirectory);

}  // namespace host
