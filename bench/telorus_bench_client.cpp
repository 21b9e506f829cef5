// telorus-bench-client PORT FRAMES [--chunk BYTES] [--window WIDTHxHEIGHT]
//
// The viewer under test decoding a replayed stream: a TQuarneTelorus on a
// headless window (every rectangle is copied to it, as on screen) counts
// complete framebuffer updates. Prints the count and the seconds from the
// first rectangle to the last update's end, like the baseline client.
//
// The window is 1920 x 1080 unless --window says otherwise; a 1 x 1 window
// leaves out the copy to the screen, which the baseline does not make.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "update_timing.h"
#include "platform/headless/headless_window.h"
#include "platform/message_loop.h"
#include "viewer/Telorus.h"

using namespace telorus;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: telorus-bench-client PORT FRAMES [--chunk BYTES] [--window WIDTHxHEIGHT]\n");
    return 2;
  }
  int port = std::atoi(argv[1]);
  int want = std::atoi(argv[2]);
  int chunk = 0;
  int width = 1920, height = 1080;
  for (int i = 3; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--chunk") == 0) {
      chunk = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--window") == 0) {
      if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1) {
        std::fprintf(stderr, "telorus-bench-client: --window wants WIDTHxHEIGHT\n");
        return 2;
      }
    }
  }

  platform::HeadlessWindow window(width, height);
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  viewer::TQuarneTelorus v(window, clipboard, bell);
  if (chunk > 0) v.SetReceiveChunk(chunk);
  v.SetServer("127.0.0.1");
  v.SetPort(port);
  bench::UpdateTiming timing;
  timing.Attach(v);
  v.Connect();
  platform::RunUntil([&] { return timing.frames >= want || timing.closed; }, std::chrono::seconds(120));
  std::printf("%d %.6f\n", timing.frames, timing.Seconds());
  v.DisConnect();
  return timing.frames >= want ? 0 : 1;
}
