// Line mode: collecting received bytes and handing them to the application
// one complete line at a time, with optional echo and line editing.
#include <algorithm>
#include <cstring>

#include "socket/USocket.h"

namespace telorus::socket {
namespace net = platform::net;

TCustomLineUSocket::TCustomLineUSocket(TComponent* owner) : TCustomSocksUSocket(owner) {
  FLineEnd = "\r\n";
  FLineMode = false;
  FLineLimit = 65536;
}

TCustomLineUSocket::~TCustomLineUSocket() = default;

// ---- Properties ----

void TCustomLineUSocket::SetLineMode(bool value) {
  if (value == FLineMode) return;
  FLineMode = value;
  if (FRcvdCnt > 0 || FLineLength > 0) {
    // What is buffered is delivered again under the new mode once the
    // current handler has returned. Lines already complete in the buffer
    // are searched from its start.
    if (value) FRescanBuffer = true;
    if (FNotifier) FNotifier->Post(kMsgLineModeChanged, 0, 0);
  }
}

std::int32_t TCustomLineUSocket::RcvdCount() {
  if (FLineMode) return FLineLength;
  return TCustomSocksUSocket::RcvdCount();
}

void TCustomLineUSocket::DoLineLimitExceeded(std::int32_t rcvdLength, bool& clearData) {
  if (auto h = OnLineLimitExceeded) h(this, rcvdLength, clearData);
}

// ---- The line buffer ----

void TCustomLineUSocket::ReserveLine(std::int32_t needed) {
  auto size = static_cast<std::size_t>(needed) + 1;
  if (FLineBuffer.size() < size) FLineBuffer.resize(size);
}

void TCustomLineUSocket::DropFront(std::int32_t n) {
  n = std::clamp(n, 0, FRcvdCnt);
  if (n == 0 || FLineBuffer.empty()) return;
  std::memmove(FLineBuffer.data(), FLineBuffer.data() + n, static_cast<std::size_t>(FRcvdCnt - n));
  FRcvdCnt -= n;
  Terminate();
}

std::int32_t TCustomLineUSocket::RecvRaw(void* buffer, std::int32_t size, int flags) {
  if (size > 0 && !FLineBuffer.empty()) {
    if (FLineMode && FLineLength > 0) {
      // The pending line, or the next part of it.
      std::int32_t n = std::min(size, FLineLength);
      std::memcpy(buffer, FLineBuffer.data(), static_cast<std::size_t>(n));
      DropFront(n);
      FLineLength -= n;
      return n;
    }
    if (!FLineMode && FRcvdCnt > 0) {
      // Bytes left over from line mode come before the network's.
      std::int32_t n = std::min(size, FRcvdCnt);
      std::memcpy(buffer, FLineBuffer.data(), static_cast<std::size_t>(n));
      DropFront(n);
      FLineLength = std::max(0, FLineLength - n);
      return n;
    }
  }
  return TCustomSocksUSocket::RecvRaw(buffer, size, flags);
}

// ---- Delivery ----

void TCustomLineUSocket::DeliverPendingLine() {
  struct Depth {
    int& d;
    explicit Depth(int& x) : d(x) { ++d; }
    ~Depth() { --d; }
  } depth(FDeliveryDepth);
  try {
    while (FLineMode && FLineLength > 0) {
      std::int32_t before = FLineLength;
      if (!TCustomSocksUSocket::DoDataAvailable(0)) {
        // Nobody takes lines: the line counts as read.
        DropFront(FLineLength);
        FLineLength = 0;
        break;
      }
      if (FLineBuffer.empty()) return;  // the session closed meanwhile
      if (FLineMode && FLineLength == before) {
        // The handler read nothing of the line; calling it again would
        // never end. The line is dropped, as when no handler is assigned.
        DropFront(FLineLength);
        FLineLength = 0;
      }
    }
  } catch (...) {
    // A handler that fails leaves no half-delivered line behind.
    if (FLineMode && FLineLength > 0) {
      DropFront(FLineLength);
      FLineLength = 0;
    }
    throw;
  }
}

bool TCustomLineUSocket::DoDataAvailable(std::uint16_t error) {
  if (!FLineMode || FLineEnd.empty() || SocksNegotiating()) return TCustomSocksUSocket::DoDataAvailable(error);

  std::int32_t cnt = TCustomSocksUSocket::RcvdCount();
  if (cnt < 0) return true;
  if (cnt == 0) cnt = 255;
  ReserveLine(FRcvdCnt + cnt);
  // Straight from the network (through the proxy layer): the buffer is
  // where Receive would read lines from.
  std::int32_t len = TCustomSocksUSocket::RecvRaw(FLineBuffer.data() + FRcvdCnt, cnt, 0);
  if (len < 0)
    FLastError = net::LastError();
  else
    FReadCount += len;
  if (len <= 0 && !FRescanBuffer) return true;
  if (len < 0) len = 0;
  FLineBuffer[static_cast<std::size_t>(FRcvdCnt + len)] = 0;

  if (len > 0) {
    if (FLineEdit)
      ApplyLineEditing(len);
    else if (FLineEcho)
      Send(FLineBuffer.data() + FRcvdCnt, len);
  }
  const auto markerLen = static_cast<std::int32_t>(FLineEnd.size());
  // A marker split across reads is found: the search restarts the marker's
  // length before the old end.
  std::int32_t searchFrom = std::max(0, FRcvdCnt - markerLen);
  if (FRescanBuffer) {
    searchFrom = 0;
    FRescanBuffer = false;
  }
  FRcvdCnt += len;
  // Inside a handler that pumps messages, new bytes are only collected: the
  // delivery that is running finds them once the handler returns.
  if (FDeliveryDepth > 0) return true;

  while (FLineMode) {
    const char* buf = FLineBuffer.data();
    std::int32_t found = -1;
    for (std::int32_t i = searchFrom; i < FRcvdCnt - markerLen + 1; ++i) {
      if (std::memcmp(buf + i, FLineEnd.data(), static_cast<std::size_t>(markerLen)) == 0) {
        found = i;
        break;
      }
    }
    if (found < 0) {
      if (FLineLimit > 0 && FRcvdCnt > FLineLimit) {
        FLineClearData = true;
        DoLineLimitExceeded(FRcvdCnt, FLineClearData);
        if (FLineClearData && !FLineBuffer.empty()) {
          FLineLength = 0;
          FRcvdCnt = 0;
          Terminate();
        }
        FLineClearData = false;
      }
      break;
    }
    FLineLength = found + markerLen;
    DeliverPendingLine();
    if (FLineBuffer.empty()) return true;
    // What the handler read has left the buffer; with line mode switched
    // off, the unread rest of the line stays first, followed by the bytes
    // after its marker, for Receive to take.
    Terminate();
    searchFrom = 0;
  }
  return true;
}

void TCustomLineUSocket::DeliverBufferedAfterModeChange() {
  // Stops as soon as a pass consumes nothing (no handler, a handler that
  // does not read, or no complete line and nothing new from the network).
  while (FRcvdCnt > 0) {
    std::int32_t count = FRcvdCnt;
    std::int32_t read = FReadCount;
    DoDataAvailable(0);
    if (FRcvdCnt == count && FReadCount == read) break;
  }
}

void TCustomLineUSocket::DispatchNotification(TMessage& msg) {
  if (msg.Msg != kMsgLineModeChanged) {
    TCustomSocksUSocket::DispatchNotification(msg);
    return;
  }
  try {
    DeliverBufferedAfterModeChange();
  } catch (const std::exception& e) {
    HandleBackgroundError(e);
  } catch (...) {
    HandleBackgroundError(Exception("Unknown exception in a socket event handler"));
  }
}

void TCustomLineUSocket::DoSessionClosed(std::uint16_t error) {
  if (!FLineBuffer.empty()) {
    // What is left, complete or not, is the last line.
    if (FLineMode && FRcvdCnt > 0 && !FLineClearData) {
      FLineLength = FRcvdCnt;
      DeliverPendingLine();
    }
    FLineBuffer.clear();
    FLineBuffer.shrink_to_fit();
    FRcvdCnt = 0;
    FLineLength = 0;
    FRescanBuffer = false;
  }
  TCustomSocksUSocket::DoSessionClosed(error);
}

// ---- Editing ----

void TCustomLineUSocket::ApplyLineEditing(std::int32_t& len) {
  static const char kErase[3] = {0x08, 0x20, 0x08};
  const std::int32_t start = FRcvdCnt;
  std::int32_t j = start;
  std::int32_t lowest = start;
  // The edited bytes from the buffer's start, made at the first byte that
  // changes anything.
  std::vector<char> edited;
  bool copied = false;
  auto copyUpTo = [&](std::int32_t i) {
    if (copied) return;
    edited.assign(FLineBuffer.begin(), FLineBuffer.begin() + i);
    copied = true;
  };
  for (std::int32_t i = start; i < start + len; ++i) {
    const char c = FLineBuffer[static_cast<std::size_t>(i)];
    if (c == 0x08) {
      if (FLineEcho && j > 0) Send(kErase, 3);
      copyUpTo(i);
      if (j > 0) {
        --j;
        lowest = std::min(lowest, j);
        edited.resize(static_cast<std::size_t>(j));
      }
    } else if (c == 0x09) {
      copyUpTo(i);
      do {
        if (FLineEcho) Send(" ", 1);
        edited.push_back(' ');
        ++j;
      } while (j % 8 != 0);
    } else {
      if (FLineEcho) Send(&c, 1);
      if (copied) edited.push_back(c);
      ++j;
    }
  }
  if (!copied) return;
  ReserveLine(j);
  // Backspaces may have erased everything: an empty copy has no storage.
  if (j > 0) std::memcpy(FLineBuffer.data(), edited.data(), static_cast<std::size_t>(j));
  FLineBuffer[static_cast<std::size_t>(j)] = 0;
  FRcvdCnt = lowest;
  len = j - lowest;
}

}  // namespace telorus::socket
