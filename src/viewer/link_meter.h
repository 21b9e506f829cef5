// The link's throughput, measured on whole framebuffer updates, and the
// JPEG quality it calls for: lossless where the link is fast, lower
// qualities as it gets slower, so that a slow link still shows a moving
// picture and a fast one shows it exactly.
#pragma once

#include <cstdint>

namespace telorus::viewer {

class LinkMeter {
 public:
  // Updates smaller than this say more about latency than throughput and
  // are not counted.
  static constexpr std::uint64_t kMinSampleBytes = 32 * 1024;

  // An update of `bytes` arrived in `seconds` (from its header to its last
  // rectangle).
  void Sample(std::uint64_t bytes, double seconds);
  void Reset();

  // The smoothed throughput in bits per second; 0 before the first sample.
  double BitsPerSecond() const { return rate_; }
  // -1 for lossless, otherwise a JPEG quality 0..9.
  int Quality() const { return quality_; }

 private:
  double rate_ = 0;
  int quality_ = -1;
};

}  // namespace telorus::viewer
