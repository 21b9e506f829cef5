#include "platform/headless/headless_window.h"

#include <algorithm>

namespace telorus::platform {

HeadlessWindow::HeadlessWindow(int clientWidth, int clientHeight)
    : width_(clientWidth), height_(clientHeight), pixels_(clientWidth, clientHeight) {}

void HeadlessWindow::Resize(int clientWidth, int clientHeight) {
  width_ = clientWidth;
  height_ = clientHeight;
  pixels_ = Surface(clientWidth, clientHeight);
  Clamp(horizontal_, width_);
  Clamp(vertical_, height_);
}

ScrollBarState HeadlessWindow::ScrollBar(ScrollBarKind bar) const {
  return bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_;
}

void HeadlessWindow::Clamp(ScrollBarState& bar, int client) {
  int max = std::max(0, bar.range - client);
  bar.position = std::clamp(bar.position, 0, max);
}

void HeadlessWindow::SetScrollRange(ScrollBarKind bar, int range) {
  ScrollBarState& b = bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_;
  b.range = std::max(0, range);
  Clamp(b, bar == ScrollBarKind::Horizontal ? width_ : height_);
}

void HeadlessWindow::SetScrollPosition(ScrollBarKind bar, int position) {
  ScrollBarState& b = bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_;
  b.position = position;
  Clamp(b, bar == ScrollBarKind::Horizontal ? width_ : height_);
}

void HeadlessWindow::SetScrollVisible(ScrollBarKind bar, bool visible) {
  (bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_).visible = visible;
}

void HeadlessWindow::Log(const Copy& copy) {
  // Dropping the older half when the log reaches twice its size keeps the
  // cost per copy constant.
  if (copies_.size() >= 2 * kCopyLogKeeps) {
    copies_.erase(copies_.begin(), copies_.end() - static_cast<std::ptrdiff_t>(kCopyLogKeeps));
  }
  copies_.push_back(copy);
}

bool HeadlessWindow::CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) {
  Log({source, {destX, destY, destX + source.Width(), destY + source.Height()}, false});
  if (failCopies_) return false;
  return surface.BlitTo(pixels_.View(), destX, destY, source.Width(), source.Height(), source.left, source.top);
}

bool HeadlessWindow::StretchFromSurface(const Surface& surface, Rect source, Rect dest) {
  Log({source, dest, true});
  return surface.BlitTo(pixels_.View(), dest.left, dest.top, dest.Width(), dest.Height(), source.left, source.top,
                        source.Width(), source.Height());
}

void HeadlessWindow::Invalidate() {
  ++invalidations_;
  // Nothing is painted until the owner's paint handler runs: the client
  // area shows the background.
  pixels_.FillRect({0, 0, width_, height_}, 0);
}

std::uint32_t HeadlessWindow::PixelAt(int x, int y) const { return pixels_.GetPixel(x, y); }

}  // namespace telorus::platform
