// The emulated machine's clock (clock.cpp).
#pragma once

namespace host {

void ResetTime();  // the real clock again

}  // namespace host
