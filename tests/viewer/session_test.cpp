// The session engine against a scripted RFB server on loopback: every
// handshake path and server message, each under three chunkings (whole, one
// byte at a time, random splits), checked by the viewer's events with their
// arguments, the bytes the client sent, and the framebuffer's pixels.
#include "platform/net.h"
#include "support/loopback.h"
#include "viewer/compressed_decoders.h"
#include "viewer/vncdes.h"
#include "session_fixture.h"

namespace telorus::test {
namespace {

class SessionTest : public ::testing::WithParamInterface<Chunking>, public ViewerSessionTest {
 protected:
  SessionTest() : ViewerSessionTest(GetParam()) {}

  // Checks that copies[from, to) are bands of whole rows that cover the
  // rectangle from its top down, in order, each at most maxRows high.
  static void ExpectBands(const std::vector<platform::HeadlessWindow::Copy>& copies, std::size_t from, std::size_t to,
                          platform::Rect rect, std::int64_t maxRows) {
    ASSERT_LT(from, to);
    ASSERT_LE(to, copies.size());
    std::int64_t top = rect.top;
    for (std::size_t i = from; i < to; ++i) {
      const platform::Rect& band = copies[i].source;
      EXPECT_EQ(band.left, rect.left) << "band " << i;
      EXPECT_EQ(band.right, rect.right) << "band " << i;
      EXPECT_EQ(band.top, top) << "band " << i;
      EXPECT_GT(band.bottom, band.top) << "band " << i;
      EXPECT_LE(band.Height(), maxRows) << "band " << i;
      top = band.bottom;
    }
    EXPECT_EQ(top, rect.bottom);
  }
};

INSTANTIATE_TEST_SUITE_P(Chunkings, SessionTest,
                         ::testing::Values(Chunking::Whole, Chunking::ByteByByte, Chunking::Random),
                         [](const auto& param) {
                           std::string n = ChunkingName(param.param);
                           n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                           return n;
                         });

TEST_P(SessionTest, HandshakeWithoutAuthentication) {
  EXPECT_EQ(viewer.Status(), VNCDisConnected);
  NoAuthHandshake(rfb::TrueColour32(), 64, 48, "my desktop");
  Go();
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 21; }));
  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(events, (Events{"Status(Server Support Version:RFB 003.008\n)", "Status(no authentication is needed)",
                            "FrameSize(64,48)", "Status(HostName: my desktop)", "HostName(my desktop)", "Connected"}));
  EXPECT_EQ(server.Received(), std::string("RFB 003.003\n") + '\0' + rfb::SetEncodings(5));
  EXPECT_EQ(viewer.Status(), VNCSessionStart);
  EXPECT_TRUE(viewer.IsSessionRunning());
  EXPECT_EQ(viewer.RemoteDeskWidth(), 64);
  EXPECT_EQ(viewer.RemoteDeskHeight(), 48);
  EXPECT_EQ(viewer.RemoteHostName(), "my desktop");
  ASSERT_NE(viewer.Framebuffer(), nullptr);
  EXPECT_EQ(viewer.Framebuffer()->Width(), 64);
}

TEST_P(SessionTest, SharedFlagAndCodecAreAnnounced) {
  viewer.SetShareDesktop(true);
  viewer.SetCodec(vncCoRRE);  // not connected: nothing is sent now
  NoAuthHandshake(rfb::TrueColour32(), 8, 8);
  Go();
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 21; }));
  EXPECT_EQ(server.Received(), std::string("RFB 003.003\n") + '\1' + rfb::SetEncodings(4));
}

