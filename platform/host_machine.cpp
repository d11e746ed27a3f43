// HostMachine_Reset: puts every module of the emulated machine back to its initial state.
#include "host_internal.h"
#include "host_machine.h"

extern "C" void HostMachine_Reset(void) {
    host::ResetFileSystem();
    host::ResetMemory();
    host::ResetEnvironment();
    host::ResetMessages();
    host::ResetTime();
    host::ResetSystemInfo();
    host::ResetDevices();
}
