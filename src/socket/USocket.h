// The asynchronous, event-driven socket component.
//
// Every operation returns at once; what completes later (a connection, data
// arriving, room to send, the peer closing, a name lookup) arrives as a
// record on the thread that created the socket and becomes an event. The
// published class chain is
//   TCustomUSocket → TCustomSocksUSocket → TCustomLineUSocket →
//   TCustomSyncUSocket → TUSocket.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "platform/net.h"
#include "socket/Component.h"
#include "socket/SocketErrors.h"
#include "socket/USockBuf.h"

namespace telorus::socket {

using platform::net::SockAddrIn;
using platform::net::SocketHandle;
inline constexpr SocketHandle INVALID_SOCKET = platform::net::kInvalidSocket;

enum TSocketState : std::uint8_t {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed,
};

enum TSocketSendFlags : std::uint8_t { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff : std::uint8_t { wsLingerOff, wsLingerOn, wsLingerNoSet };

enum TUSocketOption : std::uint8_t { wsoNoReceiveLoop, wsoTcpNoDelay };
// A set of TUSocketOption: bit n is option n.
using TUSocketOptions = std::uint8_t;
constexpr TUSocketOptions OptionBit(TUSocketOption o) { return static_cast<TUSocketOptions>(1u << o); }

const char* SocketStateName(TSocketState state);

// Notifier message numbers.
inline constexpr std::uint32_t kMsgSocketEvent = 1025;
inline constexpr std::uint32_t kMsgHostLookupDone = 1026;
inline constexpr std::uint32_t kMsgAddrLookupDone = 1027;
inline constexpr std::uint32_t kMsgCloseRequest = 1028;
inline constexpr std::uint32_t kMsgFreeRequest = 1029;
inline constexpr std::uint32_t kMsgTestRequest = 1030;

// Event masks registered by Connect, Listen and Dup.
inline constexpr long kConnectEvents = 59;  // read, write, accept, connect, close
inline constexpr long kListenEvents = 43;   // read, write, accept, close
inline constexpr long kDupEvents = 51;      // read, write, connect, close

// A notifier record as the dispatcher sees it.
struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

// A (seconds, microseconds) pair.
struct TTimeVal {
  std::int32_t Seconds = 0;
  std::int32_t Microseconds = 0;
};

using TDataAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSendData = std::function<void(TObject* Sender, std::int32_t BytesSent)>;
using TSessionClosed = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSessionConnected = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TChangeState = std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent = std::function<void(TObject* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TCustomUSocket : public TComponent {
 public:
  explicit TCustomUSocket(TComponent* owner = nullptr);
  ~TCustomUSocket() override;

  // ---- Properties ----
  const std::string& Addr() const { return FAddrStr; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return FPortStr; }
  virtual void SetPort(const std::string& value);
  const std::string& Proto() const { return FProtoStr; }
  virtual void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return FLocalAddr; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return FLocalPortStr; }
  void SetLocalPort(const std::string& value);
  virtual std::string PeerAddr();
  virtual std::string PeerPort();
  const std::string& DnsResult() const { return FDnsResult; }
  const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
  TSocketState State() const { return FState; }
  std::int32_t ReadCount() const { return FReadCount; }
  virtual std::int32_t RcvdCount();
  std::int32_t LastError() const { return FLastError; }
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool v) { FMultiThreaded = v; }
  bool MultiCast() const { return FMultiCast; }
  void SetMultiCast(bool v) { FMultiCast = v; }
  const std::string& MultiCastAddrStr() const { return FMultiCastAddrStr; }
  void SetMultiCastAddrStr(const std::string& v) { FMultiCastAddrStr = v; }
  std::int32_t MultiCastIpTTL() const { return FMultiCastIpTTL; }
  void SetMultiCastIpTTL(std::int32_t v) { FMultiCastIpTTL = v; }
  bool ReuseAddr() const { return FReuseAddr; }
  void SetReuseAddr(bool v) { FReuseAddr = v; }
  TUSocketOptions ComponentOptions() const { return FComponentOptions; }
  void SetComponentOptions(TUSocketOptions v) { FComponentOptions = v; }
  std::int32_t FlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(std::int32_t v) { FFlushTimeout = v; }
  TSocketSendFlags SendFlags();
  void SetSendFlags(int value);
  TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff v) { FLingerOnOff = v; }
  std::int32_t LingerTimeout() const { return FLingerTimeout; }
  void SetLingerTimeout(std::int32_t v) { FLingerTimeout = v; }
  // Set by the synchronous wait when a pump takes a quit record; never cleared.
  bool Terminated() const { return FTerminated; }

