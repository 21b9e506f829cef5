// The viewer widget: a drawing area and two scroll bars in a grid. Copies to
// the window invalidate; the draw callback has the hook paint the picture,
// which cairo clips to the invalid region, then fills only what the picture
// left bare with the background colour, so each pixel of a frame is written
// once. Sizes, positions and drawing are in device pixels.
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "platform/gtk/gtk_keys.h"
#include "platform/gtk/gtk_viewer.h"

namespace telorus::platform::gtk {
namespace {

constexpr int kLineStep = 16;     // pixels per click on a scroll bar arrow
constexpr int kTile = 64;         // device pixels on a side of an invalidation tile
constexpr int kMinStaging = 256;  // pixels on a side of the smallest staging image

// A cairo image over the surface's memory, which cairo reads in place (the
// surface's 0x00RRGGBB words are cairo's RGB24). Null for memory cairo
// cannot take (a bottom-up stride).
cairo_surface_t* ImageOf(const Surface& surface) {
  if (surface.Width() <= 0 || surface.Height() <= 0 || surface.Stride() <= 0 || surface.Stride() % 4 != 0)
    return nullptr;
  auto* data = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(surface.Pixels()));
  cairo_surface_t* image = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB24, surface.Width(),
                                                               surface.Height(), static_cast<int>(surface.Stride()));
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  return image;
}

// The framebuffer surfaces this library made from images that share their
// memory with the X server, by the image (the surface's native bitmap).
std::unordered_set<const void*>& SharedImages() {
  static std::unordered_set<const void*> images;
  return images;
}

// The shared image behind `surface`, or null for plain memory.
cairo_surface_t* SharedImageOf(const Surface& surface) {
  const void* native = surface.NativeBitmap();
  if (!native || !SharedImages().count(native)) return nullptr;
  return static_cast<cairo_surface_t*>(const_cast<void*>(native));
}

Rect Intersect(Rect a, Rect b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return r.Empty() ? Rect{} : r;
}

}  // namespace