// With other encodings allowed, the codec comes first, CopyRect and the most
// compact ones after it, then the levels; changes while running are sent
// at once, and switching the others off again leaves the codec alone.
TEST_P(SessionTest, OtherEncodingsAndLevelsFollowTheCodecWhenAllowed) {
  viewer.SetCodec(vncZRLE);
  viewer.SetAllowOtherEncodings(true);
  viewer.SetCompressLevel(3);
  viewer.SetJpegQuality(7);
  NoAuthHandshake(rfb::TrueColour32(), 8, 8);
  Go();
  std::vector<std::int32_t> expected = {16, 1, 7, 15, 5, 6, 4, 2, 0, -256 + 3};
  if (TightDecoder::JpegAvailable()) expected.push_back(-32 + 7);
  const std::string start = std::string("RFB 003.003\n") + '\0';
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= start.size() + 4 + 4 * expected.size(); }));
  EXPECT_EQ(server.Received(), start + rfb::SetEncodings(expected));
  viewer.SetAllowOtherEncodings(false);
  viewer.SetJpegQuality(12);  // out of range: lossless
  EXPECT_EQ(viewer.JpegQuality(), -1);
  std::vector<std::int32_t> withoutOthers = {16, -256 + 3};
  if (TightDecoder::JpegAvailable()) withoutOthers.push_back(-32 + 7);
  const std::string all =
      start + rfb::SetEncodings(expected) + rfb::SetEncodings(withoutOthers) + rfb::SetEncodings({16, -256 + 3});
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= all.size(); }));
  EXPECT_EQ(server.Received(), all);
}

TEST_P(SessionTest, VncAuthenticationWithTheRightPassword) {
  std::string challenge = "0123456789abcdef";
  viewer.SetPassword("secret");
  // Version and scheme in one segment: one data event handles both.
  server.Send("RFB 003.008\n" + rfb::Be32(2)).Expect(12).Send(challenge).Expect(16);
  server.Send(rfb::Be32(0)).Expect(1).Send(rfb::ServerInit(4, 4, rfb::TrueColour32(), "x")).Expect(8);
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 12 + 16 + 1 + 8; }));
  EXPECT_EQ(server.Received().substr(12, 16), EncryptChallenge(challenge, "secret"));
  Events statuses = Statuses();
  ASSERT_GE(statuses.size(), 6u);
  // The byte count after "used" is what the data event that carried the
  // scheme read: 16 when version and scheme came in one segment.
  const std::string prefix = "Status(VNC authentication is to be used";
  ASSERT_EQ(statuses[1].rfind(prefix, 0), 0u);
  int count = std::stoi(statuses[1].substr(prefix.size()));
  if (GetParam() == Chunking::Whole) {
    EXPECT_EQ(count, 16);
  } else {
    // In pieces, the event that completes the scheme may also carry part of
    // the challenge, which the server sends once it has the client's version:
    // at most the 4 scheme bytes and the 16 challenge bytes.
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 20);
  }
  EXPECT_EQ(statuses[2], "Status(Send Password!)");
  EXPECT_EQ(statuses[3], "Status(Logon Result:0)");
  EXPECT_EQ(statuses[4], "Status(Logon Success!)");
  EXPECT_EQ(viewer.UpdateRequestCount(), 0);
}

TEST_P(SessionTest, VncAuthenticationWithAWrongPassword) {
  viewer.SetPassword("wrong");
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::Be32(2)).Send(std::string(16, 'c')).Expect(16);
  server.Send(rfb::Be32(1)).Pause(50ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  Events tail(events.end() - 4, events.end());
  EXPECT_EQ(tail, (Events{"Status(Logon Result:1)", "Status(Logon Fail!)", "AuthFail", "ConnectClose"}));
  EXPECT_EQ(viewer.Status(), VNCVersion);
}

TEST_P(SessionTest, SchemeZeroAndUnknownSchemesClose) {
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::Be32(0) + rfb::Be32(26) + "Too many security failures");
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_TRUE(Has("Status(Connection Fail!)"));
  EXPECT_EQ(viewer.Status(), VNCVersion);
}

TEST_P(SessionTest, UnknownSchemeIsAnError) {
  server.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(7));
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_TRUE(Has("Status(Error Authentication Type!)"));
}

