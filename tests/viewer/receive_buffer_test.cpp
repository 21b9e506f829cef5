#include "viewer/receive_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "viewer/big_endian.h"

namespace telorus::viewer {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

TEST(ReceiveBuffer, PrimitivesFailOnShortDataAndChangeNothing) {
  ReceiveBuffer buffer;
  std::uint8_t byte = 0xAA;
  std::uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_FALSE(buffer.PeekByte(byte));
  EXPECT_EQ(byte, 0xAA);

  const std::uint8_t data[] = {1, 2, 3};
  ASSERT_TRUE(buffer.Append(data, sizeof data));
  EXPECT_FALSE(buffer.TakeBytes(out, 4));
  EXPECT_FALSE(buffer.PeekBytes(out, 4));
  EXPECT_FALSE(buffer.Discard(4));
  EXPECT_EQ(buffer.PeekView(4), nullptr);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(buffer.Unread(), 3u);

  ASSERT_TRUE(buffer.PeekByte(byte));
  EXPECT_EQ(byte, 1);
  ASSERT_TRUE(buffer.PeekBytes(out, 2));
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(buffer.Unread(), 3u);
  ASSERT_TRUE(buffer.TakeBytes(out, 2));
  EXPECT_EQ(buffer.Unread(), 1u);
  ASSERT_TRUE(buffer.PeekByte(byte));
  EXPECT_EQ(byte, 3);
  ASSERT_TRUE(buffer.TakeBytes(out, 1));
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(buffer.Unread(), 0u);
  // Zero-byte pieces always succeed.
  EXPECT_TRUE(buffer.TakeBytes(out, 0));
  EXPECT_NE(buffer.PeekView(0), nullptr);
}

TEST(ReceiveBuffer, HoldsAFull3840x2160RawRectangleReceivedIn256ByteReads) {
  const std::vector<std::uint8_t> header = {0, 0, 0, 1};
  const std::vector<std::uint8_t> pixels = Pattern(3840u * 2160u * 4u, 7);
  ReceiveBuffer buffer;
  ASSERT_TRUE(buffer.Append(header.data(), header.size()));
  std::uint8_t taken[2];
  ASSERT_TRUE(buffer.TakeBytes(taken, 2));  // the front is partly consumed
  for (std::size_t at = 0; at < pixels.size(); at += 256) {
    const std::size_t count = std::min<std::size_t>(256, pixels.size() - at);
    std::uint8_t* room = buffer.PrepareWrite(256);
    ASSERT_NE(room, nullptr);
    std::memcpy(room, pixels.data() + at, count);
    buffer.Commit(count);
  }
  ASSERT_EQ(buffer.Unread(), pixels.size() + 2);
  ASSERT_TRUE(buffer.TakeBytes(taken, 2));
  EXPECT_EQ(taken[1], 1);
  const std::uint8_t* view = buffer.PeekView(pixels.size());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::memcmp(view, pixels.data(), pixels.size()), 0);
}

TEST(ReceiveBuffer, CapIsReportedAndLeavesTheBufferIntact) {
  ReceiveBuffer buffer(1000);
  const std::vector<std::uint8_t> data = Pattern(1000, 3);
  ASSERT_TRUE(buffer.Append(data.data(), 600));
  EXPECT_FALSE(buffer.Append(data.data() + 600, 401));
  EXPECT_EQ(buffer.PrepareWrite(401), nullptr);
  EXPECT_EQ(buffer.Unread(), 600u);
  EXPECT_FALSE(buffer.CanHold(1001));
  EXPECT_TRUE(buffer.CanHold(1000));

  // Consuming makes room again, and the order of the bytes survives the move.
  ASSERT_TRUE(buffer.Discard(200));
  ASSERT_TRUE(buffer.Append(data.data() + 600, 400));
  EXPECT_EQ(buffer.Unread(), 800u);
  std::vector<std::uint8_t> out(800);
  ASSERT_TRUE(buffer.TakeBytes(out.data(), out.size()));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + 200));
}

TEST(ReceiveBuffer, RandomAppendsAndTakesMatchAQueue) {
  // Small cap so that compaction and growth both happen often.
  ReceiveBuffer buffer(300);
  std::deque<std::uint8_t> model;
  std::mt19937 random(12345);
  std::uint8_t next = 0;
  for (int step = 0; step < 20000; ++step) {
    if (random() % 2 == 0) {
      const std::size_t count = random() % 120;
      std::vector<std::uint8_t> data(count);
      for (auto& byte : data) byte = next++;
      const bool fits = model.size() + count <= 300;
      ASSERT_EQ(buffer.Append(data.data(), count), fits);
      if (fits)
        model.insert(model.end(), data.begin(), data.end());
      else
        next = static_cast<std::uint8_t>(next - count);
    } else {
      const std::size_t count = random() % 100;
      std::vector<std::uint8_t> out(count);
      const bool enough = model.size() >= count;
      ASSERT_EQ(buffer.TakeBytes(out.data(), count), enough);
      if (enough) {
        ASSERT_TRUE(std::equal(out.begin(), out.end(), model.begin()));
        model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(count));
      }
    }
    ASSERT_EQ(buffer.Unread(), model.size());
  }
}

TEST(BigEndian, ReadsAndWritesNetworkOrder) {
  std::uint8_t bytes[4];
  WriteU32BE(bytes, 0x01020304u);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
  EXPECT_EQ(ReadU32BE(bytes), 0x01020304u);
  WriteU16BE(bytes, 0xABCD);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(ReadU16BE(bytes), 0xABCD);
}

}  // namespace
}  // namespace telorus::viewer