ViewerWidget::ViewerWidget() {
  grid_ = gtk_grid_new();
  g_object_ref_sink(grid_);
  // Both are kept alive by this object: destroying the top-level window
  // that holds them must not free them under it.
  area_ = GTK_WIDGET(g_object_ref_sink(gtk_drawing_area_new()));
  gtk_widget_set_hexpand(area_, TRUE);
  gtk_widget_set_vexpand(area_, TRUE);
  gtk_widget_set_can_focus(area_, TRUE);
  gtk_widget_add_events(area_, GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_BUTTON_PRESS_MASK |
                                   GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK |
                                   GDK_FOCUS_CHANGE_MASK);
  gtk_grid_attach(GTK_GRID(grid_), area_, 0, 0, 1, 1);
  for (Bar* bar : {&horizontal_, &vertical_}) {
    const bool h = bar == &horizontal_;
    bar->adjustment = GTK_ADJUSTMENT(g_object_ref_sink(gtk_adjustment_new(0, 0, 0, kLineStep, 1, 1)));
    bar->widget = gtk_scrollbar_new(h ? GTK_ORIENTATION_HORIZONTAL : GTK_ORIENTATION_VERTICAL, bar->adjustment);
    gtk_widget_set_no_show_all(bar->widget, TRUE);  // shown only when ApplyBars says so
    gtk_grid_attach(GTK_GRID(grid_), bar->widget, h ? 0 : 1, h ? 1 : 0, 1, 1);
    g_signal_connect(bar->adjustment, "value-changed", G_CALLBACK(OnAdjustment), this);
  }
  g_signal_connect(area_, "draw", G_CALLBACK(OnDraw), this);
  g_signal_connect(grid_, "size-allocate", G_CALLBACK(OnSizeAllocate), this);
  g_signal_connect(area_, "realize", G_CALLBACK(OnRealize), this);
  g_signal_connect(area_, "notify::scale-factor", G_CALLBACK(OnScaleFactor), this);
  g_signal_connect(area_, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(area_, "key-release-event", G_CALLBACK(OnKey), this);
  g_signal_connect(area_, "button-press-event", G_CALLBACK(OnButton), this);
  g_signal_connect(area_, "button-release-event", G_CALLBACK(OnButton), this);
  g_signal_connect(area_, "motion-notify-event", G_CALLBACK(OnMotion), this);
  g_signal_connect(area_, "scroll-event", G_CALLBACK(OnScroll), this);
  g_signal_connect(area_, "focus-in-event", G_CALLBACK(OnFocus), this);
  g_signal_connect(area_, "focus-out-event", G_CALLBACK(OnFocus), this);
  gtk_widget_show(area_);
  gtk_widget_show(grid_);
}

ViewerWidget::~ViewerWidget() {
  // No message reaches a hook after this point, whatever GTK still does
  // with the widget before its last reference goes.
  SetHook(nullptr);
  if (staging_) cairo_surface_destroy(staging_);
  g_signal_handlers_disconnect_by_data(area_, this);
  g_signal_handlers_disconnect_by_data(grid_, this);
  for (Bar* bar : {&horizontal_, &vertical_}) {
    g_signal_handlers_disconnect_by_data(bar->adjustment, this);
    g_object_unref(bar->adjustment);
  }
  if (GtkWidget* parent = gtk_widget_get_parent(grid_)) gtk_container_remove(GTK_CONTAINER(parent), grid_);
  g_object_unref(area_);
  g_object_unref(grid_);
}

void ViewerWidget::SetScaleFilter(ScaleFilter filter) {
  filter_ = filter;
  Invalidate();
}

int ViewerWidget::Scale() const { return std::max(1, gtk_widget_get_scale_factor(area_)); }

int ViewerWidget::Width() const { return width_; }

int ViewerWidget::Height() const { return height_; }

int ViewerWidget::Thickness(const Bar& bar) const {
  int minimum = 0, natural = 0;
  if (&bar == &vertical_)
    gtk_widget_get_preferred_width(bar.widget, &minimum, &natural);
  else
    gtk_widget_get_preferred_height(bar.widget, &minimum, &natural);
  return natural * Scale();
}

// The client extents follow from the bars this object shows, not from the
// allocation GTK hands out later: the viewer asks right after changing them.
int ViewerWidget::ClientWidth() const { return std::max(0, Width() - (vertical_.shown ? Thickness(vertical_) : 0)); }

int ViewerWidget::ClientHeight() const {
  return std::max(0, Height() - (horizontal_.shown ? Thickness(horizontal_) : 0));
}

bool ViewerWidget::ScrollBarShown(ScrollBarKind bar) const { return BarOf(bar).shown; }

ScrollBarState ViewerWidget::ScrollBar(ScrollBarKind bar) const { return BarOf(bar).state; }

void ViewerWidget::ApplyBars() {
  // A bar shows when it is marked visible and its range exceeds the extent
  // left to the content; a bar shown on one axis narrows the other, so the
  // decision is made twice.
  const int width = Width(), height = Height();
  bool h = false, v = false;
  for (int round = 0; round < 2; ++round) {
    h = horizontal_.state.visible && horizontal_.state.range > width - (v ? Thickness(vertical_) : 0);
    v = vertical_.state.visible && vertical_.state.range > height - (h ? Thickness(horizontal_) : 0);
  }
  applying_ = true;
  horizontal_.shown = h;
  vertical_.shown = v;
  for (Bar* bar : {&horizontal_, &vertical_}) {
    const int client = bar == &horizontal_ ? ClientWidth() : ClientHeight();
    bar->state.position = std::clamp(bar->state.position, 0, std::max(0, bar->state.range - client));
    gtk_adjustment_configure(bar->adjustment, bar->state.position, 0, std::max(bar->state.range, client), kLineStep,
                             std::max(1, client), std::max(1, client));
    gtk_widget_set_visible(bar->widget, bar->shown);
  }
  applying_ = false;
  clientWidth_ = ClientWidth();
  clientHeight_ = ClientHeight();
}

void ViewerWidget::SetScrollRange(ScrollBarKind bar, int range) {
  BarOf(bar).state.range = std::max(0, range);
  ApplyBars();
}

void ViewerWidget::SetScrollVisible(ScrollBarKind bar, bool visible) {
  BarOf(bar).state.visible = visible;
  ApplyBars();
}

void ViewerWidget::SetScrollPosition(ScrollBarKind bar, int position) {
  Bar& b = BarOf(bar);
  const int client = bar == ScrollBarKind::Horizontal ? ClientWidth() : ClientHeight();
  const int clamped = std::clamp(position, 0, std::max(0, b.state.range - client));
  if (clamped == b.state.position) return;
  b.state.position = clamped;
  applying_ = true;
  gtk_adjustment_set_value(b.adjustment, clamped);
  applying_ = false;
  // The content moves: everything is painted anew at the next frame.
  Invalidate();
}

void ViewerWidget::OnAdjustment(GtkAdjustment* adjustment, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  if (self->applying_) return;
  Bar& b = adjustment == self->horizontal_.adjustment ? self->horizontal_ : self->vertical_;
  const int value = static_cast<int>(std::lround(gtk_adjustment_get_value(adjustment)));
  if (value == b.state.position) return;
  // The user scrolled: the bar's position is the view offset from now on.
  b.state.position = value;
  self->Invalidate();
}

void ViewerWidget::OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  self->scale_ = self->Scale();
  self->width_ = std::max(0, gtk_widget_get_allocated_width(self->grid_)) * self->scale_;
  self->height_ = std::max(0, gtk_widget_get_allocated_height(self->grid_)) * self->scale_;
  self->ApplyBars();
  const int w = self->ClientWidth(), h = self->ClientHeight();
  if (w == self->lastWidth_ && h == self->lastHeight_) return;
  self->lastWidth_ = w;
  self->lastHeight_ = h;
  WindowMessage size = WindowMessage::Of(WindowMessageKind::Size);
  size.x = w;
  size.y = h;
  self->Deliver(size);
}

