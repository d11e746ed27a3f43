// The _lopen family's file handles (file_handles.cpp).
#pragma once

namespace host {

void CloseAllFiles();

}  // namespace host
