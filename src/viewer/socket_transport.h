// The plain transport: the session's bytes go straight through the socket.
#pragma once

#include <algorithm>
#include <limits>

#include "platform/net.h"
#include "socket/USocket.h"
#include "viewer/transport.h"

namespace telorus::viewer {

class SocketTransport : public Transport {
 public:
  explicit SocketTransport(socket::TUSocket& socket) : socket_(socket) {}

  // The socket's "would block" is "nothing now"; its end of stream and its
  // errors are failures (a layer above cannot go on after either).
  std::int32_t Receive(void* buffer, std::size_t size) override {
    const std::int32_t n = socket_.Receive(buffer, static_cast<std::int32_t>(std::min<std::size_t>(size, kMaxPiece)));
    if (n > 0) return n;
    if (n < 0 && socket_.LastError() == platform::net::kWsaEwouldblock) return 0;
    failure_ = n == 0 ? "The server closed the connection"
                      : "Receive failed with error " + std::to_string(socket_.LastError());
    return -1;
  }
  std::string FailureText() const override { return failure_; }
  void Send(const void* data, std::size_t length) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
      const std::size_t piece = std::min<std::size_t>(length, kMaxPiece);
      socket_.Send(bytes, static_cast<std::int32_t>(piece));
      bytes += piece;
      length -= piece;
    }
  }
  bool Open() const override { return socket_.State() == socket::wsConnected; }

 private:
  static constexpr std::size_t kMaxPiece = std::numeric_limits<std::int32_t>::max();
  socket::TUSocket& socket_;
  std::string failure_;
};

}  // namespace telorus::viewer
