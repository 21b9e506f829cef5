#include "viewer/inflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "viewer/receive_buffer.h"

namespace telorus::viewer {

// The streams are inflated raw, after their two-byte zlib header has been
// checked here: a server never finishes a stream (each rectangle ends with
// a flush), so the Adler-32 checksum of the zlib format would never be
// compared, and computing it costs an eighth of Tight's decoding time.
struct Inflater::State {
  z_stream z{};
  bool initialised = false;
  bool ended = false;  // the server finished the stream, which it never should
  std::uint8_t header[2] = {};
  std::uint8_t headerHave = 0;
};

Inflater::Inflater() : state_(std::make_unique<State>()) {}

Inflater::~Inflater() {
  if (state_->initialised) inflateEnd(&state_->z);
}

void Inflater::Reset() {
  if (state_->initialised) inflateReset(&state_->z);
  state_->ended = false;
  state_->headerHave = 0;
}

bool Inflater::Inflate(const std::uint8_t* in, std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                       std::size_t& taken, std::size_t& made, std::string& error) {
  taken = made = 0;
  State& s = *state_;
  if (!s.initialised) {
    s.z = z_stream{};
    if (inflateInit2(&s.z, -MAX_WBITS) != Z_OK) {
      error = "Zlib could not start a stream";
      return false;
    }
    s.initialised = true;
  }
  if (s.ended) {
    if (inLength == 0) return true;
    error = "Zlib stream ended before its data";
    return false;
  }
  // The zlib header: compression method 8 (deflate), a window of at most
  // 32 KiB, no preset dictionary, and its check bits.
  while (s.headerHave < 2 && inLength > 0) {
    s.header[s.headerHave++] = *in++;
    --inLength;
    ++taken;
  }
  if (s.headerHave < 2) return true;
  if (s.headerHave == 2) {
    const unsigned cmf = s.header[0], flg = s.header[1];
    if ((cmf & 0x0Fu) != 8 || (cmf >> 4) > 7 || ((cmf << 8) | flg) % 31 != 0) {
      error = "Zlib data is corrupt: incorrect header check";
      return false;
    }
    if (flg & 0x20u) {
      error = "Zlib data is corrupt: a preset dictionary is not possible here";
      return false;
    }
    s.headerHave = 3;  // checked
  }
  // zlib counts in uInt; pieces here are far smaller, but clamp anyway.
  constexpr std::size_t kMax = std::numeric_limits<uInt>::max();
  s.z.next_in = const_cast<Bytef*>(in);
  s.z.avail_in = static_cast<uInt>(std::min(inLength, kMax));
  s.z.next_out = out;
  s.z.avail_out = static_cast<uInt>(std::min(outLength, kMax));
  const uInt inBefore = s.z.avail_in;
  const uInt outBefore = s.z.avail_out;
  const int result = inflate(&s.z, Z_SYNC_FLUSH);
  taken += inBefore - s.z.avail_in;
  made = outBefore - s.z.avail_out;
  s.z.next_in = nullptr;
  s.z.next_out = nullptr;
  switch (result) {
    case Z_OK:
    case Z_BUF_ERROR:  // no progress was possible: not an error in itself
      return true;
    case Z_STREAM_END: s.ended = true; return true;
    default:
      error = std::string("Zlib data is corrupt") + (s.z.msg != nullptr ? std::string(": ") + s.z.msg : "");
      return false;
  }
}

InflatedWindow::InflatedWindow(std::size_t capacity) : data_(capacity) {}

void InflatedWindow::BeginBlock(Inflater& stream, std::uint32_t compressedLength) {
  stream_ = &stream;
  inputLeft_ = compressedLength;
  begin_ = end_ = 0;
  error_.clear();
}

InflatedWindow::Pull InflatedWindow::More(ReceiveBuffer& buffer) {
  if (stream_ == nullptr) return Pull::Exhausted;
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (begin_ > 0 && end_ == data_.size()) {
    std::memmove(data_.data(), data_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t room = data_.size() - end_;
  if (room == 0) return Pull::Progress;  // the caller consumes first
  const std::size_t inLength = std::min<std::size_t>(inputLeft_, buffer.Unread());
  const std::uint8_t* in = inLength > 0 ? buffer.PeekView(inLength) : nullptr;
  std::size_t taken = 0;
  std::size_t made = 0;
  if (!stream_->Inflate(in, inLength, data_.data() + end_, room, taken, made, error_)) {
    return Pull::Failed;
  }
  buffer.Discard(taken);
  inputLeft_ -= static_cast<std::uint32_t>(taken);
  end_ += made;
  if (taken > 0 || made > 0) return Pull::Progress;
  // Nothing moved although there was room: either everything of the block
  // has been used, or its next bytes have not arrived.
  return inputLeft_ == 0 || inLength > 0 ? Pull::Exhausted : Pull::Stalled;
}

bool InflatedWindow::Ensure(ReceiveBuffer& buffer, std::size_t count, bool& progress, Pull& last) {
  if (count > data_.size()) {
    // A piece larger than the window: grow it once to fit.
    std::vector<std::uint8_t> bigger(count);
    std::memcpy(bigger.data(), Data(), Available());
    end_ = Available();
    begin_ = 0;
    data_.swap(bigger);
  }
  while (Available() < count) {
    // Make room for the whole piece behind what is there.
    if (data_.size() - begin_ < count) {
      std::memmove(data_.data(), data_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    const std::uint32_t inputBefore = inputLeft_;
    last = More(buffer);
    if (inputLeft_ != inputBefore) progress = true;
    if (last != Pull::Progress) return false;
  }
  return true;
}

bool InflatedWindow::DrainBlock(ReceiveBuffer& buffer, Pull& last) {
  for (;;) {
    begin_ = end_ = 0;
    last = More(buffer);
    if (last == Pull::Exhausted) return inputLeft_ == 0;
    if (last != Pull::Progress) return false;
  }
}

}  // namespace telorus::viewer
