// Asynchronous name and address lookups of a socket, reported through
// OnDnsLookupDone.
#include "socket/Resolve.h"
#include "socket/SocketLibrary.h"
#include "socket/USocket.h"

namespace telorus::socket {
namespace net = platform::net;

void TCustomUSocket::DnsLookup(const std::string& hostName) {
  if (hostName.empty()) {
    RaiseError("DNS lookup: invalid host name.");
    DoDnsLookupDone(net::kWsaEinval);
    return;
  }
  EnsureSocketLibrary();
  if (FLookupHandle != 0) {
    net::CancelAsyncRequest(FLookupHandle);  // a cancelled lookup reports nothing
    FLookupHandle = 0;
  }
  FDnsResult.clear();
  FDnsResultList.clear();
  if (IsDottedAddress(hostName)) {
    std::uint32_t a = net::InetAddr(Trim(hostName));
    if (a != 0xFFFFFFFFu) {
      FDnsResult = net::InetNtoa(a);
      FDnsResultList.push_back(FDnsResult);
      DoDnsLookupDone(0);
      return;
    }
  }
  if (!FNotifier) {
    RaiseError("DnsLookup: Window not assigned");
    return;
  }
  FLookupEarlyDone = false;
  FLookupHandle = net::AsyncGetHostByName(NotifierHandle(), kMsgHostLookupDone, hostName, &FLookupResult);
  if (FLookupHandle == 0) {
    RaiseErrorFmt(hostName + ": can't start DNS lookup, error #" + std::to_string(net::LastError()));
  } else if (FLookupEarlyDone) {
    FLookupEarlyDone = false;
    HandleHostLookupDone(FLookupEarlyRecord);
  }
}

void TCustomUSocket::HandleHostLookupDone(TMessage& msg) {
  if (FLookupHandle == 0) {
    // The completion came before the start call returned its handle.
    FLookupEarlyRecord = msg;
    FLookupEarlyDone = true;
    return;
  }
  if (msg.WParam != FLookupHandle) return;  // a lookup that is no longer current
  FLookupHandle = 0;
  auto error = static_cast<std::uint16_t>(net::SelectError(msg.LParam));
  if (error == 0) {
    for (std::uint32_t a : FLookupResult.addresses) FDnsResultList.push_back(net::InetNtoa(a));
    if (!FDnsResultList.empty()) FDnsResult = FDnsResultList.front();
  }
  DoDnsLookupDone(error);
}

void TCustomUSocket::ReverseDnsLookup(const std::string& hostAddr) {
  if (hostAddr.empty() || hostAddr.size() > 256) {
    RaiseError("ReverseDnsLookup: Invalid host name.");
    DoDnsLookupDone(net::kWsaEinval);
    return;
  }
  EnsureSocketLibrary();
  if (FLookupHandle != 0) net::CancelAsyncRequest(FLookupHandle);
  FDnsResult.clear();
  FDnsResultList.clear();
  std::uint32_t address = net::InetAddr(hostAddr);
  if (!FNotifier) {
    RaiseError("ReverseDnsLookup: Window not assigned");
    return;
  }
  FLookupHandle = net::AsyncGetHostByAddr(NotifierHandle(), kMsgAddrLookupDone, address, &FLookupResult);
  if (FLookupHandle == 0)
    RaiseErrorFmt(hostAddr + ": can't start DNS lookup, error #" + std::to_string(net::LastError()));
}

void TCustomUSocket::HandleAddrLookupDone(TMessage& msg) {
  if (FLookupHandle == 0 || msg.WParam != FLookupHandle) return;
  FLookupHandle = 0;
  auto error = static_cast<std::uint16_t>(net::SelectError(msg.LParam));
  if (error == 0) {
    FDnsResult = FLookupResult.officialName;
    FDnsResultList = {FDnsResult};
  }
  DoDnsLookupDone(error);
}

void TCustomUSocket::CancelDnsLookup() {
  if (FLookupHandle == 0) return;
  if (net::CancelAsyncRequest(FLookupHandle) != 0) {
    FLookupHandle = 0;
    ReportSocketError("WSACancelAsyncRequest");
    return;
  }
  FLookupHandle = 0;
  if (!Destroying()) DoDnsLookupDone(net::kWsaEintr);
}

}  // namespace telorus::socket
