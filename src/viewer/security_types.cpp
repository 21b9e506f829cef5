#include "viewer/security_types.h"

#include <cctype>
#include <utility>

#include "viewer/rfb_wire.h"

namespace telorus::viewer {

namespace {

constexpr std::pair<std::string_view, std::uint32_t> kNames[] = {
    {"None", rfb::kSecurityNone},           {"VncAuth", rfb::kSecurityVncAuth},   {"AnonTLS", rfb::kSecurityTLS},
    {"Plain", rfb::kVeNCryptPlain},         {"TLSNone", rfb::kVeNCryptTLSNone},   {"TLSVnc", rfb::kVeNCryptTLSVnc},
    {"TLSPlain", rfb::kVeNCryptTLSPlain},   {"X509None", rfb::kVeNCryptX509None}, {"X509Vnc", rfb::kVeNCryptX509Vnc},
    {"X509Plain", rfb::kVeNCryptX509Plain},
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

bool ParseSecurityTypes(std::string_view list, std::vector<std::uint32_t>& codes, std::string& error) {
  std::vector<std::uint32_t> parsed;
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t end = list.find(',', at);
    if (end == std::string_view::npos) end = list.size();
    std::string_view item = list.substr(at, end - at);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.front()))) item.remove_prefix(1);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back()))) item.remove_suffix(1);
    if (!item.empty()) {
      bool known = false;
      for (const auto& [name, code] : kNames)
        if (SameName(item, name)) {
          known = true;
          bool seen = false;
          for (std::uint32_t c : parsed) seen = seen || c == code;
          if (!seen) parsed.push_back(code);
        }
      if (!known) {
        error = "Unknown security type: " + std::string(item);
        return false;
      }
    }
    at = end + 1;
  }
  if (parsed.empty()) {
    error = "No security type is accepted";
    return false;
  }
  codes = std::move(parsed);
  return true;
}

std::string SecurityTypeName(std::uint32_t code) {
  for (const auto& [name, c] : kNames)
    if (c == code) return std::string(name);
  if (code == rfb::kSecurityVeNCrypt) return "VeNCrypt";
  return std::to_string(code);
}

std::uint8_t SecurityTypeOf(std::uint32_t code) {
  return code >= rfb::kVeNCryptPlain ? rfb::kSecurityVeNCrypt : static_cast<std::uint8_t>(code);
}

bool IsEncrypted(std::uint32_t code) {
  return code == rfb::kSecurityTLS || (code > rfb::kVeNCryptPlain && code <= rfb::kVeNCryptX509Plain);
}

bool UsesCertificate(std::uint32_t code) { return code >= rfb::kVeNCryptX509None && code <= rfb::kVeNCryptX509Plain; }

}  // namespace telorus::viewer
