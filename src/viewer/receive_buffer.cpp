#include "viewer/receive_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace telorus::viewer {
namespace {
constexpr std::size_t kInitialCapacity = std::size_t{64} << 10;
}  // namespace

ReceiveBuffer::ReceiveBuffer(std::size_t cap) : cap_(cap) {}

bool ReceiveBuffer::MakeRoom(std::size_t count) {
  const std::size_t unread = Unread();
  if (count > cap_ - unread) return false;
  if (count <= capacity_ - writePos_) return true;
  const std::size_t needed = unread + count;
  if (needed <= capacity_) {
    // Enough space in all: move the unread bytes to the front.
    std::memmove(storage_.get(), storage_.get() + readPos_, unread);
  } else {
    std::size_t grown = std::max(capacity_, kInitialCapacity);
    while (grown < needed) grown = grown > cap_ / 2 ? cap_ : grown * 2;
    grown = std::min(std::max(grown, needed), cap_);
    std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow) std::uint8_t[grown]);
    if (!larger) return false;
    if (unread != 0) std::memcpy(larger.get(), storage_.get() + readPos_, unread);
    storage_ = std::move(larger);
    capacity_ = grown;
  }
  readPos_ = 0;
  writePos_ = unread;
  return true;
}

bool ReceiveBuffer::Append(const void* data, std::size_t count) {
  if (count == 0) return true;
  std::uint8_t* room = PrepareWrite(count);
  if (room == nullptr) return false;
  std::memcpy(room, data, count);
  Commit(count);
  return true;
}

std::uint8_t* ReceiveBuffer::PrepareWrite(std::size_t count) {
  if (!MakeRoom(std::max<std::size_t>(count, 1))) return nullptr;
  return storage_.get() + writePos_;
}

void ReceiveBuffer::Commit(std::size_t count) { writePos_ += std::min(count, capacity_ - writePos_); }

void ReceiveBuffer::Consume(std::size_t count) {
  readPos_ += count;
  if (readPos_ == writePos_) readPos_ = writePos_ = 0;
}

bool ReceiveBuffer::TakeBytes(void* dest, std::size_t count) {
  if (!PeekBytes(dest, count)) return false;
  Consume(count);
  return true;
}

bool ReceiveBuffer::PeekByte(std::uint8_t& byte) const {
  if (Unread() < 1) return false;
  byte = storage_[readPos_];
  return true;
}

bool ReceiveBuffer::PeekBytes(void* dest, std::size_t count) const {
  if (Unread() < count) return false;
  if (count != 0) std::memcpy(dest, storage_.get() + readPos_, count);
  return true;
}

const std::uint8_t* ReceiveBuffer::PeekView(std::size_t count) const {
  static constexpr std::uint8_t kNothing = 0;
  if (Unread() < count) return nullptr;
  return storage_ ? storage_.get() + readPos_ : &kNothing;
}

bool ReceiveBuffer::Discard(std::size_t count) {
  if (Unread() < count) return false;
  Consume(count);
  return true;
}

}  // namespace telorus::viewer
