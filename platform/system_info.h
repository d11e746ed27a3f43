// System information: version, Windows and System directories, module file name (system_info.cpp).
#pragma once

namespace host {

void ResetSystemInfo();  // NT 4.0, C:\WINDOWS, C:\WINDOWS\SYSTEM32, no module file name

}  // namespace host
