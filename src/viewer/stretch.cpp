#include "viewer/stretch.h"

#include <cmath>

namespace telorus::viewer {

namespace {

// Nearest integer, halves to even (the default rounding mode).
long double Nearest(long double v) { return std::nearbyint(v); }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

BlockPair ComputeBlocks(std::int64_t frame, std::int64_t view);

}  // namespace

BlockPair StretchBlocks(std::int64_t frame, std::int64_t view) {
  if (frame == view) return {1, 1};
  // A stretched session asks for the same two pairs (one per axis) for
  // every rectangle it draws: the last two answers are kept, as the extended
  // arithmetic below is slow.
  struct Answer {
    std::int64_t frame = 0, view = 0;
    BlockPair pair{1, 1};
  };
  thread_local Answer answers[2];
  thread_local int next = 0;
  for (const Answer& a : answers)
    if (a.frame == frame && a.view == view) return a.pair;
  const BlockPair pair = ComputeBlocks(frame, view);
  answers[next] = {frame, view, pair};
  next ^= 1;
  return pair;
}

namespace {

BlockPair ComputeBlocks(std::int64_t frame, std::int64_t view) {
  // The arithmetic is x87 extended precision (64-bit mantissa): with 53-bit
  // doubles some of these ratios round to the other side of a half, and the
  // pairs would differ from the ones hosts see elsewhere.
  const long double r = static_cast<long double>(view) / static_cast<long double>(frame);
  const long double s = Nearest(1.0L / (1.0L - r));
  const long double d = Nearest(r * s);
  return {static_cast<std::uint16_t>(static_cast<std::int64_t>(s)),
          static_cast<std::uint16_t>(static_cast<std::int64_t>(d))};
}

}  // namespace

AxisScale::AxisScale(std::int64_t frame, std::int64_t view) {
  // Block pairs exist for a third of the frame up to the whole frame; below
  // that d rounds to 0 and above it s is negative.
  if (frame > 0 && view <= frame && 3 * view >= frame) {
    const BlockPair pair = StretchBlocks(frame, view);
    if (pair.source > 0 && pair.dest > 0) {
      source_ = pair.source;
      dest_ = pair.dest;
      return;
    }
  }
  blocks_ = false;
  source_ = frame > 0 ? frame : 1;
  dest_ = view > 0 ? view : 0;
}

ScaledSpan AxisScale::Span(std::int64_t from, std::int64_t to) const {
  ScaledSpan span;
  const std::int64_t s = source_, d = dest_;
  if (blocks_) {
    // Widened to whole source blocks [first, last), then each block scaled
    // to d pixels.
    const std::int64_t first = FloorDiv(from, s);
    const std::int64_t last = FloorDiv(s + to - 1, s);
    span.dest = d * first;
    span.destLength = d * (last - first);
    span.source = s * first;
    span.sourceLength = s * (last - first);
    span.clipFrom = span.dest;
    span.clipTo = span.dest + span.destLength;
    return span;
  }
  // The whole frame onto the whole window, written only where [from, to)
  // shows: its scaled extent and one pixel either side, which a smoothing
  // filter reaches from the neighbouring source pixels.
  span.source = 0;
  span.sourceLength = s;
  span.dest = 0;
  span.destLength = d;
  span.clipFrom = FloorDiv(from * d, s) - 1;
  span.clipTo = FloorDiv(to * d + s - 1, s) + 1;
  return span;
}

std::int64_t AxisScale::ToFrame(std::int64_t at) const {
  if (dest_ == 0) return 0;
  return static_cast<std::int64_t>(
      Nearest(static_cast<long double>(source_) / static_cast<long double>(dest_) * static_cast<long double>(at)));
}

}  // namespace telorus::viewer
