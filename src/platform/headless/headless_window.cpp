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
  Invalidate();
  WindowMessage size = WindowMessage::Of(WindowMessageKind::Size);
  size.x = clientWidth;
  size.y = clientHeight;
  Deliver(size);
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
  const int before = b.position;
  b.position = position;
  Clamp(b, bar == ScrollBarKind::Horizontal ? width_ : height_);
  // The content moves: the next paint message draws it at its new place.
  if (b.position != before) Invalidate();
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
  const Rect dest{destX, destY, destX + source.Width(), destY + source.Height()};
  Log({source, dest, false, dest});
  if (failCopies_) return false;
  return surface.BlitTo(pixels_.View(), destX, destY, source.Width(), source.Height(), source.left, source.top);
}

bool HeadlessWindow::StretchFromSurface(const Surface& surface, Rect source, Rect dest, Rect clip) {
  Log({source, dest, true, clip});
  // Only the pixels inside the clip are written: blitting into a view of
  // that part of the window, with the destination moved by the same amount,
  // samples each pixel exactly as the whole copy would.
  const Rect visible = pixels_.Clip(clip);
  if (visible.Empty()) return true;
  SurfaceView part = pixels_.View();
  part.pixels = part.Row(static_cast<int>(visible.top)) + visible.left;
  part.width = static_cast<int>(visible.Width());
  part.height = static_cast<int>(visible.Height());
  return surface.BlitTo(part, dest.left - visible.left, dest.top - visible.top, dest.Width(), dest.Height(),
                        source.left, source.top, source.Width(), source.Height());
}

void HeadlessWindow::DrawDashedOutline(Rect area) {
  // A black pen, dashes of six pixels and gaps of two, along the inside of
  // the area's border.
  constexpr Colour kPen = 0;
  auto dash = [&](std::int64_t x, std::int64_t y, std::int64_t step) {
    if (step % 8 < 6) pixels_.SetPixel(x, y, kPen);
  };
  for (std::int64_t x = area.left; x < area.right; ++x) {
    dash(x, area.top, x - area.left);
    dash(x, area.bottom - 1, x - area.left);
  }
  for (std::int64_t y = area.top; y < area.bottom; ++y) {
    dash(area.left, y, y - area.top);
    dash(area.right - 1, y, y - area.top);
  }
}

void HeadlessWindow::Invalidate() {
  ++invalidations_;
  invalid_ = true;
}

void HeadlessWindow::SetBackground(TColor colour) {
  background_ = DefaultColourValue(colour);
  Invalidate();
}

void HeadlessWindow::PaintNow() {
  if (!invalid_) return;
  invalid_ = false;
  pixels_.FillRect({0, 0, width_, height_}, background_);
  WindowMessage paint = WindowMessage::Of(WindowMessageKind::Paint);
  Deliver(paint);
}

void HeadlessWindow::SetFocus() {
  if (focused_) return;
  focused_ = true;
  WindowMessage focus = WindowMessage::Of(WindowMessageKind::SetFocus);
  Deliver(focus);
}

void HeadlessWindow::LoseFocus() {
  if (!focused_) return;
  focused_ = false;
  WindowMessage focus = WindowMessage::Of(WindowMessageKind::KillFocus);
  Deliver(focus);
}

WindowMessage HeadlessWindow::Inject(WindowMessage message) {
  Deliver(message);
  return message;
}

std::uint32_t HeadlessWindow::PixelAt(int x, int y) const { return pixels_.GetPixel(x, y); }

}  // namespace telorus::platform
