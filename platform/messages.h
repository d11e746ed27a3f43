// The message queue (messages.cpp).
#pragma once

namespace host {

void ResetMessages();  // no windows, empty queue

}  // namespace host
