// What the GTK tests share: a local X display of their own (Xvfb, started
// before GTK is initialised), GTK's loop run until a condition holds, X
// tools run while GTK keeps serving (an X client that asks this process for
// the clipboard must get an answer), images of windows, and a viewer in a
// top-level window against a real server.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gtk/gtk_viewer.h"
#include "support/x_servers.h"
#include "viewer/Telorus.h"

namespace telorus::test {

// The display GTK runs on in this test process.
int LocalDisplay();

// Runs GTK's loop (and with it ours) until `done` or the timeout.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs GTK's loop for a while: pending layout and drawing get done.
void PumpFor(std::chrono::milliseconds time);
// Runs a command on `display` to completion while GTK's loop keeps running;
// returns its output.
std::string RunPumping(int display, const std::vector<std::string>& argv, int* status = nullptr);
// The X window of a realised widget's top level.
unsigned long XidOf(GtkWidget* widget);
// An image of one X window of `display` (xwd -id).
ScreenImage CaptureWindow(int display, unsigned long xid);

// Puts a picture with gradients, flat areas, sharp edges and noise on the
// root window of `display`, and waits until it is there.
void PaintTestPicture(int display, int width, int height);

// The number of pixels of `image` at (0, 0) .. (width, height) that differ
// from `expected(x, y)` by more than `tolerance` on a channel.
std::size_t CountDifferences(const ScreenImage& image, int width, int height,
                             const std::function<std::uint32_t(int, int)>& expected, int tolerance = 0);

// A viewer in a top-level window of the given client size, on the local
// display, with our loop under GTK's.
class WindowedViewer {
 public:
  WindowedViewer(int width, int height);
  ~WindowedViewer();

  void Connect(std::uint16_t port, const std::string& password = "");
  // Waits for the session to run and a first whole update to arrive.
  bool WaitFirstUpdate();
  // Asks for updates until `match` holds for the image of the window (with
  // pending drawing done), or the timeout passes; returns the last
  // difference count `match` gave.
  std::size_t MatchWindow(const std::function<std::size_t(const ScreenImage&)>& differences,
                          std::chrono::seconds timeout = std::chrono::seconds(20));

  platform::gtk::MessageLoopSource loop;
  platform::gtk::ViewerWidget window;
  platform::gtk::ClipboardText clipboard;
  platform::gtk::DisplayBell bell;
  viewer::TQuarneTelorus viewer{window, clipboard, bell};
  GtkWidget* top = nullptr;
  int updates = 0;
  bool closed = false;
  std::string error;
};

}  // namespace telorus::test
