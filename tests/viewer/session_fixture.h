// A viewer on a headless window, connected to a scripted RFB server on
// loopback, with its events recorded as text: the fixture of the session,
// display and input tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/headless_window.h"
#include "support/loop_check.h"
#include "support/scripted_server.h"
#include "viewer/Telorus.h"
#include "rfb_bytes.h"

namespace telorus::test {

using namespace viewer;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;

class ViewerSessionTest : public LoopTest {
 protected:
  explicit ViewerSessionTest(Chunking chunking) : server(chunking, 7) {
    viewer.OnStatus = [this](TObject*, const std::string& t) { events.push_back("Status(" + t + ")"); };
    viewer.OnConnectError = [this](TObject*, const std::string& t) { events.push_back("ConnectError(" + t + ")"); };
    viewer.OnAuthFail = [this](TObject*) { events.push_back("AuthFail"); };
    viewer.OnFrameSize = [this](TObject*, std::int32_t w, std::int32_t h) {
      events.push_back("FrameSize(" + std::to_string(w) + "," + std::to_string(h) + ")");
    };
    viewer.OnHostName = [this](TObject*, const std::string& n) { events.push_back("HostName(" + n + ")"); };
    viewer.OnConnected = [this](TObject*) { events.push_back("Connected"); };
    viewer.OnConnectClose = [this](TObject*) { events.push_back("ConnectClose"); };
    viewer.OnUpdateComplete = [this](TObject*) { ++updates; };
  }

  void TearDown() override {
    viewer_.reset();  // the viewer's socket and timer must be gone before the loop check
    platform::PumpPending();
    LoopTest::TearDown();
  }

  // Starts the script and connects the viewer to it.
  void Go() {
    server.Start();
    viewer.SetServer("127.0.0.1");
    viewer.SetPort(server.Port());
    viewer.Connect();
  }

  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds t = 10s) { return RunLoopUntil(done, t); }
  void Settle() {
    RunLoopUntil([] { return false; }, 200ms);
  }
  bool Has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
  bool WaitEvent(const std::string& e) {
    return RunUntil([&] { return Has(e); });
  }
  // The statuses only, in order.
  Events Statuses() const {
    Events out;
    for (const auto& e : events)
      if (e.rfind("Status(", 0) == 0) out.push_back(e);
    return out;
  }

  // Plays the handshake of a server that needs no password.
  void NoAuthHandshake(const rfb::PixelFormat& format, int width, int height, const std::string& name = "desk") {
    server.Send("RFB 003.008\n").Expect(12).Send(rfb::Be32(1)).Expect(1);
    server.Send(rfb::ServerInit(width, height, format, name));
    server.Expect(8);  // SetEncodings
  }

  platform::HeadlessWindow window{800, 600};
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  std::unique_ptr<TQuarneTelorus> viewer_ = std::make_unique<TQuarneTelorus>(window, clipboard, bell);
  TQuarneTelorus& viewer = *viewer_;
  ScriptedServer server;
  Events events;
  int updates = 0;
};

}  // namespace telorus::test