  // Capacity of each new block of the send chain.
  std::int32_t SendBlockSize = 1460;

  // ---- Events ----
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

  // ---- Operations ----
  virtual void Connect();
  virtual void Close();
  virtual void PostClose();
  // Frees the object later, from the event loop. The object must have been
  // created with new and handed over: nobody else may delete it afterwards.
  virtual void PostFree();
  virtual void Abort();
  virtual void Flush();
  virtual void DrainUntilClosed();
  virtual void Listen();
  virtual SocketHandle Accept();
  virtual std::int32_t Receive(void* buffer, std::int32_t size);
  virtual std::string ReceiveText();
  virtual std::int32_t ReceiveFrom(void* buffer, std::int32_t size, SockAddrIn* from);
  virtual std::int32_t Send(const void* data, std::int32_t len);
  virtual std::int32_t SendTo(const SockAddrIn& dest, const void* data, std::int32_t len);
  virtual std::int32_t SendText(const std::string& text);
  virtual void DnsLookup(const std::string& hostName);
  virtual void ReverseDnsLookup(const std::string& hostAddr);
  virtual void CancelDnsLookup();
  virtual std::int32_t GetPeerName(SockAddrIn* name);
  virtual std::string LocalBoundPort();
  virtual std::string LocalBoundAddr();
  virtual bool TimeValueIsSet(const TTimeVal& tv);
  virtual void ClearTimeValue(TTimeVal& tv);
  virtual bool CompareTimeValues(const TTimeVal& a, const TTimeVal& b, bool wantEqual);
  virtual std::int32_t GetSockName(SockAddrIn* name);
  virtual void Dup(SocketHandle newHandle);
  virtual void ShutDown(int how);
  virtual int Pause();
  virtual int Resume();
  virtual void PumpMessages();

  SocketHandle Handle() const { return FSocketHandle; }
  platform::WindowId NotifierHandle() const { return FNotifier ? FNotifier->Id() : 0; }
  bool AllSent() const { return FAllSent; }
  // The send chain, read-only (block count and their fill) for inspection.
  const std::list<std::unique_ptr<TBuffer>>& SendChain() const { return FSendChain; }

 protected:
  virtual void DispatchNotification(TMessage& msg);
  virtual void OpenNotifier();
  virtual void CloseNotifier();
  virtual void ResetDefaults();
  virtual void DoClose(bool shutdownFirst, std::uint16_t error);
  virtual void BindLocal();
  virtual std::int32_t SendRaw(const void* data, std::int32_t len);
  virtual void RaiseErrorFmt(const std::string& message);  // the message is formatted by the caller
  virtual void RaiseError(const std::string& message);
  virtual void HandleBackgroundError(const std::exception& e);
  virtual bool DoDataAvailable(std::uint16_t error);
  virtual void DoSessionAvailable(std::uint16_t error);
  virtual void DoSessionConnected(std::uint16_t error);
  virtual void DoSessionClosed(std::uint16_t error);
  virtual void DoDataSent(std::uint16_t error);
  virtual void DoChangeState(TSocketState oldState, TSocketState newState);
  virtual void DoDnsLookupDone(std::uint16_t error);
  virtual void DoError();
  virtual std::int32_t RecvRaw(void* buffer, std::int32_t size, int flags);
  virtual std::int32_t RecvFromRaw(void* buffer, std::int32_t size, int flags, SockAddrIn* from);

