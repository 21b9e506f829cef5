// Line mode: one data event per complete line, markers split across reads,
// backspace and tab editing with and without echo, the buffer limit,
// switching modes inside a handler, the last line at close, and lines
// nobody reads.
#include <gtest/gtest.h>

#include "socket_fixture.h"

namespace telorus::test {
namespace {

using namespace socket;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class LineTest : public SocketTest {
 protected:
  void SetUp() override {
    ConnectPeer();
    sock->SetLineMode(true);
    RecordReads();
  }
  void TearDown() override {
    sock->OnLineLimitExceeded = nullptr;
    SocketTest::TearDown();
  }

  // The handler reads readSize bytes per event and keeps what it got; a
  // hook may act after each read.
  void RecordReads() {
    sock->OnDataAvailable = [this](TObject*, std::uint16_t) {
      ++calls;
      pendingSeen.push_back(sock->RcvdCount());
      std::string buf(static_cast<std::size_t>(readSize), '\0');
      int n = sock->Receive(buf.data(), readSize);
      if (n > 0) reads.push_back(buf.substr(0, static_cast<std::size_t>(n)));
      if (auto h = afterRead) h();
    };
  }

  // Sends bytes from the peer and waits until the socket has taken them
  // from the network, so that the next send is a read of its own.
  void Arrive(const std::string& bytes) {
    std::int32_t before = sock->ReadCount();
    std::size_t readsBefore = reads.size();
    peer.SendAll(bytes);
    ASSERT_TRUE(RunLoopUntil([&] {
      return sock->ReadCount() >= before + static_cast<std::int32_t>(bytes.size()) || reads.size() > readsBefore;
    }));
    RunLoopUntil([] { return false; }, 20ms);
  }

  int readSize = 4096;
  int calls = 0;
  Lines reads;
  std::vector<std::int32_t> pendingSeen;
  std::function<void()> afterRead;
};

TEST_F(LineTest, OneEventPerLineAndTheRestStaysBuffered) {
  readSize = 10;
  Arrive("AB\r\nCD");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(reads, (Lines{"AB\r\n"})) << "a read of 10 returns the line with its marker only";
  EXPECT_EQ(pendingSeen, (std::vector<std::int32_t>{4})) << "RcvdCount is the pending line's length";
  EXPECT_EQ(sock->RcvdCount(), 0) << "no complete line is waiting";
  Arrive("E\r\nF");
  EXPECT_EQ(reads, (Lines{"AB\r\n", "CDE\r\n"}));
}

TEST_F(LineTest, SeveralLinesInOneRead) {
  Arrive("one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(reads, (Lines{"one\r\n", "two\r\n", "three\r\n"}));
}

TEST_F(LineTest, MarkerSplitAcrossReads) {
  Arrive("ab\r");
  EXPECT_TRUE(reads.empty());
  Arrive("\ncd\r");
  Arrive("\n");
  EXPECT_EQ(reads, (Lines{"ab\r\n", "cd\r\n"}));
  // A longer marker split in three.
  sock->SetLineEnd("<END>");
  Arrive("x<E");
  Arrive("N");
  Arrive("D>y");
  EXPECT_EQ(reads, (Lines{"ab\r\n", "cd\r\n", "x<END>"}));
}

TEST_F(LineTest, ALineReadInPartsRaisesTheEventForEachPart) {
  readSize = 2;
  Arrive("abcde\r\nz");
  EXPECT_EQ(reads, (Lines{"ab", "cd", "e\r", "\n"}));
  EXPECT_EQ(pendingSeen, (std::vector<std::int32_t>{7, 5, 3, 1}));
}

TEST_F(LineTest, EchoWithoutEditingSendsTheBytesBackUnchanged) {
  sock->SetLineEcho(true);
  Arrive("ab\x08\tc\r\n");
  EXPECT_EQ(reads, (Lines{"ab\x08\tc\r\n"}));
  EXPECT_EQ(peer.ReadExactly(7), "ab\x08\tc\r\n");
}

TEST_F(LineTest, BackspaceEditing) {
  sock->SetLineEdit(true);
  Arrive(
      "ab\x08"
      "c\r\n");
  EXPECT_EQ(reads, (Lines{"ac\r\n"}));
  // A backspace erases bytes of an earlier read that are still buffered.
  Arrive("xyz");
  Arrive("\x08\x08w\r\n");
  EXPECT_EQ(reads, (Lines{"ac\r\n", "xw\r\n"}));
  // Backspaces at the start of the buffer erase nothing.
  Arrive("\x08\x08q\r\n");
  EXPECT_EQ(reads, (Lines{"ac\r\n", "xw\r\n", "q\r\n"}));
  // Nothing was echoed.
  sock->SendText("|");
  EXPECT_EQ(peer.ReadExactly(1), "|");
}

TEST_F(LineTest, AReadOfOnlyBackspacesOnAnEmptyBuffer) {
  // Editing leaves nothing at all here (the UBSan build once saw a copy
  // from the empty edited bytes).
  sock->SetLineEdit(true);
  Arrive("\x08");
  Arrive("\x08\x08");
  Arrive("q\r\n");
  EXPECT_EQ(reads, (Lines{"q\r\n"}));
}

TEST_F(LineTest, BackspaceEditingWithEcho) {
  sock->SetLineEdit(true);
  sock->SetLineEcho(true);
  Arrive(
      "ab\x08"
      "c\r\n");
  EXPECT_EQ(reads, (Lines{"ac\r\n"}));
  const std::string echo =
      "ab\x08\x20\x08"
      "c\r\n";
  EXPECT_EQ(peer.ReadExactly(echo.size()), echo);
}

TEST_F(LineTest, TabEditingToStopsEveryEightBytes) {
  sock->SetLineEdit(true);
  Arrive("\tx\r\n");
  Arrive("abc\ty\r\n");
  Arrive("12345678\tz\r\n");
  EXPECT_EQ(reads, (Lines{"        x\r\n", "abc     y\r\n", "12345678        z\r\n"}));
}

TEST_F(LineTest, TabEditingWithEchoSendsSpaces) {
  sock->SetLineEdit(true);
  sock->SetLineEcho(true);
  Arrive("abc\td\r\n");
  EXPECT_EQ(reads, (Lines{"abc     d\r\n"}));
  EXPECT_EQ(peer.ReadExactly(11), "abc     d\r\n");
}

TEST_F(LineTest, LimitEventClearsTheBufferByDefault) {
  sock->SetLineLimit(10);
  std::vector<std::int32_t> limits;
  sock->OnLineLimitExceeded = [&](TObject*, std::int32_t length, bool& clear) {
    limits.push_back(length);
    EXPECT_TRUE(clear);
  };
  Arrive("0123456789");
  EXPECT_TRUE(limits.empty()) << "10 bytes are within the limit";
  Arrive("A");
  EXPECT_EQ(limits, (std::vector<std::int32_t>{11}));
  Arrive("ok\r\n");
  EXPECT_EQ(reads, (Lines{"ok\r\n"})) << "the cleared bytes are gone";
}

TEST_F(LineTest, LimitEventCanKeepTheData) {
  sock->SetLineLimit(10);
  int events = 0;
  sock->OnLineLimitExceeded = [&](TObject*, std::int32_t, bool& clear) {
    ++events;
    clear = false;
  };
  Arrive("0123456789A");
  Arrive("B");
  EXPECT_EQ(events, 2) << "each read past the limit asks again";
  Arrive("\r\n");
  EXPECT_EQ(reads, (Lines{"0123456789AB\r\n"}));
}

TEST_F(LineTest, SwitchingLineModeOffInsideTheHandler) {
  // The first handler switches line mode off before reading its line.
  sock->OnDataAvailable = [this](TObject*, std::uint16_t) {
    ++calls;
    if (calls == 1) {
      EXPECT_EQ(sock->RcvdCount(), 4);
      sock->SetLineMode(false);
      return;
    }
    char buf[3];
    int n = sock->Receive(buf, sizeof buf);
    if (n > 0) reads.push_back(std::string(buf, static_cast<std::size_t>(n)));
  };
  Arrive("L1\r\nrest");
  ASSERT_TRUE(RunLoopUntil([&] { return reads.size() >= 3; }));
  std::string all;
  for (const auto& r : reads) all += r;
  EXPECT_EQ(all, "L1\r\nrest") << "the line with its marker, once, then what followed it";
  EXPECT_EQ(reads.front(), "L1\r") << "ordinary reads, not lines";
  Arrive("more");
  all.clear();
  for (const auto& r : reads) all += r;
  EXPECT_EQ(all, "L1\r\nrestmore");
}

TEST_F(LineTest, SwitchingBackAndForthWithBufferedBytes) {
  // A line, then raw bytes, then lines again, all in one read.
  sock->OnDataAvailable = [this](TObject*, std::uint16_t) {
    ++calls;
    char buf[64];
    if (sock->LineMode()) {
      int n = sock->Receive(buf, sizeof buf);
      if (n > 0) reads.push_back(std::string(buf, static_cast<std::size_t>(n)));
      if (reads.size() == 1) sock->SetLineMode(false);
    } else {
      int n = sock->Receive(buf, 3);
      if (n > 0) reads.push_back("raw:" + std::string(buf, static_cast<std::size_t>(n)));
      sock->SetLineMode(true);
    }
  };
  Arrive("x\r\nraw1\r\nraw2\r\n");
  ASSERT_TRUE(RunLoopUntil([&] { return reads.size() >= 4; }, 2s)) << ::testing::PrintToString(reads);
  EXPECT_EQ(reads, (Lines{"x\r\n", "raw:raw", "1\r\n", "raw2\r\n"}));
}

TEST_F(LineTest, TheLastLineAtCloseNeedsNoMarker) {
  std::vector<std::string> order;
  log->after = nullptr;
  sock->OnSessionClosed = [&](TObject*, std::uint16_t e) { order.push_back("closed(" + std::to_string(e) + ")"); };
  afterRead = [&] { order.push_back("read:" + reads.back()); };
  Arrive("a\r\nxyz");
  peer.ShutdownWrite();
  ASSERT_TRUE(RunLoopUntil([&] { return sock->State() == wsClosed; }));
  EXPECT_EQ(order, (Lines{"read:a\r\n", "read:xyz", "closed(0)"}));
}

TEST_F(LineTest, WithoutAHandlerLinesAreDropped) {
  sock->OnDataAvailable = nullptr;
  peer.SendAll("one\r\ntwo");
  ASSERT_TRUE(RunLoopUntil([&] { return sock->ReadCount() == 8; }));
  RecordReads();
  Arrive("\r\n");
  EXPECT_EQ(reads, (Lines{"two\r\n"}));
}

TEST_F(LineTest, AHandlerThatReadsNothingGetsEachLineOnce) {
  readSize = 0;
  Arrive("a\r\nb\r\nc");
  EXPECT_EQ(calls, 2) << "an unread line is dropped instead of being offered forever";
  readSize = 16;
  Arrive("\r\n");
  EXPECT_EQ(reads, (Lines{"c\r\n"}));
}

TEST_F(LineTest, AnEmptyMarkerTurnsLineHandlingOff) {
  sock->SetLineEnd("");
  Arrive("no\r\nlines");
  EXPECT_EQ(reads, (Lines{"no\r\nlines"}));
}

}  // namespace
}  // namespace telorus::test
