// The Windows Sockets 1.1 library ("wsock32.dll"), bound at run time: loaded
// and started by net::Startup, each entry point looked up on its first use,
// everything released by net::Cleanup.
#pragma once

#include <winsock.h>

#include <string>

namespace telorus::platform::win32 {

// The address of entry point `name`, looked up once per load. A library
// that lacks it is reported through the failure handler (net.h).
void* EntryPoint(const char* name, void** slot);

// Calls the bound entry point `name` of type F.
template <typename F>
F* Entry(const char* name, F*& slot) {
  return reinterpret_cast<F*>(EntryPoint(name, reinterpret_cast<void**>(&slot)));
}

}  // namespace telorus::platform::win32
