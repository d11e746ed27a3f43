// The observer of directory listings that a host application sets, and the listing hook tests set
// (listing_observer.cpp).
#pragma once

#include <sys/types.h>

#include <string>

namespace host {

void ResetListingObserver();  // no observer, nothing reported yet, no listing hook

// Whether an observer is set and has not yet heard of the directory (device, inode); marks it heard.
bool FirstReportOf(dev_t dev, ino_t ino);

// Hands one report to the observer (see HOST_LISTING_OBSERVER).
void ReportListing(unsigned reason, const std::string &directory, const std::string &hostName,
                   const std::string &shownAs);

// Runs the test hook of HostMachine_SetListingHook, if any, for the directory about to be listed.
bool RunListingHook(const std::string &hostDirectory);  // false: no hook is set

}  // namespace host
