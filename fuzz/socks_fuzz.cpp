// Fuzzes the SOCKS negotiation of the real TUSocket against a proxy played
// over loopback by the fuzzer itself.
//
// Input: byte 0 picks the level (bits 0-1: 4, 4A, 5, 5), whether user code
// and password authentication is configured (bit 2), whether a user code is
// set at all (bit 3), whether the proxy ends with a reset rather than an
// orderly close (bit 4), and how many bytes the application's handler reads
// per event (bits 5-7). Then come the proxy's pieces, each a length byte
// (1 + value % 64) followed by that many bytes; application bytes may follow
// the last reply in the same piece.
//
// Every run must end either connected (OnSessionConnected(0), then every byte
// after the reply reaches the application, in order) or in a SOCKS error with
// the code a model of the negotiation predicts (OnSocksError, then
// OnSessionConnected with the same code, then the close), or still
// negotiating when the proxy closed. The bytes the client sent must be
// exactly the requests of the path taken. Nothing may hang or stay behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "loopback_peer.h"
#include "socket/USocket.h"

namespace {

using namespace telorus;
using namespace telorus::socket;
using namespace telorus::fuzz;

const char kUser[] = "fuzzuser";
const char kPassword[] = "fuzzpass";
const char kDestName[] = "vnc.example";
constexpr std::uint16_t kDestPort = 5900;

std::string Be16(std::uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

struct Config {
  std::string level;  // "4", "4A", "5"
  bool auth = false;
  bool user = false;
  bool reset = false;
  int readSize = 4096;
};

// What the negotiation must produce for the given pieces.
struct Expected {
  enum Kind { Pending, Granted, Failed } kind = Pending;
  int code = 0;
  std::string clientBytes;  // the requests the client sent
  std::string application;  // bytes after the reply (when granted)
  // OnSocksAuthState in order.
  std::vector<TSocksAuthState> auth;
};

std::string ConnectRequest(const Config& c) {
  if (c.level[0] == '4') {
    std::string r = {0x04, 0x01};
    r += Be16(kDestPort);
    r += c.level == "4A" ? std::string("\0\0\0\x01", 4) : std::string("\x7f\0\0\x01", 4);
    if (c.user) r += kUser;
    r.push_back('\0');
    if (c.level == "4A") {
      r += kDestName;
      r.push_back('\0');
    }
    return r;
  }
  std::string r = {0x05, 0x01, 0x00, 0x03, static_cast<char>(sizeof kDestName - 1)};
  r += kDestName;
  r += Be16(kDestPort);
  return r;
}

std::string AuthRequest(const Config& c) {
  std::string u = c.user ? kUser : "";
  std::string r = {0x01, static_cast<char>(u.size())};
  r += u;
  r.push_back(static_cast<char>(sizeof kPassword - 1));
  r += kPassword;
  return r;
}

int Socks5Code(std::uint8_t reply) { return reply <= 8 ? 20003 + reply : 20012; }

// The negotiation as it reads the pieces, one read per piece (a level-4
// reply read stops at its 8 bytes; a level-5 reply read at the reply buffer's
// 262 bytes).
Expected Model(const Config& c, const std::vector<std::string>& pieces) {
  Expected e;
  enum { Method, Auth, Connect, Done } state;
  if (c.level[0] == '4') {
    state = Connect;
    e.clientBytes = ConnectRequest(c);
  } else {
    state = Method;
    e.clientBytes = std::string{0x05, 0x01, static_cast<char>(c.auth ? 0x02 : 0x00)};
  }
  std::string reply;
  auto fail = [&](int code) {
    e.kind = Expected::Failed;
    e.code = code;
    state = Done;
  };
  for (std::size_t p = 0; p < pieces.size() && state != Done; ++p) {
    const std::string& piece = pieces[p];
    std::size_t pos = 0;
    while (pos < piece.size() && state != Done) {
      if (state == Method) {
        reply += piece.substr(pos);
        pos = piece.size();
        if (reply.size() < 2) continue;
        const auto b0 = static_cast<std::uint8_t>(reply[0]), b1 = static_cast<std::uint8_t>(reply[1]);
        reply.clear();  // the rest of that read is dropped
        if (b0 != 5) {
          fail(20002);
        } else if (b1 == 0) {
          if (c.auth) e.auth.push_back(socksAuthNotRequired);
          e.clientBytes += ConnectRequest(c);
          state = Connect;
        } else if (b1 == 2) {
          e.auth.push_back(socksAuthStart);
          e.clientBytes += AuthRequest(c);
          state = Auth;
        } else {
          fail(20003);
        }
      } else if (state == Auth) {
        reply += piece.substr(pos);
        pos = piece.size();
        if (static_cast<std::uint8_t>(reply[0]) != 1) {
          fail(20002);
        } else if (reply.size() < 2) {
          continue;
        } else if (reply.size() > 2) {
          fail(20001);
        } else if (reply[1] != 0) {
          fail(20015);
        } else {
          reply.clear();
          e.auth.push_back(socksAuthSuccess);
          e.clientBytes += ConnectRequest(c);
          state = Connect;
        }
      } else if (c.level[0] == '4') {
        const std::size_t n = std::min(piece.size() - pos, 8 - reply.size());
        reply += piece.substr(pos, n);
        pos += n;
        if (reply.size() < 8) continue;
        const auto b1 = static_cast<std::uint8_t>(reply[1]);
        if (reply[0] != 0) {
          fail(20002);
        } else if (b1 == 90) {
          e.kind = Expected::Granted;
          e.application = piece.substr(pos);
          for (std::size_t q = p + 1; q < pieces.size(); ++q) e.application += pieces[q];
          state = Done;
        } else {
          fail(b1 == 91 ? 20016 : b1 == 92 ? 20008 : b1 == 93 ? 20015 : 20012);
        }
      } else {
        const std::size_t n = std::min(piece.size() - pos, 262 - reply.size());
        reply += piece.substr(pos, n);
        pos += n;
        if (static_cast<std::uint8_t>(reply[0]) != 5) {
          fail(20002);
          continue;
        }
        if (reply.size() >= 2 && reply[1] != 0) {
          fail(Socks5Code(static_cast<std::uint8_t>(reply[1])));
          continue;
        }
        if (reply.size() < 5) continue;
        std::size_t length;
        if (reply[3] == 1) {
          length = 10;
        } else if (reply[3] == 3) {
          length = 7 + static_cast<std::uint8_t>(reply[4]);
        } else {
          fail(20011);
          continue;
        }
        if (reply.size() < length) continue;
        e.kind = Expected::Granted;
        e.application = reply.substr(length) + piece.substr(pos);
        for (std::size_t q = p + 1; q < pieces.size(); ++q) e.application += pieces[q];
        state = Done;
      }
    }
  }
  // A proxy that closes while the authentication reply is awaited has
  // refused the user code and password.
  if (state == Auth) e.auth.push_back(socksAuthFailure);
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Config c;
  static const char* const kLevels[] = {"4", "4A", "5", "5"};
  static const int kReadSizes[] = {4096, 1, 2, 3, 7, 10, 64, 255};
  c.level = kLevels[data[0] & 3];
  c.auth = (data[0] & 4) != 0;
  c.user = (data[0] & 8) != 0;
  c.reset = (data[0] & 16) != 0;
  c.readSize = kReadSizes[data[0] >> 5];
  const std::vector<std::string> pieces = SplitPieces(data, size, 1);
  const Expected expected = Model(c, pieces);

  struct Log {
    int socksErrors = 0, connected = 0, closed = 0, socksConnected = 0;
    int errorCode = -1, connectCode = -1;
    bool connectAfterError = false;
    std::vector<TSocksAuthState> auth;
    std::string application;
  } log;
  int peer = -1;
  {
    TUSocket s;
    s.OnSocksConnected = [&](TObject*, std::uint16_t e) {
      if (e != 0) Fault("connection to the proxy failed");
      ++log.socksConnected;
    };
    s.OnSocksError = [&](TObject*, std::int32_t e, const std::string&) {
      ++log.socksErrors;
      log.errorCode = e;
    };
    s.OnSocksAuthState = [&](TObject*, TSocksAuthState st) { log.auth.push_back(st); };
    s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
      ++log.connected;
      log.connectCode = e;
      log.connectAfterError = log.socksErrors > 0;
    };
    s.OnSessionClosed = [&](TObject*, std::uint16_t) { ++log.closed; };
    s.OnDataAvailable = [&](TObject*, std::uint16_t) {
      char buf[4096];
      std::int32_t n = s.Receive(buf, c.readSize);
      if (n > 0) log.application.append(buf, static_cast<std::size_t>(n));
      if (n > c.readSize) Fault("Receive returned more than was asked for");
    };
    s.SetAddr(c.level == "4" ? "127.0.0.1" : kDestName);
    s.SetPort(std::to_string(kDestPort));
    s.SetProto("tcp");
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(SharedListener().PortText());
    s.SetSocksLevel(c.level);
    s.SetSocksAuthentication(c.auth ? socksAuthenticateUsercode : socksNoAuthentication);
    s.SetSocksUsercode(c.user ? kUser : "");
    s.SetSocksPassword(kPassword);
    s.Connect();
    peer = SharedListener().Accept();
    if (peer < 0) Fault("the socket did not connect to the proxy");
    auto handle = [&] { return s.State() == wsClosed ? -1 : static_cast<int>(s.Handle()); };
    if (!platform::RunUntil([&] { return log.socksConnected > 0; }, std::chrono::seconds(5)))
      Fault("no OnSocksConnected");
    // The greeting (or the level-4 request) is on its way before any reply.
    Settle(handle);
    for (const std::string& piece : pieces) {
      if (handle() < 0) break;
      Deliver(peer, reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size(), handle);
    }
    Settle(handle);
    const std::string clientBytes = ReadUpTo(peer, expected.clientBytes.size());
    if (s.State() != wsClosed) ClosePeer(peer, c.reset, [&] { return log.closed > 0; });

    // The outcome.
    if (log.closed != 1) Fault("not exactly one OnSessionClosed");
    if (s.State() != wsClosed) Fault("the socket is not closed at the end");
    if (!s.SocksServer().empty() || !s.SocksPort().empty() || s.SocksLevel() != "5")
      Fault("the proxy settings were not reset by the close");
    switch (expected.kind) {
      case Expected::Granted:
        if (log.socksErrors != 0 || log.connected != 1 || log.connectCode != 0) Fault("granted, but not connected");
        if (log.application != expected.application) Fault("application bytes lost, added or reordered");
        break;
      case Expected::Failed:
        if (log.socksErrors != 1 || log.errorCode != expected.code) Fault("wrong SOCKS error code");
        if (log.connected != 1 || log.connectCode != expected.code || !log.connectAfterError)
          Fault("OnSessionConnected does not follow OnSocksError with its code");
        if (!log.application.empty()) Fault("the application saw bytes of a failed negotiation");
        break;
      case Expected::Pending:
        if (log.socksErrors != 0 || log.connected != 0) Fault("a result without a complete reply");
        if (!log.application.empty()) Fault("the application saw reply bytes");
        break;
    }
    if (clientBytes != expected.clientBytes) Fault("the client's requests differ from the path taken");
    if (log.auth != expected.auth) Fault("wrong authentication states");
  }
  if (peer >= 0) ::close(peer);
  ExpectLoopEmpty();
  return 0;
}