TEST_P(SessionTest, RawRectangleReachesFramebufferAndWindow) {
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 16, 8);
  server.Expect(10);  // the update request
  std::vector<std::uint32_t> colours;
  for (int i = 0; i < 5 * 3; ++i) colours.push_back(rfb::Rgb(i * 10, 255 - i * 10, i * 3));
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(2, 1, 5, 3, 0) + rfb::RawPixels(fmt, colours));
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  viewer.UpdateRequest();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  const FrameBitmap* fb = viewer.Framebuffer();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(fb->Surface().GetPixel(2 + x, 1 + y), colours[static_cast<std::size_t>(y * 5 + x)]) << x << "," << y;
      EXPECT_EQ(window.PixelAt(2 + x, 1 + y), colours[static_cast<std::size_t>(y * 5 + x)]);
    }
  EXPECT_EQ(fb->Surface().GetPixel(0, 0), 0u);
  // Whole rows reach the window as they are drawn: all three at once when
  // they arrive together, otherwise in bands from the top.
  if (GetParam() == Chunking::Whole) {
    ASSERT_EQ(window.Copies().size(), 1u);
  }
  ExpectBands(window.Copies(), 0, window.Copies().size(), {2, 1, 7, 4}, 3);
  EXPECT_EQ(server.Received().substr(21), rfb::UpdateRequest(false, 16, 8));
}

TEST_P(SessionTest, RawRowsShowBeforeTheRectangleEnds) {
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 8, 8);
  const std::uint32_t top = rfb::Rgb(200, 10, 10), rest = rfb::Rgb(10, 10, 200);
  std::vector<std::uint32_t> rows(6 * 4, top);
  std::fill(rows.begin() + 12, rows.end(), rest);
  const std::string pixels = rfb::RawPixels(fmt, rows);
  // Two rows and half of the third, then a pause, then the rest.
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(1, 2, 6, 4, 0) + pixels.substr(0, 6 * 4 * 2 + 12)).Pause(300ms);
  server.Send(pixels.substr(6 * 4 * 2 + 12));
  Go();
  ASSERT_TRUE(RunUntil([&] { return window.PixelAt(6, 3) == top; }));
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(window.PixelAt(1, 4), 0u) << "the half row is not drawn yet";
  ExpectBands(window.Copies(), 0, window.Copies().size(), {1, 2, 7, 4}, 2);
  const std::size_t early = window.Copies().size();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  EXPECT_EQ(window.PixelAt(1, 3), top);
  EXPECT_EQ(window.PixelAt(1, 4), rest);
  EXPECT_EQ(window.PixelAt(6, 5), rest);
  ExpectBands(window.Copies(), early, window.Copies().size(), {1, 4, 7, 6}, 2);
}

TEST_P(SessionTest, FailedWindowCopiesAreReportedAndTheSessionGoesOn) {
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 4, 4);
  const std::uint32_t colour = rfb::Rgb(9, 8, 7);
  server.Send(rfb::UpdateHeader(2) + rfb::RectHeader(0, 0, 2, 2, 0) +
              rfb::RawPixels(fmt, std::vector<std::uint32_t>(4, colour)) + rfb::RectHeader(2, 2, 2, 2, 2) +
              rfb::Rre(fmt, colour, {}));
  window.FailCopies(true);
  Go();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  EXPECT_GE(std::count(events.begin(), events.end(), "Status(Bitblt Fail!)"), 2);
  EXPECT_TRUE(viewer.IsSessionRunning());
  EXPECT_EQ(viewer.Framebuffer()->Surface().GetPixel(3, 3), colour);
  EXPECT_EQ(window.PixelAt(0, 0), 0u);
}

TEST_P(SessionTest, DisconnectingFromAFailedCopyStopsTheRectangle) {
  // A Raw rectangle of two bands: the host disconnects when the first band's
  // copy fails, and nothing of the rectangle may be decoded after that.
  auto fmt = rfb::TrueColour32();
  const int width = 256, height = 300;
  NoAuthHandshake(fmt, width, height);
  server.Send(
      rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, width, height, 0) +
      rfb::RawPixels(fmt, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, rfb::Rgb(1, 2, 3))));
  window.FailCopies(true);
  viewer.OnStatus = [this](TObject*, const std::string& t) {
    events.push_back("Status(" + t + ")");
    if (t == "Bitblt Fail!") viewer.DisConnect();
  };
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  Settle();
  EXPECT_EQ(std::count(events.begin(), events.end(), "Status(Bitblt Fail!)"), 1);
  EXPECT_EQ(updates, 0);
  EXPECT_FALSE(viewer.IsSessionRunning());
}

