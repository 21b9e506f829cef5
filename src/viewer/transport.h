// The byte stream under an RFB session: the socket itself, or TLS over it.
//
// The session reads and writes plain bytes through a Transport and cannot
// tell which one it has. Everything is non-blocking and runs on the loop's
// thread: `Receive` hands over what is there now and never waits; `Send`
// queues all bytes in order (the socket takes what the network does not take
// at once). A layered transport (TLS) sits on a lower one and is driven by
// the same data events: each event the session gets, it answers by reading
// through its transport until nothing more is ready.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telorus::viewer {

class Transport {
 public:
  virtual ~Transport() = default;

  // Copies at most `size` bytes of the stream into `buffer`. Returns the
  // count (> 0), 0 when nothing is ready now (the next data event brings
  // more), or < 0 when the transport failed for good (`FailureText` says why).
  virtual std::int32_t Receive(void* buffer, std::size_t size) = 0;
  // Whether bytes are ready that no new data event will announce: a layered
  // transport that decrypted more than the last Receive took. The session
  // keeps reading while this is true.
  virtual bool Pending() const { return false; }
  // Queues `length` bytes for sending; they go out whole and in call order.
  virtual void Send(const void* data, std::size_t length) = 0;
  // Whether the stream stands: bytes can still be sent and received.
  virtual bool Open() const = 0;
  // Why the transport failed, once Receive returned < 0; empty otherwise.
  virtual std::string FailureText() const { return {}; }
};

}  // namespace telorus::viewer
