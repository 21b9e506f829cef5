// The display: the framebuffer shown in the viewer's window, one to one at the
// view offsets (with scroll bars when AutoScroll is set) or scaled to the
// window (Stretch). The window is brought up to date by its paint message,
// which copies the whole picture, and by PaintUpdatedRect, which the engine
// calls for every decoded rectangle. The framebuffer is the back buffer:
// nothing else is kept.
#include "viewer/Telorus.h"
#include "viewer/stretch.h"

namespace telorus::viewer {

using platform::ScrollBarKind;

void TQuarneTelorus::Paint() {
  // The window has validated itself and erased its background in Color.
  if (Designing()) {
    FWindow.DrawDashedOutline({0, 0, FWindow.Width(), FWindow.Height()});
    return;
  }
  if (!FSession->Frame()) return;
  if (FStretch) {
    ScaledCopy(0, 0, FSession->FrameWidth(), FSession->FrameHeight());
    return;
  }
  RefreshOffsetsFromScrollBars();
  CopyWholePicture();
}

void TQuarneTelorus::CopyWholePicture() {
  // Parts of the window beyond the picture keep the background.
  FWindow.CopyFromSurface(FSession->Frame()->Surface(), {0, 0, FSession->FrameWidth(), FSession->FrameHeight()},
                          -std::int64_t{FxPosition}, -std::int64_t{FyPosition});
}

void TQuarneTelorus::ScaledCopy(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom) {
  if (FSession->FrameWidth() <= 0 || FSession->FrameHeight() <= 0) return;
  const ScaledSpan x = AxisScale(FSession->FrameWidth(), FWindow.Width()).Span(left, right);
  const ScaledSpan y = AxisScale(FSession->FrameHeight(), FWindow.Height()).Span(top, bottom);
  // The result of a scaled copy is not examined: a failure shows at the next
  // paint.
  FWindow.StretchFromSurface(
      FSession->Frame()->Surface(), {x.source, y.source, x.source + x.sourceLength, y.source + y.sourceLength},
      {x.dest, y.dest, x.dest + x.destLength, y.dest + y.destLength}, {x.clipFrom, y.clipFrom, x.clipTo, y.clipTo});
}

void TQuarneTelorus::PaintUpdatedRect(int x, int y, int width, int height) {
  if (!FSession->Frame()) return;
  if (FStretch) {
    ScaledCopy(x, y, std::int64_t{x} + width, std::int64_t{y} + height);
    return;
  }
  RefreshOffsetsFromScrollBars();
  if (!FWindow.CopyFromSurface(FSession->Frame()->Surface(), {x, y, std::int64_t{x} + width, std::int64_t{y} + height},
                               std::int64_t{x} - FxPosition, std::int64_t{y} - FyPosition))
    DoStatus("Bitblt Fail!");
}

void TQuarneTelorus::RefreshOffsetsFromScrollBars() {
  // A visible scroll bar is the authority on its offset: the user may have
  // moved it.
  const auto h = FWindow.ScrollBar(ScrollBarKind::Horizontal);
  const auto v = FWindow.ScrollBar(ScrollBarKind::Vertical);
  if (h.visible) FxPosition = h.position;
  if (v.visible) FyPosition = v.position;
}

namespace {
// Clamps a view offset: 0 when the picture fits, else at most one less than
// the largest scroll position.
std::int32_t ClampOffset(std::int32_t value, std::int32_t frame, std::int32_t extent) {
  if (frame <= extent) return 0;
  if (value >= frame - extent) value = frame - extent - 1;
  return value < 0 ? 0 : value;
}
}  // namespace

void TQuarneTelorus::SetOffset(ScrollBarKind bar, std::int32_t value) {
  const bool horizontal = bar == ScrollBarKind::Horizontal;
  std::int32_t& offset = horizontal ? FxPosition : FyPosition;
  offset = horizontal ? ClampOffset(value, FSession->FrameWidth(), FWindow.Width())
                      : ClampOffset(value, FSession->FrameHeight(), FWindow.Height());
  if (FStretch) return;
  // With its scroll bar shown, the bar scrolls the view; without, the whole
  // picture is copied again at the new offset (how a host pans the view).
  if (FWindow.ScrollBar(bar).visible)
    FWindow.SetScrollPosition(bar, offset);
  else if (FSession->Frame())
    CopyWholePicture();
}

void TQuarneTelorus::SetxPosition(std::int32_t value) { SetOffset(ScrollBarKind::Horizontal, value); }

void TQuarneTelorus::SetyPosition(std::int32_t value) { SetOffset(ScrollBarKind::Vertical, value); }

void TQuarneTelorus::SetAutoScroll(bool v) {
  FAutoScroll = v;
  if (FStretch) return;
  FWindow.SetScrollVisible(ScrollBarKind::Horizontal, v);
  FWindow.SetScrollVisible(ScrollBarKind::Vertical, v);
}

void TQuarneTelorus::SetStretch(bool v) {
  // The picture is not repainted here: the next paint message or rectangle
  // copy shows the new mode.
  FStretch = v;
  if (v) {
    FWindow.SetScrollRange(ScrollBarKind::Horizontal, 0);
    FWindow.SetScrollRange(ScrollBarKind::Vertical, 0);
    return;
  }
  FWindow.SetScrollRange(ScrollBarKind::Horizontal, FSession->FrameWidth());
  FWindow.SetScrollRange(ScrollBarKind::Vertical, FSession->FrameHeight());
  FWindow.SetScrollVisible(ScrollBarKind::Horizontal, FAutoScroll);
  FWindow.SetScrollVisible(ScrollBarKind::Vertical, FAutoScroll);
}

void TQuarneTelorus::EnableAutoRange() {
  if (FAutoRangeSuspensions <= 0) return;
  if (--FAutoRangeSuspensions > 0) return;
  const bool barShown =
      FWindow.ScrollBar(ScrollBarKind::Horizontal).visible || FWindow.ScrollBar(ScrollBarKind::Vertical).visible;
  if (!barShown || FStretch) return;
  FWindow.SetScrollRange(ScrollBarKind::Horizontal, FSession->FrameWidth());
  FWindow.SetScrollRange(ScrollBarKind::Vertical, FSession->FrameHeight());
}

void TQuarneTelorus::SetColor(platform::TColor v) {
  FColor = v;
  FWindow.SetBackground(v);
}

void TQuarneTelorus::SessionStartDisplay() {
  if (FStretch) return;
  FWindow.SetScrollRange(ScrollBarKind::Horizontal, FSession->FrameWidth());
  FWindow.SetScrollRange(ScrollBarKind::Vertical, FSession->FrameHeight());
  FWindow.SetScrollVisible(ScrollBarKind::Horizontal, FAutoScroll);
  FWindow.SetScrollVisible(ScrollBarKind::Vertical, FAutoScroll);
  if (FAutoScroll) {
    FWindow.SetScrollPosition(ScrollBarKind::Horizontal, FxPosition);
    FWindow.SetScrollPosition(ScrollBarKind::Vertical, FyPosition);
  }
}

void TQuarneTelorus::SessionCloseDisplay() {
  // The window shows its background only until the next session.
  FWindow.SetScrollRange(ScrollBarKind::Horizontal, 0);
  FWindow.SetScrollRange(ScrollBarKind::Vertical, 0);
  FWindow.Invalidate();
}

}  // namespace telorus::viewer