TEST_P(SessionTest, DisconnectingFromAHandshakeStatusEndsTheHandshakeThere) {
  // Each status of the handshake in turn: the host disconnects from its
  // handler, and the viewer neither goes on with the handshake nor keeps a
  // handshake state.
  const std::vector<std::string> prefixes = {"Server Support Version:", "VNC authentication is to be used",
                                             "Send Password!",          "Logon Result:",
                                             "Logon Success!",          "HostName:"};
  for (const std::string& prefix : prefixes) {
    SCOPED_TRACE(prefix);
    ScriptedServer script(GetParam(), 11);
    script.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(2)).Send(std::string(16, 'c')).Expect(16);
    script.Send(rfb::Be32(0)).Expect(1).Send(rfb::ServerInit(4, 4, rfb::TrueColour32(), "desk")).Pause(300ms);
    script.Start();
    Events seen;
    bool closed = false;
    viewer.OnConnectClose = [&](TObject*) { closed = true; };
    viewer.OnStatus = [&](TObject*, const std::string& t) {
      seen.push_back(t);
      if (t.rfind(prefix, 0) == 0) viewer.DisConnect();
    };
    viewer.SetPassword("pw");
    viewer.SetServer("127.0.0.1");
    viewer.SetPort(script.Port());
    viewer.Connect();
    ASSERT_TRUE(RunUntil([&] { return closed; }));
    Settle();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().rfind(prefix, 0), 0u) << "no status after the one that disconnected";
    EXPECT_EQ(viewer.Status(), VNCVersion);
    EXPECT_EQ(viewer.Framebuffer(), nullptr);
  }
}

TEST_P(SessionTest, DisconnectingOnTheHostNameRaisesNoConnected) {
  NoAuthHandshake(rfb::TrueColour32(), 4, 4);
  server.Pause(300ms);
  viewer.OnHostName = [this](TObject*, const std::string&) { viewer.DisConnect(); };
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  Settle();
  EXPECT_FALSE(Has("Connected"));
  EXPECT_EQ(viewer.Status(), VNCVersion);
}

TEST_P(SessionTest, DisconnectingOnTheCopyRectStatusStopsTheCopy) {
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 8, 8);
  server.Send(rfb::UpdateHeader(2) + rfb::RectHeader(4, 4, 4, 4, 1) + rfb::Be16(0) + rfb::Be16(0) +
              rfb::RectHeader(0, 0, 1, 1, 0) + rfb::RawPixels(fmt, {rfb::Rgb(1, 2, 3)}));
  viewer.OnStatus = [this](TObject*, const std::string& t) {
    events.push_back("Status(" + t + ")");
    if (t.rfind("CopyRect Codec:", 0) == 0) viewer.DisConnect();
  };
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  Settle();
  EXPECT_TRUE(Has("Status(CopyRect Codec:0,0)"));
  EXPECT_EQ(updates, 0);
  EXPECT_FALSE(viewer.IsSessionRunning());
}

TEST_P(SessionTest, EveryEncodingThroughTheEngine) {
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 40, 20);
  server.Expect(10);
  const std::uint32_t red = rfb::Rgb(255, 0, 0), green = rfb::Rgb(0, 255, 0), blue = rfb::Rgb(0, 0, 255);
  std::string update = rfb::UpdateHeader(5);
  update += rfb::RectHeader(0, 0, 40, 20, 0) + rfb::RawPixels(fmt, std::vector<std::uint32_t>(800, blue));
  update += rfb::RectHeader(0, 0, 10, 10, 2) + rfb::Rre(fmt, red, {{green, 2, 2, 3, 3}});
  update += rfb::RectHeader(10, 0, 10, 10, 4) + rfb::CoRre(fmt, green, {{red, 1, 1, 2, 2}});
  update += rfb::RectHeader(20, 0, 20, 20, 5) + rfb::HextileSolidTiles(fmt, 20, 20, red);
  update += rfb::RectHeader(0, 10, 10, 10, 1) + rfb::Be16(0) + rfb::Be16(0);  // CopyRect from (0,0)
  server.Send(update);
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  viewer.UpdateRequest();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  const FrameBitmap* fb = viewer.Framebuffer();
  EXPECT_EQ(fb->Surface().GetPixel(0, 0), red);
  EXPECT_EQ(fb->Surface().GetPixel(3, 3), green);
  EXPECT_EQ(fb->Surface().GetPixel(10, 0), green);
  EXPECT_EQ(fb->Surface().GetPixel(12, 2), red);
  EXPECT_EQ(fb->Surface().GetPixel(25, 15), red);
  EXPECT_EQ(fb->Surface().GetPixel(3, 13), green) << "copied from the RRE rectangle";
  EXPECT_EQ(fb->Surface().GetPixel(15, 15), blue) << "untouched by later rectangles";
  EXPECT_TRUE(Has("Status(CopyRect Codec:0,0)"));
  // The Raw rectangle in bands of rows, then one copy for each of the others.
  const auto& copies = window.Copies();
  ASSERT_GE(copies.size(), 5u);
  ExpectBands(copies, 0, copies.size() - 4, {0, 0, 40, 20}, 20);
  const platform::Rect& last = copies.back().source;
  EXPECT_EQ((std::vector<std::int64_t>{last.left, last.top, last.right, last.bottom}),
            (std::vector<std::int64_t>{0, 10, 10, 20}));
}

