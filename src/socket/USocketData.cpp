// The data path: announcing and reading incoming data, and queueing outgoing
// data in the send chain until the network takes it.
#include <algorithm>

#include "socket/USocket.h"

namespace telorus::socket {
namespace net = platform::net;

// ---- Receiving ----

std::int32_t TCustomUSocket::RecvRaw(void* buffer, std::int32_t size, int flags) {
  return net::Recv(FSocketHandle, buffer, size, flags);
}

std::int32_t TCustomUSocket::Receive(void* buffer, std::int32_t size) {
  std::int32_t n = RecvRaw(buffer, size, 0);
  if (n < 0)
    FLastError = net::LastError();
  else
    FReadCount += n;
  return n;
}

std::int32_t TCustomUSocket::RcvdCount() {
  if (Designing()) return -1;
  unsigned long pending = 0;
  if (net::BytesPending(FSocketHandle, &pending) != 0) {
    ReportSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<std::int32_t>(std::min<unsigned long>(pending, 0x7FFFFFFF));
}

std::string TCustomUSocket::ReceiveText() {
  std::int32_t n = RcvdCount();
  if (n < 0) return {};
  if (n == 0) n = 255;
  std::string text(static_cast<std::size_t>(n), '\0');
  std::int32_t got = Receive(text.data(), n);
  if (got <= 0) return {};
  text.resize(static_cast<std::size_t>(got));
  return text;
}

void TCustomUSocket::ReceiveLoop(std::uint16_t error, TUSocketOptions options) {
  try {
    for (;;) {
      FLastError = 0;
      if (!DoDataAvailable(error)) {
        // Nobody takes the data: discard what is there.
        char sink[1024];
        if (RecvRaw(sink, sizeof sink, 0) < 0 && net::LastError() == net::kWsaEwouldblock) {
          FLastError = 0;
          break;
        }
      }
      if (options & OptionBit(wsoNoReceiveLoop)) break;
      if (FLastError != 0) break;
      if (FSocketHandle == INVALID_SOCKET) break;  // a handler closed the socket
      unsigned long pending = 0;
      if (net::BytesPending(FSocketHandle, &pending) != 0) {
        FLastError = net::LastError();
        break;
      }
      if (pending == 0) break;
    }
  } catch (...) {
    // A handler's exception ends the loop and goes no further.
  }
}

// ---- Sending ----

std::int32_t TCustomUSocket::SendRaw(const void* data, std::int32_t len) {
  std::int32_t n = FSocketType == 2 ? net::SendTo(FSocketHandle, data, len, FSendFlags, FRemoteAddress)
                                    : net::Send(FSocketHandle, data, len, FSendFlags);
  if (n > 0) DoSendData(n);
  return n;
}

void TCustomUSocket::AppendToSendChain(const void* data, std::int32_t len) {
  if (len <= 0) return;
  auto* bytes = static_cast<const std::uint8_t*>(data);
  if (FSendChain.empty()) FSendChain.push_back(std::make_unique<TBuffer>(SendBlockSize));
  TBuffer* block = FSendChain.back().get();
  for (;;) {
    std::int32_t n = block->Write(bytes, len);
    if (n >= len) break;
    bytes += n;
    len -= n;
    FSendChain.push_back(std::make_unique<TBuffer>(SendBlockSize));
    block = FSendChain.back().get();
  }
}

void TCustomUSocket::DiscardSendChain() { FSendChain.clear(); }

void TCustomUSocket::TryToSend() {
  if (FSocketHandle == INVALID_SOCKET) return;
  if (FSendChain.empty()) {
    // Nothing was ever queued: everything handed to Send is out. (Leaving
    // AllSent false here would make Flush spin forever after a Send of 0
    // bytes on a fresh connection.)
    FAllSent = true;
    return;
  }
  for (;;) {
    TBuffer* first = FSendChain.front().get();
    std::int32_t count = 0;
    const std::uint8_t* bytes = first->Peek(&count);
    if (count == 0) {
      if (FSendChain.size() == 1) {
        FAllSent = true;
        return;
      }
      FSendChain.pop_front();
      continue;
    }
    std::int32_t n = SendRaw(bytes, count);
    if (n == 0) return;
    if (n < 0) {
      int e = net::LastError();
      switch (e) {
        case net::kWsaEconnreset:
        case net::kWsaEnotsock:
        case net::kWsaEnotconn:
        case net::kWsaEinval:
        case net::kWsaEconnaborted:
          FSessionClosedSignalled = true;
          Close();
          DoSessionClosed(static_cast<std::uint16_t>(e));
          return;
        case net::kWsaEwouldblock: return;  // the next write record resumes
        default: ReportSocketError("TryToSend failed"); return;
      }
    }
    // OnSendData may have closed the socket or discarded the chain.
    if (FSocketHandle == INVALID_SOCKET || FSendChain.empty() || FSendChain.front().get() != first) return;
    first->Remove(n);
    // After a partial send the loop offers the rest at once: only a send
    // refused with "would block" brings the write record that resumes the
    // chain (Winsock sends no write record after a partial send).
  }
}

std::int32_t TCustomUSocket::Send(const void* data, std::int32_t len) {
  if (FState != wsConnected) {
    net::SetLastError(net::kWsaEnotconn);
    ReportSocketError("Send");
    return -1;
  }
  FAllSent = false;
  std::int32_t result = 0;
  if (len > 0) {
    AppendToSendChain(data, len);
    result = len;
  }
  TryToSend();
  // OnDataSent never fires inside Send: a write record is queued instead.
  if (FAllSent && FNotifier && FSocketHandle != INVALID_SOCKET)
    FNotifier->Post(kMsgSocketEvent, static_cast<std::uintptr_t>(FSocketHandle),
                    net::MakeSelectReply(static_cast<unsigned>(net::kFdWrite), 0));
  return result;
}

std::int32_t TCustomUSocket::SendText(const std::string& text) {
  if (text.empty()) return 0;
  return Send(text.data(), static_cast<std::int32_t>(text.size()));
}

void TCustomUSocket::Flush() {
  while (FSocketHandle != INVALID_SOCKET && !FAllSent) {
    TryToSend();
    PumpMessages();
  }
}

void TCustomUSocket::DrainUntilClosed() {
  while (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
    PumpMessages();
    if (FSocketHandle == INVALID_SOCKET) break;
    unsigned long pending = 0;
    if (net::BytesPending(FSocketHandle, &pending) != 0) break;
    if (pending > 0) DoDataAvailable(0);
    if (FSocketHandle == INVALID_SOCKET) break;
    char none;
    if (RecvRaw(&none, 0, 0) < 1) {
      FLastError = net::LastError();
      if (FLastError != net::kWsaEwouldblock) break;
    }
    PumpMessages();
  }
}

}  // namespace telorus::socket
