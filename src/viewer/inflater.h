// Inflating the zlib streams of the compressed encodings as their bytes
// arrive.
//
// Zlib, Tight and ZRLE rectangles carry a length, then that many bytes of
// one of the connection's persistent zlib streams. `Inflater` is one such
// stream; `InflatedWindow` feeds it the current block's compressed bytes
// straight from the receive buffer, as many as are buffered, and keeps the
// inflated bytes in a window until a decoder has a whole piece (a band of
// rows, a tile) to take. So a rectangle decodes while it is still arriving,
// and a session holds a small window per stream whatever size its
// rectangles have.
//
// Compressed bytes are taken from the receive buffer as they are inflated;
// a decoder that took some reports progress even when it has no whole piece
// yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace telorus::viewer {

class ReceiveBuffer;

class Inflater {
 public:
  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Starts the stream afresh (a new connection, or a Tight reset bit).
  void Reset();

  // Inflates compressed bytes at `in` into `out`; `taken` and `made` tell
  // how many of each were used. False, with an error text, when the data is
  // not a valid zlib stream.
  bool Inflate(const std::uint8_t* in, std::size_t inLength, std::uint8_t* out, std::size_t outLength,
               std::size_t& taken, std::size_t& made, std::string& error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class InflatedWindow {
 public:
  enum class Pull {
    Progress,   // bytes were taken or made: look again
    Stalled,    // nothing more can be made until more bytes arrive
    Exhausted,  // the block's compressed bytes are all used and no more come out
    Failed,     // corrupt data (`Error`)
  };

  // `capacity`: the largest piece a decoder takes at once (and then some).
  explicit InflatedWindow(std::size_t capacity);

  // The next `compressedLength` bytes of the receive buffer are a block of
  // `stream`; the window is emptied.
  void BeginBlock(Inflater& stream, std::uint32_t compressedLength);

  // Inflates what is buffered of the block into the window's free room.
  Pull More(ReceiveBuffer& buffer);
  // `More` until `count` bytes are in the window: true once they are. False
  // when not (yet): `last` says why, and `progress` is set if bytes were
  // taken from the receive buffer meanwhile.
  bool Ensure(ReceiveBuffer& buffer, std::size_t count, bool& progress, Pull& last);

  const std::uint8_t* Data() const { return data_.data() + begin_; }
  std::size_t Available() const { return end_ - begin_; }
  void Consume(std::size_t count) { begin_ += count; }
  std::size_t Capacity() const { return data_.size(); }
  // Compressed bytes of the block not yet taken from the receive buffer.
  std::uint32_t InputLeft() const { return inputLeft_; }
  // Inflates and drops the rest of the block, so that the stream stays in
  // step with the server's: true when it is all used, false while bytes
  // are still to come (or on `Failed`).
  bool DrainBlock(ReceiveBuffer& buffer, Pull& last);
  const std::string& Error() const { return error_; }

 private:
  std::vector<std::uint8_t> data_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  Inflater* stream_ = nullptr;
  std::uint32_t inputLeft_ = 0;
  std::string error_;
};

}  // namespace telorus::viewer
