// Fuzzes the version and security negotiation: the server's version, the
// 3.3 scheme or the 3.7/3.8 type list, VeNCrypt's version, acknowledgements
// and subtypes, VNC and Plain authentication, SecurityResult with its
// reason, and what follows up to the session. The session runs in memory;
// a TLS subtype goes on without TLS, its bytes taken as decrypted.
//
// Input, byte 0: bits 0-1 the highest version (3.3, 3.7, 3.8, 3.8); bits 2-4
// the accepted security types (a table below). Byte 1: the piece size (1 to
// 64, or 256-byte multiples from 128 up). The rest is the server's stream,
// from its version on.
//
// Besides the sanitizers, one invariant: the password goes out as it is
// only under a Plain subtype that the list names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "memory_session.h"
#include "viewer/rfb_wire.h"
#include "viewer/security_types.h"

namespace {

using namespace telorus;

const char* const kLists[] = {
    "X509Vnc,X509Plain,X509None,TLSVnc,TLSPlain,TLSNone,AnonTLS,VncAuth,None",
    "None",
    "VncAuth",
    "Plain",
    "TLSPlain,X509Plain",
    "AnonTLS,None",
    "X509None,TLSNone,Plain,VncAuth",
    "TLSVnc",
};

const std::string kPassword = "Pw#4fuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const viewer::TVNCProtocol protocol = (data[0] & 3) == 0   ? viewer::vncProtocol33
                                        : (data[0] & 3) == 1 ? viewer::vncProtocol37
                                                             : viewer::vncProtocol38;
  const char* list = kLists[(data[0] >> 2) & 7];
  const std::size_t piece = data[1] < 128 ? 1 + data[1] % 64 : 256u * (data[1] - 127u);
  std::vector<std::uint32_t> codes;
  std::string error;
  if (!viewer::ParseSecurityTypes(list, codes, error)) fuzz::Fault("a table list does not parse");

  fuzz::MemoryTransport transport;
  fuzz::Handler handler(transport);
  viewer::RfbSession session(handler, transport);
  handler.session = &session;
  handler.debug = std::getenv("SECURITY_FUZZ_DEBUG") != nullptr;
  session.SetMaxProtocol(protocol);
  session.SetSecurityTypes(codes);
  session.SetUserName("fuzzer");
  session.SetPassword(kPassword);
  session.SetTlsBypassForTesting(true);
  session.SetStartPause(0);
  transport.onSend = [&](const std::string& bytes) {
    if (bytes.find(kPassword) == std::string::npos) return;
    const std::uint32_t code = session.SecurityCode();
    const bool plainFamily = code == viewer::rfb::kVeNCryptPlain || code == viewer::rfb::kVeNCryptTLSPlain ||
                             code == viewer::rfb::kVeNCryptX509Plain;
    bool listed = false;
    for (std::uint32_t c : codes) listed = listed || c == code;
    if (!plainFamily || !listed) fuzz::Fault("the password went out under a type the list does not allow");
  };
  session.Begin();
  for (std::size_t i = 2; i < size && transport.open; i += piece) session.Inject(data + i, std::min(piece, size - i));

  return 0;
}
