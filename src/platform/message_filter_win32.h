// An elevated process does not receive messages from processes of a lower
// integrity level unless it lets them through, message by message.
#pragma once

#include <windows.h>

namespace quenzil {

// Lets `message` reach `window` from any process of the desktop: the shell's
// TaskbarCreated, and a second start asking this one to come forward or
// handing over a number. Where the system has no such filter there is
// nothing to do.
void AllowMessageFromLowerProcesses(HWND window, UINT message);

}  // namespace quenzil
