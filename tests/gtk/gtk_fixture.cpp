#include "gtk/gtk_fixture.h"

#include <gdk/gdkx.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

namespace telorus::test {
namespace {

using Clock = std::chrono::steady_clock;
int gLocalDisplay = -1;

}  // namespace

int LocalDisplay() { return gLocalDisplay; }

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  // A tick wakes the blocking iteration, so the condition is looked at
  // even while nothing happens on this thread.
  const guint tick = g_timeout_add(
      5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return done();
}

void PumpFor(std::chrono::milliseconds time) {
  const auto until = Clock::now() + time;
  PumpUntil([&] { return Clock::now() >= until; }, time + std::chrono::seconds(1));
}

std::string RunPumping(int display, const std::vector<std::string>& argv, int* status) {
  auto result = std::async(std::launch::async, [=] {
    int st = -1;
    std::string out = RunWithDisplay(display, argv, &st);
    return std::make_pair(out, st);
  });
  PumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60));
  auto [out, st] = result.get();
  if (status) *status = st;
  return out;
}

unsigned long XidOf(GtkWidget* widget) {
  GdkWindow* window = gtk_widget_get_window(gtk_widget_get_toplevel(widget));
  return window ? gdk_x11_window_get_xid(window) : 0;
}

ScreenImage CaptureWindow(int display, unsigned long xid) {
  int status = -1;
  std::string data = RunPumping(display, {"xwd", "-id", std::to_string(xid), "-silent"}, &status);
  if (status != 0) return {};
  return ParseXwd(data);
}

void PaintTestPicture(int display, int width, int height) {
  const std::string image = "/tmp/telorus-gtk-picture-" + std::to_string(display) + ".png";
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string cmd = "(convert -size " + size +
                          " gradient:'#102030-#a0c0e0' -fill '#ff8000' -draw 'rectangle 40,40 300,200'"
                          " -fill white -draw 'rectangle 320,60 500,300' -fill black"
                          " -draw 'line 10,350 600,360' \\( -size 160x100 plasma:fractal -seed 5 \\)"
                          " -geometry +400+320 -composite " +
                          image + " && display -window root " + image + ") >/dev/null 2>&1 &";
  RunWithDisplay(display, {"sh", "-c", cmd});
  // The picture is there when the root window's corner pixel shows the
  // gradient's first colour.
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  while (Clock::now() < deadline) {
    ScreenImage s = CaptureScreen(display);
    if (s.width > 0 && s.At(width / 2, 2) != 0 && s.At(45, 45) == 0x0080FFu) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  RunWithDisplay(display, {"rm", "-f", image});
}

std::size_t CountDifferences(const ScreenImage& image, int width, int height,
                             const std::function<std::uint32_t(int, int)>& expected, int tolerance) {
  if (image.width < width || image.height < height) return SIZE_MAX;
  std::size_t n = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t a = image.At(x, y), b = expected(x, y);
      for (int c = 0; c < 3; ++c) {
        const int d = static_cast<int>((a >> (8 * c)) & 0xFF) - static_cast<int>((b >> (8 * c)) & 0xFF);
        if (d > tolerance || -d > tolerance) {
          ++n;
          break;
        }
      }
    }
  return n;
}

WindowedViewer::WindowedViewer(int width, int height) {
  top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(top), width, height);
  gtk_container_add(GTK_CONTAINER(top), window.Widget());
  gtk_widget_show_all(top);
  PumpUntil([&] { return window.Width() == width && window.Height() == height; });
  viewer.OnUpdateComplete = [this](TObject*) { ++updates; };
  viewer.OnConnectClose = [this](TObject*) { closed = true; };
  viewer.OnConnectError = [this](TObject*, const std::string& text) { error = text; };
}

WindowedViewer::~WindowedViewer() {
  viewer.DisConnect();
  gtk_widget_destroy(top);
  PumpFor(std::chrono::milliseconds(20));
}

void WindowedViewer::Connect(std::uint16_t port, const std::string& password) {
  viewer.SetServer("127.0.0.1");
  viewer.SetPort(port);
  viewer.SetPassword(password);
  viewer.Connect();
}

bool WindowedViewer::WaitFirstUpdate() {
  if (!PumpUntil([&] { return viewer.IsSessionRunning() || closed || !error.empty(); })) return false;
  if (!viewer.IsSessionRunning()) return false;
  const int before = updates;
  viewer.UpdateRequest();
  return PumpUntil([&] { return updates > before || closed; }) && !closed;
}

std::size_t WindowedViewer::MatchWindow(const std::function<std::size_t(const ScreenImage&)>& differences,
                                        std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t diff = SIZE_MAX;
  while (Clock::now() < deadline && !closed) {
    const int before = updates;
    viewer.UpdateRequest();
    PumpUntil([&] { return updates > before || closed; }, std::chrono::seconds(2));
    PumpFor(std::chrono::milliseconds(50));  // the frame that paints it
    diff = differences(CaptureWindow(LocalDisplay(), XidOf(top)));
    if (diff == 0) return 0;
  }
  return diff;
}

}  // namespace telorus::test

// Under the sanitizers: the caches and registrations that the toolkit
// libraries keep until the process ends (some made while they load) are
// not leaks of ours.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
         "leak:libfontconfig.so\nleak:libpango\nleak:libcairo.so\nleak:libpixman-1.so\nleak:libharfbuzz.so\n"
         "leak:libX11.so\nleak:libxkbcommon.so\nleak:libatk\nleak:libatspi.so\nleak:libepoxy.so\n"
         "leak:libdbus-1.so\nleak:libgdk_pixbuf\n";
}

// The local display comes first: GTK opens it once, at initialisation.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  std::unique_ptr<telorus::test::XvfbServer> display;
  if (!listing) {
    setenv("GDK_BACKEND", "x11", 1);
    setenv("G_SLICE", "always-malloc", 1);  // plain malloc, which the sanitizers see through
    // Test processes running side by side start X servers of their own; a
    // display that went away before GTK opened it is replaced.
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
      display = std::make_unique<telorus::test::XvfbServer>(1280, 1024, 24);
      if (!display->Ok()) continue;
      telorus::test::gLocalDisplay = display->Display();
      const std::string name = ":" + std::to_string(display->Display());
      setenv("DISPLAY", name.c_str(), 1);
      opened = gtk_init_check(&argc, &argv);
      if (!opened) std::fprintf(stderr, "GTK could not open %s\n", name.c_str());
    }
    if (!opened) {
      std::fprintf(stderr, "no local X display for GTK\n");
      return 1;
    }
  }
  return RUN_ALL_TESTS();
}
