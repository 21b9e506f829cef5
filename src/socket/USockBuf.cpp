#include "socket/USockBuf.h"

#include <algorithm>
#include <cstring>

namespace telorus::socket {

TBuffer::TBuffer(std::int32_t capacity) : FCapacity(capacity <= 0 ? kDefaultCapacity : capacity) {
  FStorage = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(FCapacity));
}

std::int32_t TBuffer::Write(const void* data, std::int32_t len) {
  std::int32_t room = FCapacity - FWritePos;
  if (room <= 0 || len <= 0) return 0;
  std::int32_t n = std::min(room, len);
  std::memcpy(FStorage.get() + FWritePos, data, static_cast<std::size_t>(n));
  FWritePos += n;
  return n;
}

const std::uint8_t* TBuffer::Peek(std::int32_t* len) const {
  std::int32_t avail = FWritePos - FReadPos;
  if (avail <= 0) {
    *len = 0;
    return nullptr;
  }
  *len = avail;
  return FStorage.get() + FReadPos;
}

std::int32_t TBuffer::Remove(std::int32_t len) {
  std::int32_t avail = FWritePos - FReadPos;
  if (avail <= 0 || len <= 0) return 0;
  std::int32_t n = std::min(len, avail);
  FReadPos += n;
  if (FReadPos == FWritePos) FReadPos = FWritePos = 0;
  return n;
}

}  // namespace telorus::socket
