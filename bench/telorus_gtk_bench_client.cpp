// telorus-gtk-bench-client PORT FRAMES [--window WIDTHxHEIGHT] [--stretch] [--nearest]
//
// The GTK viewer under test: the viewer widget in a top-level window of the
// given size (default 1920 x 1080) on the display in DISPLAY, decoding a
// replayed stream under GTK's main loop, painting as it goes. Prints, like
// the other bench clients, the complete updates and the seconds from the
// session's start to the last update's end, then the rectangles copied to
// the window, the paints (draw callbacks) and the frames of the window's
// frame clock.
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "update_timing.h"
#include "platform/gtk/gtk_viewer.h"
#include "viewer/Telorus.h"

using namespace telorus;
using Clock = std::chrono::steady_clock;

namespace {

void CountFrame(GdkFrameClock*, gpointer counter) { ++*static_cast<std::uint64_t*>(counter); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: telorus-gtk-bench-client PORT FRAMES [--window WIDTHxHEIGHT] [--stretch] [--nearest]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int want = std::atoi(argv[2]);
  int width = 1920, height = 1080;
  bool stretch = false, nearest = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1) return 2;
    } else if (std::strcmp(argv[i], "--stretch") == 0) {
      stretch = true;
    } else if (std::strcmp(argv[i], "--nearest") == 0) {
      nearest = true;
    }
  }
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "telorus-gtk-bench-client: no display\n");
    return 1;
  }
  platform::gtk::MessageLoopSource loop;
  platform::gtk::ViewerWidget window;
  platform::gtk::ClipboardText clipboard;
  platform::gtk::DisplayBell bell;
  viewer::TQuarneTelorus v(window, clipboard, bell);
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(top), width, height);
  gtk_container_add(GTK_CONTAINER(top), window.Widget());
  gtk_widget_show_all(top);
  while (window.Width() != width || window.Height() != height) gtk_main_iteration();
  if (nearest) window.SetScaleFilter(platform::gtk::ScaleFilter::Nearest);
  v.SetStretch(stretch);
  // As telorus-viewer does: one read per socket record, so GTK paints between.
  v.Socket().SetComponentOptions(v.Socket().ComponentOptions() | socket::OptionBit(socket::wsoNoReceiveLoop));

  std::uint64_t clockFrames = 0;
  GdkFrameClock* frameClock = gtk_widget_get_frame_clock(window.DrawingArea());
  g_signal_connect(frameClock, "after-paint", G_CALLBACK(CountFrame), &clockFrames);

  v.SetServer("127.0.0.1");
  v.SetPort(port);
  std::uint64_t paintsAtStart = 0, clockAtStart = 0, copiesAtStart = 0;
  bench::UpdateTiming timing;
  timing.Attach(v, [&] {
    paintsAtStart = window.Paints();
    clockAtStart = clockFrames;
    copiesAtStart = window.Copies();
  });
  v.Connect();
  const auto deadline = Clock::now() + std::chrono::seconds(120);
  while (timing.frames < want && !timing.closed && Clock::now() < deadline) gtk_main_iteration_do(TRUE);
  // The frame that shows the last update.
  const auto settle = Clock::now() + std::chrono::milliseconds(100);
  while (Clock::now() < settle) gtk_main_iteration_do(FALSE);
  std::printf("%d %.6f %llu %llu %llu\n", timing.frames, timing.Seconds(),
              static_cast<unsigned long long>(window.Copies() - copiesAtStart),
              static_cast<unsigned long long>(window.Paints() - paintsAtStart),
              static_cast<unsigned long long>(clockFrames - clockAtStart));
  v.DisConnect();
  gtk_widget_destroy(top);
  return timing.frames >= want ? 0 : 1;
}
