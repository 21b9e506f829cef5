// The viewer's window for GTK3 applications: a widget with real scroll bars,
// painted with cairo from the framebuffer surface, delivering GDK input as
// the Windows-style messages the viewer understands. Plus the CLIPBOARD
// selection as text, the display's bell, and the GSource through which
// GLib's main loop runs our message loop.
//
// A GTK application embeds the viewer like this:
//
//   gtk_init(&argc, &argv);
//   telorus::platform::gtk::MessageLoopSource loop;   // sockets and timers under GTK
//   telorus::platform::gtk::ViewerWidget window;
//   telorus::platform::gtk::ClipboardText clipboard;
//   telorus::platform::gtk::DisplayBell bell;
//   telorus::viewer::TQuarneTelorus viewer(window, clipboard, bell);
//   gtk_container_add(GTK_CONTAINER(top), window.Widget());
//   viewer.SetServer("127.0.0.1"); viewer.SetPort(5900); viewer.Connect();
//   gtk_main();
//
// Nothing here knows about RFB.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/window.h"

namespace telorus::platform::gtk {

// Attaches the calling thread's message loop to GLib's default main
// context for the object's lifetime: socket readiness, timers and posted
// records are handled whenever GTK's loop runs (gtk_main, gtk_dialog_run,
// any nested g_main_context_iteration). Each dispatch hands out the records
// waiting at that moment, and goes on with the next ones while more work is
// ready, for at most a few milliseconds, so painting and input keep their
// turn under a stream that never pauses. Our own PumpPending stays
// callable from inside any GTK callback.
class MessageLoopSource {
 public:
  MessageLoopSource();
  ~MessageLoopSource();
  MessageLoopSource(const MessageLoopSource&) = delete;
  MessageLoopSource& operator=(const MessageLoopSource&) = delete;

 private:
  GSource* source_ = nullptr;
};

// How a scaled picture is filtered.
enum class ScaleFilter { Smooth, Nearest };

class ViewerWidget : public Window {
 public:
  ViewerWidget();
  ~ViewerWidget() override;
  ViewerWidget(const ViewerWidget&) = delete;
  ViewerWidget& operator=(const ViewerWidget&) = delete;

  // The widget to pack into a container: the drawing area with its two
  // scroll bars. It stays alive as long as this object.
  GtkWidget* Widget() const { return grid_; }
  // The drawing area that receives input and has the focus.
  GtkWidget* DrawingArea() const { return area_; }

  void SetScaleFilter(ScaleFilter filter);
  ScaleFilter Filter() const { return filter_; }
  // Draw callbacks run so far (each paints everything invalid at once), and
  // copies asked for outside them (each invalidates its area).
  std::uint64_t Paints() const { return paints_; }
  std::uint64_t Copies() const { return copies_; }
  // The scroll bars as shown on the screen.
  bool ScrollBarShown(ScrollBarKind bar) const;

  // Sizes are device pixels: on a HiDPI display one framebuffer pixel is one
  // device pixel, and mouse positions are mapped the same way.
  int Width() const override;
  int Height() const override;
  int ClientWidth() const override;
  int ClientHeight() const override;

  ScrollBarState ScrollBar(ScrollBarKind bar) const override;
  void SetScrollRange(ScrollBarKind bar, int range) override;
  void SetScrollPosition(ScrollBarKind bar, int position) override;
  void SetScrollVisible(ScrollBarKind bar, bool visible) override;

  // Outside the draw callback these invalidate the area they would paint;
  // inside it they paint, and GTK clips to what is invalid.
  bool CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) override;
  using Window::StretchFromSurface;
  bool StretchFromSurface(const Surface& surface, Rect source, Rect dest, Rect clip) override;
  void DrawDashedOutline(Rect area) override;
  Surface CreateSurface(int width, int height) override;
  void Invalidate() override;
  void SetBackground(TColor colour) override;
  void SetCursorShape(int cursor) override;
  void SetFocus() override;
  bool Focused() const override;
  void SetEnabled(bool enabled) override;
  bool Enabled() const override;
  void SetVisible(bool visible) override;
  bool Visible() const override;
  KeyboardState KeyState() const override;

