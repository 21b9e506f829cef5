#include "viewer/password_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "viewer/vncdes.h"

namespace telorus::viewer {

namespace {

// The key of the password files, in the bit order of VNC authentication.
constexpr std::array<std::uint8_t, 8> kFileKey = {23, 82, 107, 6, 35, 78, 88, 7};

std::string Block(const std::uint8_t* in, DesMode mode) {
  Des des;
  des.DesSetKey(kFileKey, mode);
  const auto out = des.DesEncryptBlock(std::span<const std::uint8_t, 8>(in, 8));
  return std::string(reinterpret_cast<const char*>(out.data()), out.size());
}

}  // namespace

bool ReadVncPasswordFile(const std::string& path, std::string& password, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open the password file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::uint8_t bytes[8];
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  if (got != sizeof bytes) {
    error = "the password file " + path + " is not a VNC password file (fewer than 8 bytes)";
    return false;
  }
  std::string plain = Block(bytes, DesMode::Decrypt);
  plain.resize(std::strlen(plain.c_str()));  // zero-padded to 8 bytes
  password = plain;
  return true;
}

std::string ObfuscateVncPassword(const std::string& password) {
  std::uint8_t padded[8] = {};
  std::memcpy(padded, password.data(), std::min<std::size_t>(password.size(), 8));
  return Block(padded, DesMode::Encrypt);
}

bool ReadPasswordLine(std::FILE* stream, std::string& password) {
  std::string line;
  int c;
  bool any = false;
  while ((c = std::fgetc(stream)) != EOF) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (!any) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  password = line;
  return true;
}

}  // namespace telorus::viewer
