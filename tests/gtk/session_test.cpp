// Our message loop under GTK's: timers and records from other threads run
// in gtk_main, a send larger than the socket buffers drains as its peer
// reads, a WaitForFlag and a Flush from inside a GTK signal handler
// keep the session going, and clipboard text travels both ways between the
// local CLIPBOARD (UTF-8, line feeds) and real servers (ISO-8859-1):
// TigerVNC through its selections, x11vnc through its CUT_BUFFER0; the
// server's bell rings the display's.
#include <memory>
#include <thread>

#include "gtk/gtk_fixture.h"
#include "platform/message_loop.h"
#include "socket/USocket.h"
#include "support/loop_check.h"
#include "support/loopback.h"
#include "support/scripted_server.h"
#include "viewer/rfb_bytes.h"

// After gtest: Xlib's None macro would break its headers.
#include <X11/XKBlib.h>

namespace telorus::test {
namespace {

using namespace std::chrono_literals;

TEST(GtkLoop, TimersAndPostsFromAnotherThreadRunInGtkMain) {
  {
    platform::gtk::MessageLoopSource source;
    int ticks = 0;
    bool posted = false;
    platform::Notifier notifier([&](const platform::Message& m) {
      if (m.msg == platform::kTimerMessage) ++ticks;
      if (m.msg == platform::kUserMessage + 1) posted = m.wParam == 42;
      if (ticks >= 3 && posted) gtk_main_quit();
    });
    notifier.SetTimer(7, 10);
    std::thread poster([&] {
      std::this_thread::sleep_for(30ms);
      notifier.Post(platform::kUserMessage + 1, 42, 0);
    });
    // A fail-safe: GTK's own timeout ends the run if ours never do.
    const guint guard = g_timeout_add_seconds(
        10,
        [](gpointer) -> gboolean {
          gtk_main_quit();
          return G_SOURCE_REMOVE;
        },
        nullptr);
    gtk_main();
    poster.join();
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(posted);
    g_source_remove(guard);
  }
  ExpectLoopClean();
}

// A socket comes to want write readiness while the set of descriptors
// stays the same: GLib's poll has to learn of it for the rest of the bytes
// to go out. (A listening socket opened after the connection settled makes
// GLib's records hold the connection as wanting only to read.)
TEST(GtkLoop, ASendLargerThanTheSocketBuffersDrainsAsThePeerReads) {
  {
    platform::gtk::MessageLoopSource source;
    Listener listener;
    socket::TUSocket sock;
    sock.SendBlockSize = 65535;
    bool connected = false, drained = false;
    sock.OnSessionConnected = [&](TObject*, std::uint16_t error) { connected = error == 0; };
    sock.OnDataSent = [&](TObject*, std::uint16_t) { drained = true; };
    sock.SetAddr("127.0.0.1");
    sock.SetPort(listener.PortText());
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return connected && drained; }));
    Peer peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    socket::TUSocket idle;
    idle.SetAddr("127.0.0.1");
    idle.SetPort("0");
    idle.Listen();
    PumpFor(50ms);
    const std::string data = PatternBytes(8 * 1024 * 1024);
    drained = false;
    ASSERT_EQ(sock.Send(data.data(), static_cast<std::int32_t>(data.size())), static_cast<std::int32_t>(data.size()));
    ASSERT_FALSE(sock.AllSent()) << "the socket buffers took 8 MiB at once";
    std::string got;
    std::thread reader([&] {
      std::this_thread::sleep_for(200ms);
      got = peer.ReadExactly(data.size(), 30s);
    });
    EXPECT_TRUE(PumpUntil([&] { return drained; }, 30s));
    reader.join();
    EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes, in order";
  }
  ExpectLoopClean();
}

TEST(GtkLoop, WaitForFlagAndFlushInsideAGtkHandlerKeepTheSessionRunning) {
  XvncServer server(320, 240, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  RunWithDisplay(server.Display(), {"xsetroot", "-solid", "#204060"});
  {
    WindowedViewer w(320, 240);
    w.Connect(server.Port());
    ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;

    // The handler changes the server's screen, then waits for the update
    // that shows it: the wait itself has to run the socket and the decoder.
    bool arrived = false, gaveUp = false;
    std::int32_t waited = -1;
    const std::uint32_t kNewColour = 0x00C08040;  // #4080c0 as a colour value
    GtkWidget* button = gtk_button_new();
    g_object_ref_sink(button);
    auto onClicked = [&] {
      std::thread change([&] { RunWithDisplay(server.Display(), {"xsetroot", "-solid", "#4080c0"}); });
      w.viewer.OnUpdateComplete = [&](TObject*) {
        ++w.updates;
        arrived = w.viewer.Framebuffer()->Surface().GetPixel(10, 10) == kNewColour;
        if (!arrived) w.viewer.UpdateRequest();
      };
      platform::Notifier guard([&](const platform::Message&) { gaveUp = arrived = true; });
      guard.SetTimer(1, 15000);
      w.viewer.UpdateRequest();
      w.viewer.Socket().Flush();
      waited = w.viewer.Socket().WaitForFlag(arrived);
      change.join();
    };
    using Handler = decltype(onClicked);
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer h) { (*static_cast<Handler*>(h))(); }),
                     &onClicked);
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_EQ(waited, 0);
    EXPECT_FALSE(gaveUp) << "the update arrived inside the wait";
    EXPECT_TRUE(w.viewer.IsSessionRunning());
    // After the handler, GTK paints what the wait decoded.
    EXPECT_EQ(w.MatchWindow([&](const ScreenImage& image) {
      return CountDifferences(image, 320, 240, [&](int, int) { return kNewColour; });
    }),
              0u);
    g_object_unref(button);
  }
  ExpectLoopClean();
}

