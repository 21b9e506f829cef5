#include "viewer/link_meter.h"

#include <algorithm>
#include <iterator>

namespace telorus::viewer {

namespace {

// Throughput (bits per second) from which each quality is chosen, best
// first; below the last one, the lowest quality.
struct Step {
  double bitsPerSecond;
  int quality;
};
constexpr Step kSteps[] = {
    {150e6, -1}, {16e6, 8}, {8e6, 7}, {3e6, 6}, {1e6, 4}, {0, 2},
};

constexpr double kCeiling = 400e6;

int QualityFor(double rate) {
  for (const Step& step : kSteps) {
    if (rate >= step.bitsPerSecond) return step.quality;
  }
  return kSteps[std::size(kSteps) - 1].quality;
}

// Quality -1 (lossless) ranks above 9.
int Rank(int quality) { return quality < 0 ? 10 : quality; }

}  // namespace

void LinkMeter::Sample(std::uint64_t bytes, double seconds) {
  if (bytes < kMinSampleBytes) return;
  // Rates far above the lossless step say only that the link kept up (an
  // update read in one go from the buffer takes no measurable time): they
  // are counted as that much, so a link that then slows is seen soon.
  const double rate = std::min(static_cast<double>(bytes) * 8 / std::max(seconds, 1e-6), kCeiling);
  rate_ = rate_ == 0 ? rate : rate_ * 0.7 + rate * 0.3;
  // Change only when the rate is clearly on the other side of a step
  // (25 % beyond it), so a rate near a step does not flip back and forth.
  const int wanted = QualityFor(rate_);
  if (wanted == quality_) return;
  const bool better = Rank(wanted) > Rank(quality_);
  const int candidate = QualityFor(better ? rate_ / 1.25 : rate_ * 1.25);
  if (better ? Rank(candidate) > Rank(quality_) : Rank(candidate) < Rank(quality_)) quality_ = candidate;
}

void LinkMeter::Reset() {
  rate_ = 0;
  quality_ = -1;
}

}  // namespace telorus::viewer
