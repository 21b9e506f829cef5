// One fixed-capacity block of outgoing bytes. A socket keeps an ordered list
// of them, its send chain: data is appended to the last block and drained
// from the first.
#pragma once

#include <cstdint>
#include <memory>

namespace telorus::socket {

class TBuffer {
 public:
  static constexpr std::int32_t kDefaultCapacity = 1514;

  // A capacity of 0 or less is replaced by kDefaultCapacity.
  explicit TBuffer(std::int32_t capacity);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // Copies as much of data as fits after WritePos; returns the count copied.
  std::int32_t Write(const void* data, std::int32_t len);
  // The unsent bytes: a pointer to them and their count (0 and null if none).
  const std::uint8_t* Peek(std::int32_t* len) const;
  // Marks up to len unsent bytes as taken; when none are left both positions
  // return to 0 so the whole block is writable again. Returns the count.
  std::int32_t Remove(std::int32_t len);

  std::int32_t Capacity() const { return FCapacity; }
  std::int32_t WritePos() const { return FWritePos; }
  std::int32_t ReadPos() const { return FReadPos; }
  std::int32_t Unsent() const { return FWritePos - FReadPos; }

 private:
  std::unique_ptr<std::uint8_t[]> FStorage;
  std::int32_t FCapacity;
  std::int32_t FWritePos = 0;
  std::int32_t FReadPos = 0;
};

}  // namespace telorus::socket
