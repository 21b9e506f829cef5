// The hidden notifier windows of the Windows message loop: their class, and
// the per-thread bookkeeping that the loop's leak check reads.
#pragma once

#include <windows.h>

#include <cstddef>

namespace telorus::platform::win32 {

// The window class of every notifier ("XSocketWindowClass"), registered on
// first use.
const char* NotifierClassName();
// Unregisters the class if no notifier window of it is left; the next
// notifier registers it again. The socket library calls this when its last
// socket object goes.
void UnregisterNotifierClass();

// Sockets registered for notifications to windows of the calling thread.
void CountRegisteredSocket(int change);
std::size_t RegisteredSocketsOfThisThread();

}  // namespace telorus::platform::win32