TEST_P(SessionTest, FullHdRawUpdatesFollowEachOther) {
  if (GetParam() != Chunking::Whole)
    GTEST_SKIP() << "16 MB in small pieces would take minutes; small rectangles cover the splits";
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 1920, 1080);
  std::vector<std::uint32_t> first(1920 * 1080), second(1920 * 1080);
  for (std::size_t i = 0; i < first.size(); ++i) {
    first[i] = rfb::Rgb(static_cast<std::uint32_t>(i % 251), static_cast<std::uint32_t>(i / 1920 % 256), 7);
    second[i] = rfb::Rgb(3, static_cast<std::uint32_t>(i % 199), static_cast<std::uint32_t>(i % 256));
  }
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, 1920, 1080, 0) + rfb::RawPixels(fmt, first));
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, 1920, 1080, 0) + rfb::RawPixels(fmt, second));
  Go();
  ASSERT_TRUE(RunUntil([&] { return updates >= 2; }, 30s));
  Settle();
  EXPECT_EQ(updates, 2);
  // Each full-screen rectangle reached the window in bands small enough to
  // be copied from the cache.
  const std::int64_t bandRows = static_cast<std::int64_t>(RectangleDecoder::kRawBandBytes / (1920 * 4));
  ASSERT_GE(window.Copies().size(), 2u * 1080 / static_cast<std::size_t>(bandRows));
  std::size_t secondStart = 0;
  for (std::size_t i = 1; i < window.Copies().size(); ++i)
    if (window.Copies()[i].source.top == 0) secondStart = i;
  ASSERT_GT(secondStart, 0u);
  ExpectBands(window.Copies(), 0, secondStart, {0, 0, 1920, 1080}, bandRows);
  ExpectBands(window.Copies(), secondStart, window.Copies().size(), {0, 0, 1920, 1080}, bandRows);
  const FrameBitmap* fb = viewer.Framebuffer();
  for (int y : {0, 1, 539, 1079})
    for (int x : {0, 1, 960, 1919})
      EXPECT_EQ(fb->Surface().GetPixel(x, y), second[static_cast<std::size_t>(y) * 1920 + x]) << x << "," << y;
}

TEST_P(SessionTest, BellClipboardColourMapAndEmptyUpdates) {
  viewer.SetEnableBell(true);
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 4, 4);
  server.Send(rfb::Bell()).Pause(30ms);
  server.Send(rfb::ColourMap(0, 3)).Pause(30ms);
  server.Send(rfb::UpdateHeader(0)).Pause(30ms);
  server.Send(rfb::ServerCutText("a\nb")).Pause(30ms);
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, 1, 1, 0) + rfb::RawPixels(fmt, {rfb::Rgb(1, 2, 3)}));
  Go();
  ASSERT_TRUE(RunUntil([&] { return updates == 2; }));
  EXPECT_EQ(bell.Beeps(), 1);
  EXPECT_EQ(clipboard.Text(), "a\r\nb");
  EXPECT_EQ(viewer.Framebuffer()->Surface().GetPixel(0, 0), rfb::Rgb(1, 2, 3)) << "the colour map entries were skipped";
}

