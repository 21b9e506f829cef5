// Turning the texts a host gives a socket into the numbers the network
// needs. Each function raises ESocketException on failure.
#pragma once

#include <cstdint>
#include <string>

namespace telorus::socket {

// Four decimal groups of at most 255 separated by three dots, with blanks
// allowed before and after ("10.0.0.1", " 10.0.0.1 ").
bool IsDottedAddress(const std::string& text);

// The value of the decimal digits after any leading blanks (0 if none).
std::uint32_t ParseLeadingNumber(const std::string& text);

// A dotted address or host name → IPv4 address in network order.
std::uint32_t ResolveHost(const std::string& text);

// A decimal number or service name → port in host order.
std::uint16_t ResolvePort(const std::string& port, const std::string& proto);

// A decimal number or protocol name → protocol number ("tcp" → 6).
int ResolveProto(const std::string& proto);

// Text with leading and trailing blanks (spaces and control characters) removed.
std::string Trim(const std::string& text);

}  // namespace telorus::socket
