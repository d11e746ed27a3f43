// The Windows 95 VWIN32 device (vwin32_device.cpp).
#pragma once

namespace host {

void ResetDevices();  // VWIN32 absent, no drive locks

}  // namespace host