TEST_P(SessionTest, UnknownMessageTypeDropsWhatIsBuffered) {
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 4, 4);
  server.Send(rfb::U8(9) + "garbage that cannot be framed").Pause(50ms);
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(1, 1, 1, 1, 0) + rfb::RawPixels(fmt, {rfb::Rgb(5, 6, 7)}));
  Go();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  EXPECT_EQ(viewer.Framebuffer()->Surface().GetPixel(1, 1), rfb::Rgb(5, 6, 7));
  EXPECT_TRUE(viewer.IsSessionRunning());
}

TEST_P(SessionTest, LongDesktopNameIsReadWhole) {
  std::string name(300, 'n');
  name[299] = 'Z';
  auto fmt = rfb::TrueColour32();
  NoAuthHandshake(fmt, 4, 4, name);
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, 1, 1, 0) + rfb::RawPixels(fmt, {rfb::Rgb(9, 9, 9)}));
  Go();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  EXPECT_EQ(viewer.RemoteHostName(), name);
  EXPECT_EQ(viewer.Framebuffer()->Surface().GetPixel(0, 0), rfb::Rgb(9, 9, 9)) << "the stream stayed in step";
}

TEST_P(SessionTest, UnsupportedPixelFormatEndsTheSession) {
  auto fmt = rfb::TrueColour32();
  fmt.bitsPerPixel = 24;
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::Be32(1)).Expect(1).Send(rfb::ServerInit(4, 4, fmt, "x"));
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_FALSE(Has("Connected"));
  bool reported = false;
  for (const auto& s : Statuses()) reported = reported || s.rfind("Status(Unsupported Pixel Format!", 0) == 0;
  EXPECT_TRUE(reported);
}

TEST_P(SessionTest, HugeServerCutTextEndsTheSessionInsteadOfExhaustingMemory) {
  NoAuthHandshake(rfb::TrueColour32(), 4, 4);
  server.Send(rfb::U8(3) + std::string(3, '\0') + rfb::Be32(0xFFFFFFF0u) + "abc");
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_TRUE(Has("Status(Receive Buffer Overflow!)"));
}

TEST_P(SessionTest, UpdateRequestsAreFullThenIncremental) {
  NoAuthHandshake(rfb::TrueColour32(), 30, 20);
  server.Expect(20);
  Go();
  viewer.UpdateRequest();  // before the session: held back
  ASSERT_TRUE(WaitEvent("Connected"));
  viewer.UpdateRequest();
  viewer.UpdateRequest();
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 21 + 20; }));
  EXPECT_EQ(server.Received().substr(21), rfb::UpdateRequest(false, 30, 20) + rfb::UpdateRequest(true, 30, 20));
}

TEST_P(SessionTest, TimerSendsUpdateRequestsAndTheLocalClipboard) {
  if (GetParam() != Chunking::Whole) GTEST_SKIP() << "the timer does not depend on how bytes arrive";
  NoAuthHandshake(rfb::TrueColour32(), 30, 20);
  server.Expect(10 + 8 + 6 + 10);
  clipboard.SetText("hello");
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  viewer.SetFrameUpdateDelay(30);
  viewer.SetRequestFreames(true);
  // The first tick: a full update request, then the clipboard text with its NUL.
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 21 + 10 + 8 + 6 + 10; }));
  std::string sent = server.Received().substr(21);
  EXPECT_EQ(sent.substr(0, 10), rfb::UpdateRequest(false, 30, 20));
  EXPECT_EQ(sent.substr(10, 14), rfb::U8(6) + std::string(3, '\0') + rfb::Be32(6) + std::string("hello\0", 6));
  EXPECT_EQ(sent.substr(24, 10), rfb::UpdateRequest(true, 30, 20)) << "the text is sent once";

  // A delay of 0 stops the ticks.
  viewer.SetFrameUpdateDelay(0);
  RunUntil([] { return false; }, 100ms);
  std::size_t before = server.Received().size();
  RunUntil([] { return false; }, 150ms);
  EXPECT_EQ(server.Received().size(), before);
}