// A move to a monitor of another scale changes the device size without a
// new allocation. Before the first allocation there is no size to change.
void ViewerWidget::OnScaleFactor(GObject*, GParamSpec*, gpointer data) {
  if (static_cast<ViewerWidget*>(data)->lastWidth_ >= 0) OnSizeAllocate(nullptr, nullptr, data);
}

void ViewerWidget::OnRealize(GtkWidget*, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  self->EnterDirectMode();
  self->SetCursorShape(self->cursor_);
}

// ---- Painting ----

gboolean ViewerWidget::OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  // A window of its own is painted in a pass of its own; the pass of the
  // top-level window has nothing to draw here.
  if (self->direct_ && !gtk_cairo_should_draw_window(cr, gtk_widget_get_window(self->area_))) return FALSE;
  ++self->paints_;
  cairo_save(cr);
  const double scale = self->Scale();
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);  // device pixels from here on
  // The picture is drawn first and the background only where it did not
  // reach (GTK shows the frame once it is complete).
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
  self->paintExtents_ = Rect{static_cast<std::int64_t>(std::floor(x1)), static_cast<std::int64_t>(std::floor(y1)),
                             static_cast<std::int64_t>(std::ceil(x2)), static_cast<std::int64_t>(std::ceil(y2))};
  self->cr_ = cr;
  self->covered_ = cairo_region_create();
  self->outline_ = Rect{};
  WindowMessage paint = WindowMessage::Of(WindowMessageKind::Paint);
  self->Deliver(paint);
  self->cr_ = nullptr;
  const Rect& e = self->paintExtents_;
  const cairo_rectangle_int_t extents{static_cast<int>(e.left), static_cast<int>(e.top), static_cast<int>(e.Width()),
                                      static_cast<int>(e.Height())};
  cairo_region_t* bare = cairo_region_create_rectangle(&extents);
  cairo_region_subtract(bare, self->covered_);
  cairo_region_destroy(self->covered_);
  self->covered_ = nullptr;
  for (int i = 0, n = cairo_region_num_rectangles(bare); i < n; ++i) {
    cairo_rectangle_int_t r;
    cairo_region_get_rectangle(bare, i, &r);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
  }
  cairo_region_destroy(bare);
  cairo_set_source_rgb(cr, self->background_[0], self->background_[1], self->background_[2]);
  cairo_fill(cr);
  if (!self->outline_.Empty()) self->StrokeOutline(cr, self->outline_);
  cairo_restore(cr);
  return TRUE;
}

// Invalidation goes through a grid of tiles stamped with the paint that
// will show them: a rectangle whose tiles are all awaiting that paint adds
// nothing, so a thousand small rectangles between two frames cost GDK a
// handful of region updates instead of a thousand.
void ViewerWidget::InvalidateDevice(Rect area) {
  const int clientWidth = clientWidth_, clientHeight = clientHeight_;
  const Rect visible = Intersect(area, {0, 0, clientWidth, clientHeight});
  if (visible.Empty()) return;
  const int columns = (clientWidth + kTile - 1) / kTile, rows = (clientHeight + kTile - 1) / kTile;
  if (columns != tileColumns_ || rows != tileRows_) {
    tileColumns_ = columns;
    tileRows_ = rows;
    tiles_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), 0);
  }
  const std::uint64_t next = paints_ + 1;
  const int left = static_cast<int>(visible.left / kTile), right = static_cast<int>((visible.right - 1) / kTile);
  const int top = static_cast<int>(visible.top / kTile), bottom = static_cast<int>((visible.bottom - 1) / kTile);
  bool fresh = false;
  for (int row = top; row <= bottom; ++row) {
    std::uint64_t* stamp = &tiles_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns)];
    for (int column = left; column <= right; ++column) {
      if (stamp[column] != next) {
        stamp[column] = next;
        fresh = true;
      }
    }
  }
  if (!fresh) return;
  // The whole tiles, so that what a later rectangle finds stamped is
  // invalid indeed.
  const Rect covered = Intersect({std::int64_t{left} * kTile, std::int64_t{top} * kTile,
                                  std::int64_t{right + 1} * kTile, std::int64_t{bottom + 1} * kTile},
                                 {0, 0, clientWidth, clientHeight});
  const std::int64_t s = scale_;
  const std::int64_t x0 = covered.left / s, y0 = covered.top / s;
  const std::int64_t x1 = (covered.right + s - 1) / s, y1 = (covered.bottom + s - 1) / s;
  gtk_widget_queue_draw_area(area_, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                             static_cast<int>(y1 - y0));
}

