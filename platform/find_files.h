// FindFirstFileA searches (find_files.cpp).
#pragma once

namespace host {

void CloseAllSearches();

}  // namespace host
