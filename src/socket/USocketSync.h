// TCustomSyncUSocket: waiting for a flag while messages keep flowing. Part
// of "socket/USocket.h"; include that header, not this one.
//
// A caller starts something (RunAndWait's procedure, or anything before
// WaitForFlag) whose completion one of its own event handlers signals by
// setting a flag; the wait pumps the thread's messages, so the socket's
// notifications, and with them that handler, run inside it.
#pragma once

#ifndef TELORUS_SOCKET_USOCKET_CORE
#error "include socket/USocket.h instead"
#endif

#include <cstdint>
#include <functional>

namespace telorus::socket {

// The result of a wait that ended without its flag.
inline constexpr std::int32_t kSyncWaitFailed = 12001;

class TCustomSyncUSocket : public TCustomLineUSocket {
 public:
  using TCustomLineUSocket::TCustomLineUSocket;

  // Clears the flag, calls proc if given, then waits for the flag.
  virtual std::int32_t RunAndWait(const std::function<void()>& proc, bool& flag);
  // 0 once the flag is true; 12001 when the wait timed out or a quit
  // record was taken off the queue (by this wait or an earlier pump of this
  // socket). Never raises.
  virtual std::int32_t WaitForFlag(bool& flag);

 protected:
  // Milliseconds a wait may last; 0 or less waits without a limit.
  std::int32_t FTimeout = 0;
  // The tick count at which the running wait gives up.
  std::int32_t FTimeStop = 0;
};

}  // namespace telorus::socket