bool ViewerWidget::CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) {
  const Rect onSurface = surface.Clip(source);
  if (onSurface.Empty()) return true;
  // Where the part of the source that exists lands in the window.
  const Rect dest{destX + (onSurface.left - source.left), destY + (onSurface.top - source.top),
                  destX + (onSurface.right - source.left), destY + (onSurface.bottom - source.top)};
  if (!cr_) {
    ++copies_;
    InvalidateDevice(dest);
    return true;
  }
  cairo_surface_t* image = SharedImageOf(surface);
  double originX = static_cast<double>(destX - source.left), originY = static_cast<double>(destY - source.top);
  if (image) {
    // Its pixels changed behind cairo's back.
    cairo_surface_reference(image);
    cairo_surface_mark_dirty(image);
  } else if (direct_) {
    // Plain memory goes through the staging image, the part this paint shows.
    const Rect shown = Intersect(dest, paintExtents_);
    if (shown.Empty()) return true;
    const int width = static_cast<int>(shown.Width()), height = static_cast<int>(shown.Height());
    image = Staging(width, height);
    if (!image) return false;
    auto* to = cairo_image_surface_get_data(image);
    const auto toStride = static_cast<std::size_t>(cairo_image_surface_get_stride(image));
    const std::int64_t fromX = source.left + (shown.left - destX), fromY = source.top + (shown.top - destY);
    for (int row = 0; row < height; ++row)
      std::memcpy(to + toStride * static_cast<std::size_t>(row), surface.Row(static_cast<int>(fromY) + row) + fromX,
                  static_cast<std::size_t>(width) * 4);
    cairo_surface_mark_dirty(image);
    cairo_surface_reference(image);
    originX = static_cast<double>(shown.left);
    originY = static_cast<double>(shown.top);
  } else {
    image = ImageOf(surface);
  }
  if (!image) return false;
  PaintImage(image, originX, originY, dest);
  cairo_surface_destroy(image);
  return true;
}

bool ViewerWidget::StretchFromSurface(const Surface& surface, Rect source, Rect dest, Rect clip) {
  if (source.Empty() || dest.Empty()) return true;
  Rect target = Intersect(dest, clip);
  if (target.Empty()) return true;
  if (!cr_) {
    ++copies_;
    InvalidateDevice(target);
    return true;
  }
  // Only what this paint can show is scaled.
  target = Intersect(target, paintExtents_);
  if (target.Empty()) return true;
  if (surface.Width() <= 0 || surface.Height() <= 0 || surface.Stride() <= 0 || surface.Stride() % 4 != 0) return false;
  const double sx = static_cast<double>(source.Width()) / static_cast<double>(dest.Width());
  const double sy = static_cast<double>(source.Height()) / static_cast<double>(dest.Height());
  if (cairo_surface_t* shared = SharedImageOf(surface);
      shared && (filter_ == ScaleFilter::Nearest || (sx <= 2.0 && sy <= 2.0))) {
    // The X server scales straight from the framebuffer it shares with us,
    // with the same filter and the same map as below.
    PaintScaled(shared, source, dest, target);
    return true;
  }
  const int width = static_cast<int>(target.Width()), height = static_cast<int>(target.Height());
  cairo_surface_t* image = nullptr;
  if (direct_) {
    image = Staging(width, height);
    if (!image) return false;
    cairo_surface_reference(image);
    if (!ScaleInto(surface, source, dest, target, reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(image)),
                   cairo_image_surface_get_stride(image))) {
      cairo_surface_destroy(image);
      return false;
    }
    cairo_surface_mark_dirty(image);
  } else {
    scaled_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    if (!ScaleInto(surface, source, dest, target, scaled_.data(), width * 4)) return false;
    image = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(scaled_.data()), CAIRO_FORMAT_RGB24,
                                                width, height, width * 4);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(image);
      return false;
    }
  }
  PaintImage(image, static_cast<double>(target.left), static_cast<double>(target.top), target);
  cairo_surface_destroy(image);
  return true;
}

