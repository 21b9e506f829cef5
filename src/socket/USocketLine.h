// TCustomLineUSocket: line mode. Part of "socket/USocket.h"; include that
// header, not this one.
//
// With LineMode on, received bytes are collected and OnDataAvailable fires
// once per complete line (bytes up to and including the LineEnd marker),
// which the handler reads with Receive. Optionally the received bytes are
// echoed to the peer, and backspace and tab are applied as simple line
// editing.
#pragma once

#ifndef TELORUS_SOCKET_USOCKET_CORE
#error "include socket/USocket.h instead"
#endif

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace telorus::socket {

using TLineLimitEvent = std::function<void(TObject* Sender, std::int32_t RcvdLength, bool& ClearData)>;

// Posted by the LineMode setter: deliver what is buffered under the new mode.
inline constexpr std::uint32_t kMsgLineModeChanged = 1044;

class TCustomLineUSocket : public TCustomSocksUSocket {
 public:
  explicit TCustomLineUSocket(TComponent* owner = nullptr);
  ~TCustomLineUSocket() override;

  // ---- Properties ----
  bool LineMode() const { return FLineMode; }
  virtual void SetLineMode(bool value);
  const std::string& LineEnd() const { return FLineEnd; }
  void SetLineEnd(const std::string& value) { FLineEnd = value; }
  std::int32_t LineLimit() const { return FLineLimit; }
  void SetLineLimit(std::int32_t value) { FLineLimit = value; }
  bool LineEcho() const { return FLineEcho; }
  void SetLineEcho(bool value) { FLineEcho = value; }
  bool LineEdit() const { return FLineEdit; }
  void SetLineEdit(bool value) { FLineEdit = value; }

  // ---- Events ----
  TLineLimitEvent OnLineLimitExceeded;

  std::int32_t RcvdCount() override;

 protected:
  virtual void DoLineLimitExceeded(std::int32_t rcvdLength, bool& clearData);
  virtual void ApplyLineEditing(std::int32_t& len);

  void DispatchNotification(TMessage& msg) override;
  std::int32_t RecvRaw(void* buffer, std::int32_t size, int flags) override;
  bool DoDataAvailable(std::uint16_t error) override;
  void DoSessionClosed(std::uint16_t error) override;

 private:
  // Makes room for `needed` bytes plus the 0 byte that always follows them.
  void ReserveLine(std::int32_t needed);
  // Drops the first n buffered bytes.
  void DropFront(std::int32_t n);
  void Terminate() { FLineBuffer[static_cast<std::size_t>(FRcvdCnt)] = 0; }
  // Runs the application's handler while a complete line is pending; ends
  // when the line is read, dropped, or line mode goes off.
  void DeliverPendingLine();
  void DeliverBufferedAfterModeChange();

  bool FLineMode = false;
  std::string FLineEnd = "\r\n";
  std::int32_t FLineLimit = 65536;
  bool FLineEcho = false;
  bool FLineEdit = false;

  // The buffered bytes not yet consumed, in order, always followed by a 0
  // byte. The pending line, when there is one, is their first FLineLength.
  std::vector<char> FLineBuffer;
  std::int32_t FRcvdCnt = 0;
  std::int32_t FLineLength = 0;
  bool FLineClearData = false;
  // Line mode went on while bytes were buffered: search them from the start
  // even if nothing new arrives.
  bool FRescanBuffer = false;
  // Counts entries into the delivery loop, so that a handler that pumps
  // messages only appends what arrives meanwhile.
  int FDeliveryDepth = 0;
};

}  // namespace telorus::socket
