// The observer of directory listings that a host application sets (listing_observer.cpp).
#pragma once

namespace host {

void ResetListingObserver();  // no observer, nothing reported yet

}  // namespace host
