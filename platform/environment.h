// The emulated machine's environment block (environment.cpp).
#pragma once

namespace host {

void ResetEnvironment();  // an empty environment

}  // namespace host