// Scales the part of `source` that lands on `target` (inside `dest`) into
// `out`, a top-down image of target's size (rows `outStride` bytes apart),
// with pixman. Smooth scaling
// interpolates bilinearly down to half size, where every source pixel still
// contributes, and averages the covered area beyond that (a box filter), so
// that no detail is dropped at any reduction; nearest takes the pixel under
// each centre. Edge pixels continue beyond the picture.
bool ViewerWidget::ScaleInto(const Surface& surface, Rect source, Rect dest, Rect target, std::uint32_t* out,
                             int outStride) const {
  const int width = static_cast<int>(target.Width()), height = static_cast<int>(target.Height());
  auto* pixels = const_cast<std::uint32_t*>(surface.Pixels());
  pixman_image_t* from = pixman_image_create_bits(PIXMAN_x8r8g8b8, surface.Width(), surface.Height(), pixels,
                                                  static_cast<int>(surface.Stride()));
  pixman_image_t* to = pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, out, outStride);
  if (!from || !to) {
    if (from) pixman_image_unref(from);
    if (to) pixman_image_unref(to);
    return false;
  }
  // Source pixels per window pixel, and the map from a pixel of `out` to
  // the framebuffer.
  const double sx = static_cast<double>(source.Width()) / static_cast<double>(dest.Width());
  const double sy = static_cast<double>(source.Height()) / static_cast<double>(dest.Height());
  pixman_f_transform map;
  pixman_f_transform_init_identity(&map);
  map.m[0][0] = sx;
  map.m[0][2] = sx * static_cast<double>(target.left - dest.left) + static_cast<double>(source.left);
  map.m[1][1] = sy;
  map.m[1][2] = sy * static_cast<double>(target.top - dest.top) + static_cast<double>(source.top);
  pixman_transform fixed;
  bool ok = pixman_transform_from_pixman_f_transform(&fixed, &map) && pixman_image_set_transform(from, &fixed);
  if (ok) {
    if (filter_ == ScaleFilter::Nearest) {
      ok = pixman_image_set_filter(from, PIXMAN_FILTER_NEAREST, nullptr, 0);
    } else if (sx <= 2.0 && sy <= 2.0) {
      ok = pixman_image_set_filter(from, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    } else {
      int count = 0;
      pixman_fixed_t* box = pixman_filter_create_separable_convolution(
          &count, pixman_double_to_fixed(std::max(sx, 1.0)), pixman_double_to_fixed(std::max(sy, 1.0)),
          PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 2, 2);
      ok = box && pixman_image_set_filter(from, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, box, count);
      std::free(box);
    }
  }
  if (ok) {
    pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, width, height);
  }
  pixman_image_unref(from);
  pixman_image_unref(to);
  return ok;
}

// On an X display with shared memory the drawing area gets an X window of
// its own, painted directly rather than through GTK's intermediate buffer
// (which costs the X server an allocation, a fill and a copy of the whole
// area per frame). Everything it paints from is then an image the server
// reads in place: the framebuffer itself, or the staging image.
void ViewerWidget::EnterDirectMode() {
  GdkWindow* window = gtk_widget_get_window(area_);
  if (!window || std::strcmp(G_OBJECT_TYPE_NAME(gdk_window_get_display(window)), "GdkX11Display") != 0) return;
  // cairo keeps small images in plain memory: the probe is large enough.
  cairo_surface_t* probe =
      gdk_window_create_similar_image_surface(window, CAIRO_FORMAT_RGB24, kMinStaging, kMinStaging, 1);
  const bool shared = probe && cairo_surface_get_device(probe) != nullptr;
  if (probe) cairo_surface_destroy(probe);
  if (!shared) return;
  gdk_window_ensure_native(window);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_widget_set_double_buffered(area_, FALSE);
  G_GNUC_END_IGNORE_DEPRECATIONS
  direct_ = true;
}

cairo_surface_t* ViewerWidget::Staging(int width, int height) {
  if (!staging_ || cairo_image_surface_get_width(staging_) < width ||
      cairo_image_surface_get_height(staging_) < height) {
    GdkWindow* window = gtk_widget_get_window(area_);
    if (!window) return nullptr;
    // Never small: cairo keeps small images out of shared memory.
    const int w = std::max({width, kMinStaging, staging_ ? cairo_image_surface_get_width(staging_) : 0});
    const int h = std::max({height, kMinStaging, staging_ ? cairo_image_surface_get_height(staging_) : 0});
    if (staging_) cairo_surface_destroy(staging_);
    staging_ = gdk_window_create_similar_image_surface(window, CAIRO_FORMAT_RGB24, w, h, 1);
    if (!staging_ || cairo_surface_status(staging_) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_format(staging_) != CAIRO_FORMAT_RGB24 || !cairo_surface_get_device(staging_)) {
      if (staging_) cairo_surface_destroy(staging_);
      staging_ = nullptr;
      return nullptr;
    }
  }
  // Waits until the X server has read what the last paint put there.
  cairo_surface_flush(staging_);
  return staging_;
}

