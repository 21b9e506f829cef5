#include "socket/Resolve.h"

#include <cstdio>

#include "platform/net.h"
#include "socket/SocketErrors.h"
#include "socket/SocketLibrary.h"

namespace telorus::socket {
namespace net = platform::net;

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

template <typename... Args>
std::string Format(const char* format, Args... args) {
  int n = std::snprintf(nullptr, 0, format, args...);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  std::snprintf(out.data(), out.size() + 1, format, args...);
  return out;
}

}  // namespace

std::string Trim(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

bool IsDottedAddress(const std::string& text) {
  std::size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && text[i] == '.') return false;
  int dots = 0;
  std::uint64_t group = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (IsDigit(c)) {
      group = group * 10 + static_cast<unsigned>(c - '0');
      if (group > 0xFFFFFFFFu) group = 0x100000000u;  // stays "too big" without overflowing
    } else if (c == '.') {
      if (++dots > 3 || group > 255 || i + 1 == n || !IsDigit(text[i + 1])) return false;
      group = 0;
    } else {
      // Only a run of trailing blanks may follow.
      for (; i < n; ++i)
        if (text[i] != ' ') return false;
      break;
    }
  }
  return dots == 3 && group <= 255;
}

std::uint32_t ParseLeadingNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  return value;
}

std::uint32_t ResolveHost(const std::string& text) {
  if (text.empty() || text.size() > 256) throw ESocketException("USocketResolveHost: '" + text + "' Invalid Hostname.");
  EnsureSocketLibrary();
  std::string host = Trim(text);
  if (IsDottedAddress(host)) {
    std::uint32_t a = net::InetAddr(host);
    if (a == 0xFFFFFFFFu && host != "255.255.255.255")
      throw ESocketException("USocketResolveHost: '" + text + "' Invalid IP address.");
    return a;
  }
  net::HostEntry entry;
  if (!net::GetHostByName(host, &entry) || entry.addresses.empty())
    throw ESocketException(
        Format("USocketResolveHost: Cannot convert host address '%s', Error #%d", text.c_str(), net::LastError()));
  return entry.addresses.front();
}

std::uint16_t ResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) throw ESocketException("USocketResolvePort: Invalid Port.");
  if (proto.empty() || proto.size() >= 32) throw ESocketException("USocketResolvePort: Invalid Proto.");
  if (IsDigit(port[0])) return static_cast<std::uint16_t>(ParseLeadingNumber(port));
  EnsureSocketLibrary();
  std::uint16_t netPort = 0;
  if (!net::GetServByName(Trim(port), Trim(proto), &netPort))
    throw ESocketException(
        Format("USocketResolvePort: Cannot convert port '%s', Error #%d", port.c_str(), net::LastError()));
  return net::NetToHost16(netPort);
}

int ResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32) throw ESocketException("USocketResolveProto: Invalid Protocol.");
  std::string name = Trim(proto);
  if (!name.empty() && IsDigit(name[0])) return static_cast<int>(ParseLeadingNumber(name));
  EnsureSocketLibrary();
  int number = 0;
  if (!net::GetProtoByName(name, &number))
    throw ESocketException(
        Format("USocketResolveProto: Cannot convert protocol '%s', Error #%d", name.c_str(), net::LastError()));
  return static_cast<std::int16_t>(number);
}

}  // namespace telorus::socket
