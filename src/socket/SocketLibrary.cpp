#include "socket/SocketLibrary.h"

#include <atomic>
#include <string>

#include "platform/net.h"
#include "socket/SocketErrors.h"

namespace telorus::socket {
namespace {

namespace net = platform::net;

std::atomic<int> gInstanceCount{0};
bool gLoaded = false;         // the library is bound
bool gStartupFailed = false;  // bound but its startup failed: not retried

}  // namespace

void EnsureSocketLibrary() {
  // After a failed startup the library stays bound but unstarted: the
  // socket calls themselves then fail with 10093, as they would on Windows.
  if (gLoaded) return;
  // A library that cannot be loaded, or lacks an entry point, is reported
  // as this layer's exception from whatever call first needed it.
  net::SetLibraryFailureHandler([](const std::string& message) { throw ESocketException(message); });
  int rc = net::Startup();
  gLoaded = true;
  if (rc != 0) {
    gStartupFailed = true;
    throw ESocketException("wsock32.dll: WSAStartup error #" + std::to_string(rc));
  }
}

bool SocketLibraryLoaded() { return gLoaded && !gStartupFailed && net::Started(); }

void AddSocketInstance() { ++gInstanceCount; }

void RemoveSocketInstance() {
  if (--gInstanceCount < 1) UnloadSocketLibrary();
}

int SocketInstanceCount() { return gInstanceCount.load(); }

void UnloadSocketLibrary() {
  if (gLoaded) {
    if (!gStartupFailed) net::Cleanup();
    gLoaded = false;
    gStartupFailed = false;
  }
  gInstanceCount = 0;
}

}  // namespace telorus::socket