// On X the framebuffer lives in an image the X server reads in place (a
// shared-memory image when the display offers it): a paint copies no pixels
// in this process. The decoder may write the next update while the server
// copies; the rows it changes are invalid again and go out with the next
// frame. Before the widget has a window, plain memory.
Surface ViewerWidget::CreateSurface(int width, int height) {
  GdkWindow* window = gtk_widget_get_window(area_);
  if (!direct_ || !window || width <= 0 || height <= 0) return CreateBitmapSurface(width, height);
  cairo_surface_t* image = gdk_window_create_similar_image_surface(window, CAIRO_FORMAT_RGB24, width, height, 1);
  const bool usable =
      image && cairo_surface_status(image) == CAIRO_STATUS_SUCCESS && cairo_surface_get_device(image) != nullptr &&
      cairo_image_surface_get_format(image) == CAIRO_FORMAT_RGB24 && cairo_image_surface_get_data(image) != nullptr &&
      cairo_image_surface_get_stride(image) >= width * 4;
  if (!usable) {
    if (image) cairo_surface_destroy(image);
    return CreateBitmapSurface(width, height);
  }
  cairo_surface_flush(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  std::memset(data, 0, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));  // black
  cairo_surface_mark_dirty(image);
  SharedImages().insert(image);
  std::shared_ptr<void> owner(image, [](void* p) {
    SharedImages().erase(p);
    cairo_surface_destroy(static_cast<cairo_surface_t*>(p));
  });
  return Surface(reinterpret_cast<std::uint32_t*>(data), width, height, stride, std::move(owner));
}

// Puts `image`, its top-left corner at (x, y), on `area` of the window (and
// notes the area as covered). A filled rectangle in whole pixels, not a
// clipped paint: cairo then hands the pixels to the X server as they are,
// straight from a shared image, without a copy in this process.
void ViewerWidget::PaintImage(cairo_surface_t* image, double x, double y, Rect area) {
  Cover(area);
  cairo_save(cr_);
  cairo_set_source_surface(cr_, image, x, y);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  cairo_rectangle(cr_, static_cast<double>(area.left), static_cast<double>(area.top), static_cast<double>(area.Width()),
                  static_cast<double>(area.Height()));
  cairo_fill(cr_);
  cairo_restore(cr_);
}

// Puts `image` (part `source` scaled onto `dest`) on `area` of the window,
// as ScaleInto maps it: bilinear or nearest, edge pixels continued.
void ViewerWidget::PaintScaled(cairo_surface_t* image, Rect source, Rect dest, Rect area) {
  Cover(area);
  cairo_surface_mark_dirty(image);
  const double sx = static_cast<double>(source.Width()) / static_cast<double>(dest.Width());
  const double sy = static_cast<double>(source.Height()) / static_cast<double>(dest.Height());
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image);
  cairo_matrix_t map;  // window to framebuffer
  cairo_matrix_init(&map, sx, 0, 0, sy, static_cast<double>(source.left) - sx * static_cast<double>(dest.left),
                    static_cast<double>(source.top) - sy * static_cast<double>(dest.top));
  cairo_pattern_set_matrix(pattern, &map);
  cairo_pattern_set_filter(pattern, filter_ == ScaleFilter::Nearest ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_save(cr_);
  cairo_set_source(cr_, pattern);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  cairo_rectangle(cr_, static_cast<double>(area.left), static_cast<double>(area.top), static_cast<double>(area.Width()),
                  static_cast<double>(area.Height()));
  cairo_fill(cr_);
  cairo_restore(cr_);
  cairo_pattern_destroy(pattern);
}

void ViewerWidget::Cover(Rect area) {
  // Areas beyond int range are clipped by cairo anyway: only what the
  // window shows matters here.
  const Rect shown = Intersect(area, {0, 0, clientWidth_, clientHeight_});
  if (shown.Empty() || !covered_) return;
  const cairo_rectangle_int_t r{static_cast<int>(shown.left), static_cast<int>(shown.top),
                                static_cast<int>(shown.Width()), static_cast<int>(shown.Height())};
  cairo_region_union_rectangle(covered_, &r);
}

void ViewerWidget::DrawDashedOutline(Rect area) {
  if (!cr_) {
    InvalidateDevice(area);
    return;
  }
  outline_ = area;  // drawn over the background once that is in
}

