// Global memory (global_memory.cpp).
#pragma once

namespace host {

void ResetMemory();  // no allocation limit, no forced moves; blocks already handed out stay valid

}  // namespace host