 private:
  struct Bar {
    ScrollBarState state;
    GtkWidget* widget = nullptr;
    GtkAdjustment* adjustment = nullptr;
    bool shown = false;
  };
  // What a key press sent, so that its release sends the same.
  struct PressedKey {
    std::uint16_t virtualKey = 0;
    std::uint32_t keysym = 0;
  };

  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
  static void OnSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer self);
  static void OnScaleFactor(GObject* widget, GParamSpec* property, gpointer self);
  static void OnRealize(GtkWidget* widget, gpointer self);
  static gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean OnButton(GtkWidget* widget, GdkEventButton* event, gpointer self);
  static gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer self);
  static gboolean OnScroll(GtkWidget* widget, GdkEventScroll* event, gpointer self);
  static gboolean OnFocus(GtkWidget* widget, GdkEventFocus* event, gpointer self);
  static void OnAdjustment(GtkAdjustment* adjustment, gpointer self);

  Bar& BarOf(ScrollBarKind bar) { return bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_; }
  const Bar& BarOf(ScrollBarKind bar) const { return bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_; }
  int Scale() const;
  int Thickness(const Bar& bar) const;
  // Shows or hides the bars for the current size and ranges, clamps their
  // positions and brings the adjustments up to date.
  void ApplyBars();
  void InvalidateDevice(Rect area);
  void PaintImage(cairo_surface_t* image, double x, double y, Rect area);
  void PaintScaled(cairo_surface_t* image, Rect source, Rect dest, Rect area);
  // Notes that the paint under way put the picture on `area`.
  void Cover(Rect area);
  static void StrokeOutline(cairo_t* cr, Rect area);
  bool ScaleInto(const Surface& surface, Rect source, Rect dest, Rect target, std::uint32_t* out, int outStride) const;
  void EnterDirectMode();
  // An image shared with the X server of at least width x height, free to
  // be written; null when none can be had.
  cairo_surface_t* Staging(int width, int height);
  void HandleKey(GdkEventKey* event, bool down);
  void ReleaseHeldKeys();
  std::uint32_t MouseFlags(guint state) const;

  GtkWidget* grid_ = nullptr;
  GtkWidget* area_ = nullptr;
  Bar horizontal_;
  Bar vertical_;
  bool applying_ = false;
  cairo_t* cr_ = nullptr;  // set while the draw callback runs
  // While it runs: where the picture went, and the outline to draw last.
  cairo_region_t* covered_ = nullptr;
  Rect outline_;
  Rect paintExtents_;                  // what the paint under way may change
  std::vector<std::uint32_t> scaled_;  // the scaled part of a stretched paint
  bool direct_ = false;                // painted straight to an X window of its own
  cairo_surface_t* staging_ = nullptr;
  double background_[3] = {0.94, 0.94, 0.94};
  int cursor_ = 0;
  ScaleFilter filter_ = ScaleFilter::Smooth;
  std::uint64_t paints_ = 0;
  std::uint64_t copies_ = 0;
  // Per tile of the client area, the number of the paint it awaits.
  std::vector<std::uint64_t> tiles_;
  int tileColumns_ = 0;
  int tileRows_ = 0;
  // The size in device pixels as the last allocation left it, and the
  // client area as ApplyBars last settled it: what every rectangle is
  // clipped and scaled against, a thousand times between two frames.
  int width_ = 0;
  int height_ = 0;
  int scale_ = 1;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int lastWidth_ = -1;
  int lastHeight_ = -1;
  // The keyboard as the message being handled left it.
  guint eventState_ = 0;
  bool haveEventState_ = false;
  bool leftShift_ = false;
  std::unordered_map<guint16, PressedKey> pressed_;
};

// The CLIPBOARD selection as text. On the X side text is UTF-8 with line
// feeds; towards the viewer it is ISO-8859-1, characters outside it becoming
// '?', and carriage returns before line feeds are dropped on the way in.
// Reading never waits: the text is fetched when the selection's owner
// changes (or, where the display cannot tell, at each read) and the last
// text fetched is returned.
class ClipboardText : public Clipboard {
 public:
  ClipboardText();
  ~ClipboardText() override;
  ClipboardText(const ClipboardText&) = delete;
  ClipboardText& operator=(const ClipboardText&) = delete;

  std::string Text() override;
  void SetText(const std::string& text) override;

  struct State;

 private:
  static void OnOwnerChange(GtkClipboard* clipboard, GdkEvent* event, gpointer state);
  static void OnText(GtkClipboard* clipboard, const gchar* text, gpointer state);
  void Request();

  std::shared_ptr<State> state_;
  GtkClipboard* clipboard_ = nullptr;
  gulong ownerChange_ = 0;
  bool notified_ = false;  // the display reports owner changes
};

class DisplayBell : public Bell {
 public:
  void Beep() override;
};

// The text conversions of ClipboardText, on their own.
std::string Latin1ToUtf8(const std::string& latin1);
// Characters outside ISO-8859-1, and bytes that are not UTF-8, become '?'.
std::string Utf8ToLatin1(const std::string& utf8);
// Carriage return + line feed becomes line feed.
std::string ToLineFeeds(const std::string& text);

}  // namespace telorus::platform::gtk