void ViewerWidget::StrokeOutline(cairo_t* cr, Rect area) {
  cairo_save(cr);
  const double dashes[] = {6.0, 2.0};
  cairo_set_dash(cr, dashes, 2, 0);
  cairo_set_line_width(cr, 1.0);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_rectangle(cr, static_cast<double>(area.left) + 0.5, static_cast<double>(area.top) + 0.5,
                  static_cast<double>(area.Width()) - 1.0, static_cast<double>(area.Height()) - 1.0);
  cairo_stroke(cr);
  cairo_restore(cr);
}

void ViewerWidget::Invalidate() { gtk_widget_queue_draw(area_); }

void ViewerWidget::SetBackground(TColor colour) {
  const Colour value = DefaultColourValue(colour);
  background_[0] = (value & 0xFF) / 255.0;
  background_[1] = ((value >> 8) & 0xFF) / 255.0;
  background_[2] = ((value >> 16) & 0xFF) / 255.0;
  Invalidate();
}

void ViewerWidget::SetCursorShape(int cursor) {
  cursor_ = cursor;
  GdkWindow* window = gtk_widget_get_window(area_);
  if (!window) return;  // applied when the widget is realised
  GdkCursor* shape = cursor == -3 ? gdk_cursor_new_from_name(gdk_window_get_display(window), "crosshair") : nullptr;
  gdk_window_set_cursor(window, shape);
  if (shape) g_object_unref(shape);
}

// ---- Focus and state ----

void ViewerWidget::SetFocus() { gtk_widget_grab_focus(area_); }

bool ViewerWidget::Focused() const { return gtk_widget_has_focus(area_); }

void ViewerWidget::SetEnabled(bool enabled) { gtk_widget_set_sensitive(grid_, enabled); }

bool ViewerWidget::Enabled() const { return gtk_widget_get_sensitive(grid_); }

void ViewerWidget::SetVisible(bool visible) { gtk_widget_set_visible(grid_, visible); }

bool ViewerWidget::Visible() const { return gtk_widget_get_visible(grid_); }

gboolean ViewerWidget::OnFocus(GtkWidget*, GdkEventFocus* event, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  if (!event->in) self->ReleaseHeldKeys();
  WindowMessage focus = WindowMessage::Of(event->in ? WindowMessageKind::SetFocus : WindowMessageKind::KillFocus);
  self->Deliver(focus);
  return FALSE;
}

KeyboardState ViewerWidget::KeyState() const {
  GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(area_));
  const guint state = haveEventState_ ? eventState_ : gdk_keymap_get_modifier_state(keymap);
  KeyboardState k;
  k.shift = (state & GDK_SHIFT_MASK) != 0;
  k.leftShift = leftShift_ && k.shift;
  k.control = (state & GDK_CONTROL_MASK) != 0;
  k.alt = (state & GDK_MOD1_MASK) != 0;
  k.capsLock = gdk_keymap_get_caps_lock_state(keymap);
  return k;
}

// ---- Keys ----

gboolean ViewerWidget::OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  static_cast<ViewerWidget*>(data)->HandleKey(event, event->type == GDK_KEY_PRESS);
  // Every key belongs to the remote desktop: Tab and the arrows do not move
  // the focus, F10 opens no menu.
  return TRUE;
}

void ViewerWidget::HandleKey(GdkEventKey* event, bool down) {
  GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(area_));
  PressedKey key;
  bool deliver = true;
  auto held = pressed_.find(event->hardware_keycode);
  if (!down && held != pressed_.end()) {
    key = held->second;
    pressed_.erase(held);
  } else {
    guint base = 0, level = 0;
    gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, static_cast<GdkModifierType>(0), event->group,
                                        &base, nullptr, nullptr, nullptr);
    gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode,
                                        static_cast<GdkModifierType>(event->state & (GDK_SHIFT_MASK | GDK_LOCK_MASK)),
                                        event->group, &level, nullptr, nullptr, nullptr);
    const KeyTranslation t = TranslateKey(base, level, event->keyval);
    deliver = t.deliver;
    key = {t.virtualKey, t.keysym};
    if (down && deliver) pressed_[event->hardware_keycode] = key;
    if (!down && !deliver) return;
  }
  if (!deliver) return;

  // GetKeyState answers after the key's own change: a Shift key down is
  // down while its own message is handled.
  guint state = event->state;
  const bool isShift = event->keyval == GDK_KEY_Shift_L || event->keyval == GDK_KEY_Shift_R;
  if (event->keyval == GDK_KEY_Shift_L) leftShift_ = down;
  if (isShift) state = down ? (state | GDK_SHIFT_MASK) : (leftShift_ ? state : (state & ~GDK_SHIFT_MASK));
  if (key.virtualKey == 0x11) state = down ? (state | GDK_CONTROL_MASK) : (state & ~GDK_CONTROL_MASK);
  if (key.virtualKey == 0x12) state = down ? (state | GDK_MOD1_MASK) : (state & ~GDK_MOD1_MASK);
  // Alt held (without Ctrl) or F10 makes a system key, as on Windows.
  const bool alt = (state & GDK_MOD1_MASK) != 0, ctrl = (state & GDK_CONTROL_MASK) != 0;
  const bool system = (alt && !ctrl) || key.virtualKey == 0x79;

  eventState_ = state;
  haveEventState_ = true;
  WindowMessage m = WindowMessage::Key(down, key.virtualKey, system);
  m.keysym = key.keysym;
  Deliver(m);
  if (down) {
    // The character the key typed, for the host's key-press event.
    gunichar c = gdk_keyval_to_unicode(event->keyval);
    if (ctrl && c >= 'a' && c <= 'z') c = c - 'a' + 1;
    if (ctrl && c >= 'A' && c <= 'Z') c = c - 'A' + 1;
    if (c > 0 && c < 256) {
      WindowMessage ch = WindowMessage::Character(static_cast<std::uint8_t>(c));
      Deliver(ch);
    }
  }
  haveEventState_ = false;
}

