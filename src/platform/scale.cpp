#include "platform/scale.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace telorus::platform {
namespace {

// The source pixels under one destination pixel on one axis, with weights
// in 1/65536 that add up to 65536.
struct Taps {
  std::int64_t first = 0;
  std::vector<std::uint32_t> weights;
};

// For destination positions [from, to) of a span of `destLength` pixels
// showing `sourceLength` source pixels from `sourceStart`, clamped to the
// source extent [0, limit).
std::vector<Taps> AxisTaps(std::int64_t from, std::int64_t to, std::int64_t destStart, std::int64_t destLength,
                           std::int64_t sourceStart, std::int64_t sourceLength) {
  std::vector<Taps> out;
  out.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, to - from)));
  for (std::int64_t d = from; d < to; ++d) {
    // The destination pixel covers source [a, b) in units of 1/destLength.
    const std::int64_t a = (d - destStart) * sourceLength;
    const std::int64_t b = a + sourceLength;
    Taps taps;
    taps.first = a / destLength;
    const std::int64_t last = (b - 1) / destLength;
    std::uint64_t given = 0;
    for (std::int64_t s = taps.first; s <= last; ++s) {
      const std::int64_t lo = std::max(a, s * destLength), hi = std::min(b, (s + 1) * destLength);
      const auto w = static_cast<std::uint32_t>(((hi - lo) << 16) / sourceLength);
      taps.weights.push_back(w);
      given += w;
    }
    // Rounding leaves a little over: the largest tap takes it.
    auto largest = std::max_element(taps.weights.begin(), taps.weights.end());
    *largest += static_cast<std::uint32_t>(65536 - given);
    taps.first += sourceStart;
    out.push_back(std::move(taps));
  }
  return out;
}

}  // namespace

void ScaleAreaAverage(const Surface& from, Rect source, const SurfaceView& to, Rect dest, Rect clip) {
  if (from.Width() <= 0 || from.Height() <= 0 || to.pixels == nullptr) return;
  if (source.Width() <= 0 || source.Height() <= 0 || dest.Width() <= 0 || dest.Height() <= 0) return;
  const std::int64_t left = std::max({clip.left, dest.left, std::int64_t{0}});
  const std::int64_t right = std::min({clip.right, dest.right, std::int64_t{to.width}});
  const std::int64_t top = std::max({clip.top, dest.top, std::int64_t{0}});
  const std::int64_t bottom = std::min({clip.bottom, dest.bottom, std::int64_t{to.height}});
  if (right <= left || bottom <= top) return;
  const std::vector<Taps> columns = AxisTaps(left, right, dest.left, dest.Width(), source.left, source.Width());
  const std::vector<Taps> rows = AxisTaps(top, bottom, dest.top, dest.Height(), source.top, source.Height());
  // The source columns these destination columns read.
  const std::int64_t firstColumn = columns.front().first;
  const std::int64_t lastColumn = columns.back().first + static_cast<std::int64_t>(columns.back().weights.size());
  const auto span = static_cast<std::size_t>(lastColumn - firstColumn);
  auto clampX = [&](std::int64_t x) { return static_cast<int>(std::clamp<std::int64_t>(x, 0, from.Width() - 1)); };
  auto clampY = [&](std::int64_t y) { return static_cast<int>(std::clamp<std::int64_t>(y, 0, from.Height() - 1)); };
  // One row of the source, blended vertically, per channel (weights of
  // 1/65536 on 8-bit levels fit 32 bits).
  std::vector<std::uint32_t> blended(span * 3);
  for (std::int64_t y = top; y < bottom; ++y) {
    const Taps& r = rows[static_cast<std::size_t>(y - top)];
    std::fill(blended.begin(), blended.end(), 0u);
    for (std::size_t k = 0; k < r.weights.size(); ++k) {
      const std::uint32_t w = r.weights[k];
      const std::uint32_t* row = from.Row(clampY(r.first + static_cast<std::int64_t>(k)));
      for (std::size_t c = 0; c < span; ++c) {
        const std::uint32_t p = row[clampX(firstColumn + static_cast<std::int64_t>(c))];
        blended[3 * c] += (p & 0xFF) * w;
        blended[3 * c + 1] += ((p >> 8) & 0xFF) * w;
        blended[3 * c + 2] += ((p >> 16) & 0xFF) * w;
      }
    }
    std::uint32_t* out = to.Row(static_cast<int>(y));
    for (std::int64_t x = left; x < right; ++x) {
      const Taps& t = columns[static_cast<std::size_t>(x - left)];
      std::uint64_t sum[3] = {0, 0, 0};
      const auto base = static_cast<std::size_t>(t.first - firstColumn);
      for (std::size_t k = 0; k < t.weights.size(); ++k)
        for (int ch = 0; ch < 3; ++ch) sum[ch] += std::uint64_t{blended[3 * (base + k) + ch]} * t.weights[k];
      // Back from 1/2^32 to levels, rounded.
      auto level = [&](int ch) { return static_cast<std::uint32_t>((sum[ch] + (std::uint64_t{1} << 31)) >> 32); };
      out[x] = level(0) | (level(1) << 8) | (level(2) << 16);
    }
  }
}

}  // namespace telorus::platform