// Paced requests: one request waits for its answer however often the timer
// ticks, and the next goes out as soon as the answer is in.
TEST_P(SessionTest, PacedRequestsWaitForTheirAnswer) {
  if (GetParam() != Chunking::Whole) GTEST_SKIP() << "the timer does not depend on how bytes arrive";
  NoAuthHandshake(rfb::TrueColour32(), 30, 20);
  server.Expect(10).Pause(500ms).Send(rfb::UpdateHeader(0)).Expect(10);
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  viewer.SetFrameUpdateDelay(10);
  viewer.SetPacedRequests(true);
  viewer.SetRequestFreames(true);
  // Ticks pass while the first request waits: still one request.
  ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 21 + 10; }));
  RunUntil([] { return false; }, 120ms);
  EXPECT_EQ(server.Received().size(), 21u + 10u);
  // The answer brings the next request at once.
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(server.Received().substr(21), rfb::UpdateRequest(false, 30, 20) + rfb::UpdateRequest(true, 30, 20));
}

TEST_P(SessionTest, DisconnectClearsTheSession) {
  NoAuthHandshake(rfb::TrueColour32(), 30, 20);
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  std::string stateInHandler;
  viewer.OnConnectClose = [&](TObject*) {
    stateInHandler = std::to_string(viewer.Status()) + " " + std::to_string(viewer.RemoteDeskWidth()) + " " +
                     viewer.RemoteHostName();
  };
  int invalidations = window.Invalidations();
  viewer.DisConnect();
  EXPECT_EQ(stateInHandler, "7 30 desk") << "the handler still sees the closing session";
  EXPECT_EQ(viewer.Status(), VNCVersion);
  EXPECT_EQ(viewer.RemoteDeskWidth(), 0);
  EXPECT_EQ(viewer.RemoteHostName(), "");
  EXPECT_EQ(viewer.Framebuffer(), nullptr);
  EXPECT_GT(window.Invalidations(), invalidations);
}

// ---- Connecting, without a server script ----

class ConnectTest : public LoopTest {
 protected:
  ConnectTest() {
    viewer.OnConnectError = [this](TObject*, const std::string& t) { events.push_back("ConnectError(" + t + ")"); };
    viewer.OnConnectClose = [this](TObject*) { events.push_back("ConnectClose"); };
  }
  void TearDown() override {
    platform::net::SetHostResolverForTesting(nullptr);
    viewer_.reset();
    LoopTest::TearDown();
  }
  platform::HeadlessWindow window{100, 100};
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  std::unique_ptr<TQuarneTelorus> viewer_ = std::make_unique<TQuarneTelorus>(window, clipboard, bell);
  TQuarneTelorus& viewer = *viewer_;
  Events events;
};

TEST_F(ConnectTest, MissingServerOrPortIsReported) {
  viewer.SetServer("   ");
  viewer.SetPort(5900);
  viewer.Connect();
  viewer.SetServer("127.0.0.1");
  viewer.SetPort(0);
  viewer.Connect();
  EXPECT_EQ(events, (Events{"ConnectError(Server Address Is Not Set!)", "ConnectError(Server Port Is Not Set!)"}));
  EXPECT_EQ(viewer.Status(), VNCDisConnected);
}

TEST_F(ConnectTest, RefusedConnectionReportsTheErrorThenCloses) {
  viewer.SetServer("127.0.0.1");
  viewer.SetPort(UnusedPort());
  viewer.Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return events.size() >= 2; }));
  EXPECT_EQ(events, (Events{"ConnectError(Connect Error!Error Number:10061)", "ConnectClose"}));
  EXPECT_EQ(viewer.Status(), VNCVersion);
}

TEST_F(ConnectTest, FailedLookupIsReported) {
  platform::net::SetHostResolverForTesting(
      [](const std::string&, bool, platform::net::HostEntry*) { return platform::net::kWsaHostNotFound; });
  viewer.SetServer("nowhere.example");
  viewer.SetPort(5900);
  viewer.Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events, (Events{"ConnectError(Dns Lookup Error!)"}));
  EXPECT_EQ(viewer.Status(), VNCDisConnected);
}

}  // namespace
}  // namespace telorus::test