  void ChangeState(TSocketState newState);
  void TryToSend();
  void AppendToSendChain(const void* data, std::int32_t len);
  void ReceiveLoop(std::uint16_t error, TUSocketOptions options);
  void ApplyLinger();
  void DiscardSendChain();
  void DoSendData(std::int32_t count);
  void ReportSocketError(const std::string& operation);
  // The pump, with the quit record noted for the synchronous wait.
  bool PumpAndNoteQuit();

  // Handlers of the notifier messages.
  void HandleSocketEvent(TMessage& msg);
  void HandleHostLookupDone(TMessage& msg);
  void HandleAddrLookupDone(TMessage& msg);

  // ---- State ----
  std::string FDnsResult;
  std::vector<std::string> FDnsResultList;
  SocketHandle FAcceptedHandle = INVALID_SOCKET;
  std::list<std::unique_ptr<TBuffer>> FSendChain;
  int FSendFlags = 0;
  std::int32_t FLastError = 0;
  std::unique_ptr<platform::Notifier> FNotifier;
  platform::net::HostEntry FLookupResult;
  std::uint32_t FLookupHandle = 0;
  bool FLookupEarlyDone = false;
  TMessage FLookupEarlyRecord;
  SocketHandle FSocketHandle = INVALID_SOCKET;
  std::string FAddrStr;
  bool FAddrResolved = false;
  int FAddrFamily = 2;
  bool FAddrAssigned = false;
  int FProto = 6;
  bool FProtoAssigned = true;
  bool FProtoResolved = false;
  bool FLocalPortResolved = false;
  std::string FProtoStr = "tcp";
  std::string FPortStr;
  bool FPortAssigned = false;
  bool FPortResolved = false;
  std::uint16_t FPortNum = 0;
  std::string FLocalPortStr = "0";
  std::uint16_t FLocalPortNum = 0;
  std::string FLocalAddr = "0.0.0.0";
  int FSocketType = 1;  // 1 stream, 2 datagram, 3 raw
  TSocketLingerOnOff FLingerOnOff = wsLingerOn;
  std::int32_t FLingerTimeout = 0;
  bool FAllSent = true;
  std::int32_t FReadCount = 0;
  bool FPaused = false;
  bool FSessionClosedSignalled = false;
  std::int32_t FFlushTimeout = 60;
  bool FMultiThreaded = false;
  bool FMultiCast = false;
  std::string FMultiCastAddrStr;
  std::int32_t FMultiCastIpTTL = 1;
  bool FReuseAddr = false;
  TUSocketOptions FComponentOptions = 0;
  TSocketState FState = wsClosed;
  long FSelectedEvents = 0;
  SockAddrIn FRemoteAddress;
  bool FTerminated = false;

 private:
  // Resolves what is not resolved yet of Proto, Port, LocalPort (not for a
  // listener) and Addr; false when the failure has been reported.
  bool ResolveRemote(bool forListen);
  void ConnectDatagram();
  // Shared by Connect and Listen: ReportSocketError and false if the
  // registration failed.
  bool Register(long mask, const char* operation);
  void SetRemoteText(std::string& field, bool& assigned, bool& resolved, const std::string& value, const char* name);
};

}  // namespace telorus::socket

// The classes between the core and TUSocket, each in its own header. They are
// part of this header: include "socket/USocket.h", not them.
#define TELORUS_SOCKET_USOCKET_CORE 1
#include "socket/USocketSocks.h"
#include "socket/USocketLine.h"
#include "socket/USocketSync.h"

namespace telorus::socket {

// The published socket: everything of the chain above, ready to use.
class TUSocket final : public TCustomSyncUSocket {
 public:
  using TCustomSyncUSocket::TCustomSyncUSocket;
};

}  // namespace telorus::socket
