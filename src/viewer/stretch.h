// How a stretched viewer scales the framebuffer onto its window, one axis at
// a time.
//
// For a window between a third of the framebuffer and its full size, the
// picture is scaled by a block pair: each block of `source` framebuffer
// pixels becomes `dest` window pixels, with the pair worked out from the
// ratio in 80-bit extended arithmetic (`StretchBlocks`). Copies are widened
// to whole blocks, so a rectangle copied on its own lands on exactly the
// window pixels that a copy of the whole frame gives it.
//
// Outside that range no usable block pair exists (a window larger than the
// framebuffer gives a negative block, one below a third a zero one), so the
// axis is scaled by the exact ratio: the whole frame maps onto the whole
// window, and a rectangle's copy is that mapping clipped to the window
// pixels the rectangle reaches.
//
// The pointer is mapped back through the same transform as the picture, so a
// click lands on the framebuffer pixel shown under it.
#pragma once

#include <cstdint>

namespace telorus::viewer {

struct BlockPair {
  std::uint16_t source = 1;
  std::uint16_t dest = 1;
};

// The block pair for a framebuffer extent and a viewer extent with
// frame / 3 <= view <= frame: s = nearest(1 / (1 − view / frame)) and
// d = nearest(view / frame × s), halves to even, in extended precision.
BlockPair StretchBlocks(std::int64_t frame, std::int64_t view);

// One axis of a scaled copy: the source span, the destination span it is
// scaled onto, and the window pixels written.
struct ScaledSpan {
  std::int64_t source = 0, sourceLength = 0;
  std::int64_t dest = 0, destLength = 0;
  std::int64_t clipFrom = 0, clipTo = 0;
};

class AxisScale {
 public:
  AxisScale(std::int64_t frame, std::int64_t view);

  // The copy of framebuffer pixels [from, to) on this axis.
  ScaledSpan Span(std::int64_t from, std::int64_t to) const;
  // The framebuffer position under window position `at`.
  std::int64_t ToFrame(std::int64_t at) const;

  bool UsesBlocks() const { return blocks_; }
  // The scale is dest / source: the block pair, or view / frame.
  std::int64_t Source() const { return source_; }
  std::int64_t Dest() const { return dest_; }

 private:
  bool blocks_ = true;
  std::int64_t source_ = 1;
  std::int64_t dest_ = 1;
};

}  // namespace telorus::viewer
