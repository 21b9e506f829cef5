// Fuzzes line mode of the real TUSocket: a peer played over loopback by the
// fuzzer sends the stream in pieces, and the application's handler does what
// the input tells it.
//
// Input: byte 0 picks LineEnd (bits 0-2), whether the peer ends with a reset
// (bit 3) and the number of handler steps (bits 4-7, 1 to 16). Byte 1 picks
// LineEdit (bit 0), LineEcho (bit 1), LineLimit (bits 2-4), whether the
// limit handler keeps the data (bit 5) and whether line mode starts off
// (bit 6). Then come the handler steps, used in turn, one per
// OnDataAvailable: read everything, read a part, read nothing, switch line
// mode off or on (then read), read a part and switch, switch without
// reading, change LineEnd; a call without line handling always reads (a
// host must read there, or it is called again at once). The rest is the stream: pieces of a length byte
// (1 + value % 64) and that many bytes.
//
// When the handler only reads (all or in parts) with line mode on and one
// marker, a model of line mode predicts every byte the application reads,
// the echo the peer gets back and every OnLineLimitExceeded; with other
// steps the run must still lose no byte unless a step or the limit drops
// some. Nothing may crash, hang or stay behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "loopback_peer.h"
#include "socket/USocket.h"

namespace {

using namespace telorus;
using namespace telorus::socket;
using namespace telorus::fuzz;

const std::string kEnds[] = {"\r\n", "\n", "", std::string(1, '\0'), "END", "\r\n\r\n", "\r", "ab"};
const std::int32_t kLimits[] = {65536, 0, -1, 1, 5, 10, 32, 200};

enum Step : std::uint8_t { kReadAll, kReadPart, kReadNothing, kModeOff, kModeOn, kPartThenToggle, kToggle, kNewEnd };

struct Config {
  std::string end;
  bool reset = false;
  bool edit = false;
  bool echo = false;
  std::int32_t limit = 65536;
  bool keepOverLimit = false;
  bool startOff = false;
  std::vector<std::uint8_t> steps;
};

struct Expected {
  std::string application;
  std::string echo;
  std::vector<std::int32_t> limitEvents;
};

// Line mode for a handler that reads everything it is given: the edited
// bytes, the lines found in them, the limit, and the last line at the close.
Expected Model(const Config& c, const std::vector<std::string>& pieces) {
  Expected e;
  if (c.end.empty()) {
    // No marker: line handling is off and bytes pass as they come.
    for (const auto& p : pieces) e.application += p;
    return e;
  }
  std::string buffer;
  for (const auto& piece : pieces) {
    if (c.edit) {
      for (char ch : piece) {
        if (ch == 0x08) {
          if (c.echo && !buffer.empty()) e.echo += "\x08\x20\x08";
          if (!buffer.empty()) buffer.pop_back();
        } else if (ch == 0x09) {
          do {
            buffer.push_back(' ');
            if (c.echo) e.echo.push_back(' ');
          } while (buffer.size() % 8 != 0);
        } else {
          buffer.push_back(ch);
          if (c.echo) e.echo.push_back(ch);
        }
      }
    } else {
      buffer += piece;
      if (c.echo) e.echo += piece;
    }
    for (;;) {
      const std::size_t at = buffer.find(c.end);
      if (at == std::string::npos) break;
      e.application += buffer.substr(0, at + c.end.size());
      buffer.erase(0, at + c.end.size());
    }
    if (c.limit > 0 && buffer.size() > static_cast<std::size_t>(c.limit)) {
      e.limitEvents.push_back(static_cast<std::int32_t>(buffer.size()));
      if (!c.keepOverLimit) buffer.clear();
    }
  }
  e.application += buffer;  // the last line, delivered at the close
  return e;
}

// Both byte strings in hex on standard error, when they differ.
void PrintIfDifferent(const std::string& got, const std::string& expected, const char* what) {
  if (got == expected) return;
  for (unsigned char ch : got) std::fprintf(stderr, "%02x ", ch);
  std::fprintf(stderr, "<- %s, expected ->", what);
  for (unsigned char ch : expected) std::fprintf(stderr, " %02x", ch);
  std::fprintf(stderr, "\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  Config c;
  c.end = kEnds[data[0] & 7];
  c.reset = (data[0] & 8) != 0;
  const std::size_t stepCount = 1 + (data[0] >> 4);
  c.edit = (data[1] & 1) != 0;
  c.echo = (data[1] & 2) != 0;
  c.limit = kLimits[(data[1] >> 2) & 7];
  c.keepOverLimit = (data[1] & 32) != 0;
  c.startOff = (data[1] & 64) != 0;
  std::size_t i = 2;
  for (std::size_t k = 0; k < stepCount && i < size; ++k) c.steps.push_back(data[i++]);
  if (c.steps.empty()) c.steps.push_back(kReadAll);
  const std::vector<std::string> pieces = SplitPieces(data, size, i);

  // Which oracle applies.
  bool onlyReads = !c.startOff;
  bool dropsNothing = !c.edit && (c.limit <= 0 || c.keepOverLimit);
  for (std::uint8_t st : c.steps) {
    const Step kind = static_cast<Step>(st & 7);
    if (kind != kReadAll && kind != kReadPart) onlyReads = false;
    if (kind == kReadNothing || kind == kToggle || kind == kNewEnd) dropsNothing = false;
  }

  const Expected expected = onlyReads ? Model(c, pieces) : Expected{};
  std::string application;
  std::vector<std::int32_t> limitEvents;
  int closed = 0;
  int peer = -1;
  bool closing = false;
  bool lossAllowed = false;
  std::string echo;
  {
    TUSocket s;
    // Echoes go out a byte at a time: without Nagle's delay each is on the
    // wire at once.
    s.SetComponentOptions(OptionBit(wsoTcpNoDelay));
    s.SetLineEnd(c.end);
    s.SetLineEdit(c.edit);
    s.SetLineEcho(c.echo);
    s.SetLineLimit(c.limit);
    s.SetLineMode(!c.startOff);
    std::size_t next = 0;
    s.OnDataAvailable = [&](TObject*, std::uint16_t) {
      const std::uint8_t st = c.steps[next++ % c.steps.size()];
      // Without line handling the bytes wait in the system's queue, and a
      // handler that reads nothing is called again at once: hosts must read
      // there, so such a call always reads something.
      const bool raw = !s.LineMode() || s.LineEnd().empty();
      bool didRead = false;
      char buf[4096];
      auto read = [&](std::int32_t want) {
        didRead = true;
        const bool lineMode = s.LineMode();
        const std::int32_t line = lineMode ? s.RcvdCount() : -1;
        const std::int32_t n = s.Receive(buf, want);
        if (n > want) Fault("Receive returned more than was asked for");
        if (lineMode && line > 0 && n != std::min(want, line)) Fault("Receive in line mode missed the pending line");
        if (n > 0) application.append(buf, static_cast<std::size_t>(n));
      };
      switch (static_cast<Step>(st & 7)) {
        case kReadAll: read(sizeof buf); break;
        case kReadPart: read(1 + (st >> 3)); break;
        case kReadNothing: break;
        case kModeOff:
          s.SetLineMode(false);
          read(sizeof buf);
          break;
        case kModeOn:
          s.SetLineMode(true);
          read(sizeof buf);
          break;
        case kPartThenToggle:
          read(1 + (st >> 3));
          s.SetLineMode(!s.LineMode());
          break;
        case kToggle: s.SetLineMode(!s.LineMode()); break;
        case kNewEnd:
          s.SetLineEnd(kEnds[(st >> 3) & 7]);
          read(sizeof buf);
          break;
      }
      if (raw && !didRead) read(1 + (st >> 3));
      // Line mode switched off during the last line at the close: the rest
      // of that line is dropped with the buffer, as the close frees it.
      if (closing && !raw && !s.LineMode()) lossAllowed = true;
    };
    s.OnLineLimitExceeded = [&](TObject*, std::int32_t length, bool& clear) {
      limitEvents.push_back(length);
      if (c.keepOverLimit) clear = false;
    };
    s.OnSessionClosed = [&](TObject*, std::uint16_t) { ++closed; };
    s.SetAddr("127.0.0.1");
    s.SetPort(SharedListener().PortText());
    s.SetProto("tcp");
    s.Connect();
    peer = SharedListener().Accept();
    if (peer < 0) Fault("the socket did not connect");
    if (!platform::RunUntil([&] { return s.State() == wsConnected; }, std::chrono::seconds(5)))
      Fault("the connection did not come up");
    auto handle = [&] { return s.State() == wsClosed ? -1 : static_cast<int>(s.Handle()); };
    for (const std::string& piece : pieces) {
      if (handle() < 0) break;
      Deliver(peer, reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size(), handle);
      echo += ReadAvailable(peer);
    }
    Settle(handle);
    echo += ReadUpTo(peer, expected.echo.size() > echo.size() ? expected.echo.size() - echo.size() : 0);
    closing = true;
    if (s.State() != wsClosed) ClosePeer(peer, c.reset, [&] { return closed > 0; });
    if (closed != 1) Fault("not exactly one OnSessionClosed");
  }
  if (peer >= 0) ::close(peer);
  ExpectLoopEmpty();

  std::string stream;
  for (const auto& p : pieces) stream += p;
  if (onlyReads) {
    const Expected& e = expected;
    PrintIfDifferent(application, e.application, "read");
    if (application != e.application) Fault("the application read other bytes than line mode gives");
    PrintIfDifferent(echo, e.echo, "echo");
    if (echo != e.echo) Fault("the echo differs from the bytes received");
    if (limitEvents != e.limitEvents) Fault("OnLineLimitExceeded came at other lengths");
  } else if (dropsNothing && !lossAllowed && application != stream) {
    Fault("bytes lost, added or reordered across line mode switches");
  }
  return 0;
}