void ViewerWidget::ReleaseHeldKeys() {
  // Keys still down when the focus leaves would stay down on the server:
  // they are released here, as their own releases would have.
  auto held = std::move(pressed_);
  pressed_.clear();
  for (const auto& [code, key] : held) {
    WindowMessage m = WindowMessage::Key(false, key.virtualKey);
    m.keysym = key.keysym;
    Deliver(m);
  }
  leftShift_ = false;
}

// ---- Mouse ----

std::uint32_t ViewerWidget::MouseFlags(guint state) const {
  std::uint32_t flags = 0;
  if (state & GDK_BUTTON1_MASK) flags |= kMkLButton;
  if (state & GDK_BUTTON2_MASK) flags |= kMkMButton;
  if (state & GDK_BUTTON3_MASK) flags |= kMkRButton;
  if (state & GDK_SHIFT_MASK) flags |= kMkShift;
  if (state & GDK_CONTROL_MASK) flags |= kMkControl;
  return flags;
}

gboolean ViewerWidget::OnButton(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  // GDK reports a double click as a second press followed by an extra
  // event; only the presses and releases themselves are delivered.
  if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return TRUE;
  MouseButtonKind button;
  std::uint32_t flag;
  switch (event->button) {
    case 1: button = MouseButtonKind::Left, flag = kMkLButton; break;
    case 2: button = MouseButtonKind::Middle, flag = kMkMButton; break;
    case 3: button = MouseButtonKind::Right, flag = kMkRButton; break;
    default: return FALSE;
  }
  const bool down = event->type == GDK_BUTTON_PRESS;
  // The state is the one before the event: the flags are the one after.
  std::uint32_t flags = self->MouseFlags(event->state);
  flags = down ? (flags | flag) : (flags & ~flag);
  const int s = self->Scale();
  WindowMessage m = WindowMessage::Mouse(down ? WindowMessageKind::ButtonDown : WindowMessageKind::ButtonUp,
                                         static_cast<std::int32_t>(std::floor(event->x * s)),
                                         static_cast<std::int32_t>(std::floor(event->y * s)), flags, button);
  self->Deliver(m);
  return TRUE;
}

gboolean ViewerWidget::OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  const int s = self->Scale();
  WindowMessage m =
      WindowMessage::Mouse(WindowMessageKind::MouseMove, static_cast<std::int32_t>(std::floor(event->x * s)),
                           static_cast<std::int32_t>(std::floor(event->y * s)), self->MouseFlags(event->state));
  self->Deliver(m);
  return TRUE;
}

gboolean ViewerWidget::OnScroll(GtkWidget*, GdkEventScroll* event, gpointer data) {
  auto* self = static_cast<ViewerWidget*>(data);
  int delta = 0;
  bool horizontal = false;
  switch (event->direction) {
    case GDK_SCROLL_UP: delta = kWheelDelta; break;
    case GDK_SCROLL_DOWN: delta = -kWheelDelta; break;
    case GDK_SCROLL_LEFT: delta = -kWheelDelta, horizontal = true; break;
    case GDK_SCROLL_RIGHT: delta = kWheelDelta, horizontal = true; break;
    default: return FALSE;
  }
  const int s = self->Scale();
  WindowMessage m = WindowMessage::WheelTurn(delta, static_cast<std::int32_t>(std::floor(event->x * s)),
                                             static_cast<std::int32_t>(std::floor(event->y * s)),
                                             self->MouseFlags(event->state), horizontal);
  self->Deliver(m);
  return TRUE;
}

}  // namespace telorus::platform::gtk
