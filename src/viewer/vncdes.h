// DES (FIPS 46, single DES, one block at a time) and the challenge response
// of RFB 3.3 VNC authentication.
//
// The server sends 16 random bytes; the client answers with them encrypted
// as two independent DES blocks under a key made from the password: its
// first 8 bytes, zero-padded, with the bits of every byte taken in reverse
// order (RFB numbers key bit 1 as the least significant bit of byte 0).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace telorus::viewer {

enum class DesMode { Encrypt, Decrypt };

class Des {
 public:
  using Block = std::array<std::uint8_t, 8>;

  // Key schedule from a key in the standard's bit numbering (key bit 1 is the
  // most significant bit of byte 0). Decrypt runs the subkeys in reverse.
  void SetStandardKey(std::span<const std::uint8_t, 8> key, DesMode mode);

  // `DesSetKey`: key schedule from a key in RFB's bit numbering, that is with
  // the bits inside each key byte reversed before the standard schedule.
  void DesSetKey(std::span<const std::uint8_t, 8> key, DesMode mode);

  // `DesEncryptBlock`: one block through the sixteen rounds with the current
  // schedule (decrypts when the schedule was set up for decryption).
  Block DesEncryptBlock(std::span<const std::uint8_t, 8> input) const;

 private:
  std::array<std::uint64_t, 16> subkeys_{};  // 48 bits each, in the order used
};

// Reverses the order of the bits in one byte.
std::uint8_t ReverseBits(std::uint8_t value);

// `EncryptChallenge`: the 16-byte response to a 16-byte challenge. Only the
// first 8 bytes of the password count; a shorter one is padded with zeros.
// Challenge bytes beyond 16 are ignored and missing ones count as zero.
std::string EncryptChallenge(std::string_view challenge, std::string_view password);

}  // namespace telorus::viewer
