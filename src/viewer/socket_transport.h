// The plain transport: the session's bytes go straight through the socket.
#pragma once

#include <algorithm>
#include <limits>

#include "socket/USocket.h"
#include "viewer/transport.h"

namespace telorus::viewer {

class SocketTransport : public Transport {
 public:
  explicit SocketTransport(socket::TUSocket& socket) : socket_(socket) {}

  std::int32_t Receive(void* buffer, std::size_t size) override {
    return socket_.Receive(buffer, static_cast<std::int32_t>(std::min<std::size_t>(size, kMaxPiece)));
  }
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
};

}  // namespace telorus::viewer