// Clipboard tests: a session whose update timer polls the local clipboard.
class GtkClipboard : public ::testing::Test {
 protected:
  void Start(WindowedViewer& w, std::uint16_t port) {
    w.viewer.SetFrameUpdateDelay(50);
    w.viewer.SetRequestFreames(true);
    w.Connect(port);
    ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
  }
  static void SetSelection(int display, const std::string& utf8) {
    RunPumping(display, {"sh", "-c", "printf '%s' \"$0\" | xclip -i -selection clipboard >/dev/null 2>&1", utf8});
  }
  static std::string Selection(int display) { return RunPumping(display, {"xclip", "-o", "-selection", "clipboard"}); }
  // Polls `read` until it gives `expected` (the far side takes its time).
  static std::string Await(const std::function<std::string()>& read, const std::string& expected) {
    std::string got;
    PumpUntil([&] { return (got = read()) == expected; }, 15s);
    return got;
  }
};

TEST_F(GtkClipboard, TigerVncBothWaysInLatin1WithLineFeeds) {
  XvncServer server(320, 240, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  WindowedViewer w(320, 240);
  Start(w, server.Port());
  // Local to server: the euro sign is not in ISO-8859-1.
  SetSelection(LocalDisplay(), "Grüße € café\nzwei");
  EXPECT_EQ(Await([&] { return Selection(server.Display()); }, "Grüße ? café\nzwei"), "Grüße ? café\nzwei");
  // Server to local: line feeds stay line feeds on the X side.
  SetSelection(server.Display(), "naïve\nzeile 2");
  EXPECT_EQ(Await([&] { return Selection(LocalDisplay()); }, "naïve\nzeile 2"), "naïve\nzeile 2");
  // What came from the server is not sent back to it.
  PumpFor(300ms);
  EXPECT_EQ(Selection(server.Display()), "naïve\nzeile 2");
}

TEST_F(GtkClipboard, X11VncBothWaysThroughItsCutBuffer) {
  X11VncServer server(320, 240, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  WindowedViewer w(320, 240);
  Start(w, server.Port());
  auto cutBuffer = [&] { return RunPumping(server.Display(), {"xprop", "-root", "-notype", "CUT_BUFFER0"}); };
  SetSelection(LocalDisplay(), "Straße");
  // xprop shows the property's ISO-8859-1 bytes: ß is octal 337.
  EXPECT_EQ(Await(cutBuffer, "CUT_BUFFER0 = \"Stra\\337e\"\n"), "CUT_BUFFER0 = \"Stra\\337e\"\n");
  // Server to local: the cut buffer's ISO-8859-1 bytes arrive as UTF-8.
  // x11vnc passes over a change that comes while it still handles the one
  // it made itself: the buffer is set again until the text arrives.
  std::string local;
  for (int attempt = 0; attempt < 4 && local != "Grüße aus x11vnc"; ++attempt) {
    PumpFor(500ms);
    RunPumping(server.Display(), {"xprop", "-root", "-format", "CUT_BUFFER0", "8s", "-set", "CUT_BUFFER0",
                                  "Gr\xFC\xDF"
                                  "e aus x11vnc"});
    PumpUntil([&] { return (local = Selection(LocalDisplay())) == "Grüße aus x11vnc"; }, 4s);
  }
  EXPECT_EQ(local, "Grüße aus x11vnc");
}

TEST(GtkSession, TheServersBellRingsTheDisplaysBell) {
  // XKB tells a client that asks of every bell rung on the display.
  std::unique_ptr<Display, int (*)(Display*)> connection(XOpenDisplay((":" + std::to_string(LocalDisplay())).c_str()),
                                                         XCloseDisplay);
  Display* x = connection.get();
  ASSERT_NE(x, nullptr);
  int opcode = 0, xkbEvent = 0, xkbError = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  ASSERT_TRUE(XkbUseExtension(x, &major, &minor) &&
              XkbQueryExtension(x, &opcode, &xkbEvent, &xkbError, &major, &minor));
  XkbSelectEvents(x, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
  XSync(x, False);
  auto bellsRung = [&] {
    int bells = 0;
    while (XPending(x) > 0) {
      XkbEvent event;
      XNextEvent(x, &event.core);
      if (event.type == xkbEvent && event.any.xkb_type == XkbBellNotify) ++bells;
    }
    return bells;
  };
  ScriptedServer server;
  server.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(1)).Expect(1);
  server.Send(rfb::ServerInit(8, 8, rfb::TrueColour32(), "bell")).Pause(300ms).Send(rfb::Bell());
  server.Start();
  WindowedViewer w(64, 64);
  w.viewer.SetEnableBell(true);
  w.Connect(server.Port());
  ASSERT_TRUE(PumpUntil([&] { return w.viewer.IsSessionRunning(); }));
  EXPECT_EQ(bellsRung(), 0) << "no bell before the server rings";
  int bells = 0;
  PumpUntil([&] { return (bells += bellsRung()) > 0; }, 5s);
  PumpFor(200ms);
  EXPECT_EQ(bells + bellsRung(), 1);
}

}  // namespace
}  // namespace telorus::test
