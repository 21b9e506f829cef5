// The viewer's receive buffer: bytes read from the socket wait here until the
// engine or a decoder takes a whole protocol piece.
//
// Protocol code peeks before it takes and never rewinds: `PeekByte`,
// `PeekBytes` and `PeekView` look without consuming, `TakeBytes` and
// `Discard` consume, and each fails without changing anything when fewer
// bytes than asked for are buffered. `Unread` tells how many are buffered.
//
// The unread bytes are always contiguous. When they are all consumed the
// positions go back to the start. New data that does not fit behind the
// unread bytes first moves them to the front, then grows the storage, up to
// a cap; data that would take the buffer past the cap is refused (`Append`
// returns false, `PrepareWrite` nullptr) so the engine can end the session
// instead of exhausting memory. The storage is never written past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace telorus::viewer {

class ReceiveBuffer {
 public:
  static constexpr std::size_t kDefaultCap = std::size_t{64} << 20;  // 64 MiB

  explicit ReceiveBuffer(std::size_t cap = kDefaultCap);

  ReceiveBuffer(const ReceiveBuffer&) = delete;
  ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

  // The number of received bytes not yet consumed.
  std::size_t Unread() const { return writePos_ - readPos_; }
  // The largest number of unread bytes the buffer will ever hold.
  std::size_t Cap() const { return cap_; }
  // Whether `count` unread bytes could be held at once.
  bool CanHold(std::uint64_t count) const { return count <= cap_; }

  // Appends `count` bytes; false (nothing appended) when the unread bytes
  // would then exceed the cap or memory runs out.
  bool Append(const void* data, std::size_t count);

  // Room for `count` bytes behind the unread ones, for a socket to receive
  // into directly; follow with `Commit` of the number actually stored.
  // nullptr when the cap or memory does not allow it.
  std::uint8_t* PrepareWrite(std::size_t count);
  void Commit(std::size_t count);

  // `TakeBytes`: copies `count` bytes to dest and consumes them.
  bool TakeBytes(void* dest, std::size_t count);
  // `PeekByte`: the next byte, not consumed.
  bool PeekByte(std::uint8_t& byte) const;
  // `PeekBytes`: copies the next `count` bytes, not consumed.
  bool PeekBytes(void* dest, std::size_t count) const;
  // The next `count` bytes in place, not consumed; valid until the next
  // call that adds or consumes bytes. nullptr when fewer are buffered.
  const std::uint8_t* PeekView(std::size_t count) const;
  // Consumes `count` bytes without copying them.
  bool Discard(std::size_t count);
  // Drops everything buffered.
  void Clear() { readPos_ = writePos_ = 0; }

 private:
  bool MakeRoom(std::size_t count);
  void Consume(std::size_t count);

  std::unique_ptr<std::uint8_t[]> storage_;
  std::size_t capacity_ = 0;
  std::size_t cap_;
  std::size_t readPos_ = 0;
  std::size_t writePos_ = 0;
};

}  // namespace telorus::viewer
