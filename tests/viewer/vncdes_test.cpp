#include "viewer/vncdes.h"
#include "viewer/password_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace telorus::viewer {
namespace {

std::array<std::uint8_t, 8> Hex8(const char* hex) {
  std::array<std::uint8_t, 8> bytes{};
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
  }
  return bytes;
}

std::string Bytes(const char* hex) {
  std::string bytes;
  for (; hex[0] != '\0'; hex += 2) {
    bytes.push_back(static_cast<char>(std::stoul(std::string(hex, 2), nullptr, 16)));
  }
  return bytes;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published DES known answers: the textbook example, the FIPS 81 ECB sample
// ("Now is the time for all "), NBS SP 500-20 variable-plaintext and
// variable-key entries, and SP 800-17 sample pairs.
constexpr Vector kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
    {"0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "0000000000000000", "8CA64DE9C1B123A7"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
};

TEST(Des, PublishedVectorsEncryptAndDecrypt) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.key);
    Des des;
    des.SetStandardKey(Hex8(v.key), DesMode::Encrypt);
    EXPECT_EQ(des.DesEncryptBlock(Hex8(v.plain)), Hex8(v.cipher));
    des.SetStandardKey(Hex8(v.key), DesMode::Decrypt);
    EXPECT_EQ(des.DesEncryptBlock(Hex8(v.cipher)), Hex8(v.plain));
  }
}

TEST(Des, DesSetKeyReversesTheBitsOfEveryKeyByte) {
  // Feeding the bit-reversed standard key through DesSetKey must give the
  // standard cipher text.
  for (const Vector& v : kVectors) {
    std::array<std::uint8_t, 8> rfbKey = Hex8(v.key);
    for (auto& byte : rfbKey) {
      std::uint8_t reversed = 0;
      for (int bit = 0; bit < 8; ++bit) reversed |= ((byte >> bit) & 1) << (7 - bit);
      byte = reversed;
    }
    Des des;
    des.DesSetKey(rfbKey, DesMode::Encrypt);
    EXPECT_EQ(des.DesEncryptBlock(Hex8(v.plain)), Hex8(v.cipher)) << v.key;
  }
  EXPECT_EQ(ReverseBits(0x01), 0x80);
  EXPECT_EQ(ReverseBits(0xA4), 0x25);
}

TEST(EncryptChallenge, KnownAnswers) {
  // Computed with an independent DES implementation from the bit-reversed,
  // zero-padded, 8-byte-truncated password.
  EXPECT_EQ(EncryptChallenge(Bytes("000102030405060708090a0b0c0d0e0f"), "secret"),
            Bytes("ee22539f33a5983ec12f9c2edbc995dd"));
  EXPECT_EQ(EncryptChallenge(Bytes("00ff10ef20df30cf40bf50af609f708f"), "password123"),
            Bytes("b2661e8ae1e1b25153dea9a6a41e7e62"));
}

TEST(EncryptChallenge, EmptyPasswordAndZeroBytesGiveAFull16ByteResponse) {
  const std::string response = EncryptChallenge(std::string(16, '\0'), "");
  ASSERT_EQ(response.size(), 16u);
  EXPECT_EQ(response, Bytes("8ca64de9c1b123a78ca64de9c1b123a7"));
}

TEST(EncryptChallenge, BlocksAreIndependentAndMatchPlainDesWithReversedKey) {
  const std::string challenge = Bytes("fedcba9876543210fedcba9876543210");
  const std::string response = EncryptChallenge(challenge, "pw");
  // Identical halves encrypt identically: no chaining.
  EXPECT_EQ(response.substr(0, 8), response.substr(8, 8));
  // Second path: reverse the key bits by hand, then standard DES.
  const std::array<std::uint8_t, 8> key{ReverseBits('p'), ReverseBits('w'), 0, 0, 0, 0, 0, 0};
  Des des;
  des.SetStandardKey(key, DesMode::Encrypt);
  const Des::Block expected = des.DesEncryptBlock(Hex8("fedcba9876543210"));
  EXPECT_EQ(response.substr(0, 8), std::string(expected.begin(), expected.end()));
}

TEST(EncryptChallenge, OnlyTheFirstEightBytesAndSevenBitsOfEachCount) {
  const std::string challenge = Bytes("0123456789abcdef0011223344556677");
  EXPECT_EQ(EncryptChallenge(challenge, "abcdefgh"), EncryptChallenge(challenge, "abcdefghXYZ"));
  // The most significant bit of a password byte is a parity bit of the key.
  EXPECT_EQ(EncryptChallenge(challenge, "abcd"),
            EncryptChallenge(challenge, std::string("abc") + static_cast<char>('d' | 0x80)));
  EXPECT_NE(EncryptChallenge(challenge, "abcd"), EncryptChallenge(challenge, "abce"));
}

// The password files that vncpasswd writes read back as their password
// (its first 8 bytes), and ours are byte for byte the same as its own.
TEST(VncPasswordFile, ReadsWhatVncpasswdWritesAndWritesTheSame) {
  if (std::system("command -v vncpasswd >/dev/null 2>&1") != 0) GTEST_SKIP() << "vncpasswd is not installed";
  const std::string path = ::testing::TempDir() + "telorus-passwd";
  for (const std::string password : {"secret", "12345678", "longer than eight"}) {
    SCOPED_TRACE(password);
    ASSERT_EQ(std::system(("printf '%s\\n' '" + password + "' | vncpasswd -f > '" + path + "'").c_str()), 0);
    std::string read, error;
    ASSERT_TRUE(ReadVncPasswordFile(path, read, error)) << error;
    EXPECT_EQ(read, password.substr(0, 8));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(ObfuscateVncPassword(password), bytes);
  }
  std::ofstream(path, std::ios::binary) << "short";
  std::string read, error;
  EXPECT_FALSE(ReadVncPasswordFile(path, read, error));
  EXPECT_NE(error.find("fewer than 8 bytes"), std::string::npos);
  EXPECT_FALSE(ReadVncPasswordFile(path + ".missing", read, error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
  std::remove(path.c_str());
}

TEST(VncPasswordFile, APasswordLineLosesItsLineEndOnly) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("pa ss\r\nsecond", f);
  std::rewind(f);
  std::string line;
  ASSERT_TRUE(ReadPasswordLine(f, line));
  EXPECT_EQ(line, "pa ss");
  ASSERT_TRUE(ReadPasswordLine(f, line));
  EXPECT_EQ(line, "second");
  EXPECT_FALSE(ReadPasswordLine(f, line));
  std::fclose(f);
}

}  // namespace
}  // namespace telorus::viewer
