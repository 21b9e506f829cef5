// TlsTransport against a GnuTLS server in the same process, over two
// in-memory byte queues; certtool makes the certificates at the start.
#include "support/test_certificates.h"
#include "viewer/tls_transport.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace telorus::viewer {
namespace {

struct ByteQueue {
  std::string bytes;
  std::size_t Take(void* data, std::size_t size) {
    const std::size_t count = std::min(size, bytes.size());
    bytes.copy(static_cast<char*>(data), count);
    bytes.erase(0, count);
    return count;
  }
};

// The client's socket: what the server wrote, in pieces of random size once
// `maxPiece` is set; after Break it has failed for good.
class MemoryTransport : public Transport {
 public:
  MemoryTransport(ByteQueue& in, ByteQueue& out) : in_(in), out_(out) {}
  std::int32_t Receive(void* buffer, std::size_t size) override {
    if (broken) return -1;
    if (maxPiece != 0) size = std::min(size, std::uniform_int_distribution<std::size_t>(1, maxPiece)(random_));
    return static_cast<std::int32_t>(in_.Take(buffer, size));
  }
  void Send(const void* data, std::size_t length) override {
    out_.bytes.append(static_cast<const char*>(data), length);
  }
  bool Open() const override { return !broken; }
  std::string FailureText() const override { return broken ? "The server closed the connection" : ""; }
  std::size_t maxPiece = 0;
  bool broken = false;

 private:
  ByteQueue& in_;
  ByteQueue& out_;
  std::mt19937 random_{7};
};

const telorus::test::TestCertificates& Certs() { return telorus::test::Certificates(); }

#define REQUIRE_CERTIFICATES() REQUIRE_TEST_CERTIFICATES()

TlsSettings Settings(bool anonymous, std::string caFile = "", std::string serverName = "", std::string priority = "") {
  TlsSettings settings;
  settings.anonymous = anonymous;
  settings.caFile = caFile.empty() ? caFile : Certs().Path(caFile + ".pem");
  settings.serverName = std::move(serverName);
  settings.priority = std::move(priority);
  return settings;
}

// The client TlsTransport on a MemoryTransport, and a GnuTLS server on the
// other ends of the queues: anonymous, or with the named certificate.
class Link {
 public:
  explicit Link(const std::string& certificate = "", const char* priorities = "NORMAL:+ANON-ECDH:+ANON-DH") {
    gnutls_init(&server_, GNUTLS_SERVER | GNUTLS_NONBLOCK);
    gnutls_priority_set_direct(server_, priorities, nullptr);
    if (certificate.empty()) {
      gnutls_anon_allocate_server_credentials(&anon_);
      gnutls_credentials_set(server_, GNUTLS_CRD_ANON, anon_);
    } else {
      gnutls_certificate_allocate_credentials(&x509_);
      EXPECT_EQ(gnutls_certificate_set_x509_key_file(x509_, Certs().Path(certificate + ".pem").c_str(),
                                                     Certs().Path("leaf.key").c_str(), GNUTLS_X509_FMT_PEM),
                0);
      gnutls_credentials_set(server_, GNUTLS_CRD_CERTIFICATE, x509_);
    }
    gnutls_transport_set_ptr(server_, this);
    gnutls_transport_set_pull_function(server_, [](gnutls_transport_ptr_t self, void* data, std::size_t size) {
      Link& link = *static_cast<Link*>(self);
      if (!link.toServer.bytes.empty()) return static_cast<ssize_t>(link.toServer.Take(data, size));
      gnutls_transport_set_errno(link.server_, EAGAIN);
      return ssize_t{-1};
    });
    gnutls_transport_set_push_function(server_, [](gnutls_transport_ptr_t self, const void* data, std::size_t size) {
      static_cast<Link*>(self)->toClient.bytes.append(static_cast<const char*>(data), size);
      return static_cast<ssize_t>(size);
    });
  }
  ~Link() {
    gnutls_deinit(server_);
    if (anon_ != nullptr) gnutls_anon_free_server_credentials(anon_);
    if (x509_ != nullptr) gnutls_certificate_free_credentials(x509_);
  }

  TlsTransport& Start(TlsSettings settings) {
    client = std::make_unique<TlsTransport>(lower, std::move(settings));
    return *client;
  }
  // Alternates the two handshakes until both are through or one failed.
  TlsTransport::Step Connect(TlsSettings settings) {
    Start(std::move(settings));
    TlsTransport::Step step = TlsTransport::Step::InProgress;
    for (int round = 0, server = GNUTLS_E_AGAIN; round < 50; ++round) {
      step = client->Handshake();
      if (server == GNUTLS_E_AGAIN) {
        server = gnutls_handshake(server_);
        // GnuTLS leaves telling the peer why to the application.
        if (gnutls_error_is_fatal(server) != 0) gnutls_alert_send_appropriate(server_, server);
      }
      if (step == TlsTransport::Step::Failed || (step == TlsTransport::Step::Done && server != GNUTLS_E_AGAIN)) break;
    }
    return step;
  }
  std::string ServerReads() {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = gnutls_record_recv(server_, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
  }
  void ServerSends(const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
      const ssize_t count = gnutls_record_send(server_, text.data() + sent, text.size() - sent);
      ASSERT_GT(count, 0);
      sent += static_cast<std::size_t>(count);
    }
  }
  // What the client has ready now, read in pieces of `piece` bytes.
  std::string ClientReads(std::size_t piece = 4096) {
    std::string buffer(piece, '\0');
    std::string all;
    for (std::int32_t got; (got = client->Receive(buffer.data(), piece)) > 0;) all.append(buffer.data(), got);
    return all;
  }
  // The server name indication the server got; empty for none.
  std::string SentName() const {
    char name[256] = {};
    std::size_t size = sizeof name;
    unsigned type = 0;
    return gnutls_server_name_get(server_, name, &size, &type, 0) == 0 ? name : "";
  }
  gnutls_session_t Server() const { return server_; }

  ByteQueue toServer;
  ByteQueue toClient;
  MemoryTransport lower{toClient, toServer};
  std::unique_ptr<TlsTransport> client;

 private:
  gnutls_session_t server_ = nullptr;
  gnutls_anon_server_credentials_t anon_ = nullptr;
  gnutls_certificate_credentials_t x509_ = nullptr;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::mt19937 random(static_cast<std::uint32_t>(size));
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

TEST(TlsTransport, AnonymousSessionCarriesBytesBothWaysWhateverTheLowerPieces) {
  Link link;
  ASSERT_EQ(link.Connect(Settings(true)), TlsTransport::Step::Done) << link.client->FailureText();
  EXPECT_EQ(gnutls_protocol_get_version(link.Server()), GNUTLS_TLS1_2);
  EXPECT_EQ(gnutls_kx_get(link.Server()), GNUTLS_KX_ANON_ECDH);
  EXPECT_FALSE(link.client->Peer().present);

  // One record larger than a read: the rest waits decrypted inside GnuTLS,
  // with nothing left in the lower transport to announce it.
  const std::string record = Pattern(10000);
  link.ServerSends(record);
  char buffer[1000];
  ASSERT_EQ(link.client->Receive(buffer, sizeof buffer), 1000);
  EXPECT_TRUE(link.toClient.bytes.empty());
  std::string received(buffer, 1000);
  while (link.client->Pending()) {
    const std::int32_t got = link.client->Receive(buffer, sizeof buffer);
    ASSERT_GT(got, 0);
    received.append(buffer, got);
  }
  EXPECT_EQ(received, record);
  EXPECT_EQ(link.client->Receive(buffer, sizeof buffer), 0);

  const std::string big = Pattern(1 << 20);
  link.client->Send(big.data(), big.size());
  EXPECT_TRUE(link.ServerReads() == big);
  link.lower.maxPiece = 3000;
  link.ServerSends(big);
  received.clear();
  std::mt19937 random(3);
  for (int event = 0; event < 100000 && received.size() < big.size(); ++event) {
    received += link.ClientReads(std::uniform_int_distribution<std::size_t>(1, 20000)(random));
  }
  EXPECT_TRUE(received == big) << "received " << received.size() << " bytes, not the ones sent";

  link.client->Bye();
  EXPECT_EQ(gnutls_record_recv(link.Server(), buffer, 1), 0);  // the close notification
  link.client->Send("late", 4);
  EXPECT_TRUE(link.toServer.bytes.empty());
}

TEST(TlsTransport, TrustedCertificateForTheNameOrAddressPassesAndIsDescribed) {
  REQUIRE_CERTIFICATES();
  Link link("good", "NORMAL");
  ASSERT_EQ(link.Connect(Settings(false, "ca", "vnc.test")), TlsTransport::Step::Done) << link.client->FailureText();
  EXPECT_EQ(gnutls_protocol_get_version(link.Server()), GNUTLS_TLS1_3);
  EXPECT_EQ(link.SentName(), "vnc.test");
  const CertificateInfo& peer = link.client->Peer();
  EXPECT_TRUE(peer.present && peer.trusted && peer.nameMatches && !peer.expired && !peer.notYetValid);
  EXPECT_EQ(peer.problem, "");
  EXPECT_NE(peer.subject.find("CN=vnc.test"), std::string::npos) << peer.subject;
  EXPECT_NE(peer.issuer.find("CN=Telorus ca CA"), std::string::npos) << peer.issuer;
  EXPECT_EQ(peer.notBefore, 1704067200);  // 2024-01-01
  EXPECT_EQ(peer.notAfter, 3786912000);   // 2090-01-01
  std::stringstream der;
  der << std::ifstream(Certs().Path("good.der"), std::ios::binary).rdbuf();
  ASSERT_EQ(peer.der, der.str());
  unsigned char digest[32];
  ASSERT_EQ(gnutls_hash_fast(GNUTLS_DIG_SHA256, peer.der.data(), peer.der.size(), digest), 0);
  std::string hex;
  for (unsigned char byte : digest) {
    char pair[4];
    std::snprintf(pair, sizeof pair, hex.empty() ? "%02X" : ":%02X", byte);
    hex += pair;
  }
  EXPECT_EQ(peer.sha256, hex);

  // An address is checked against the certificate's IP entry and is no
  // server name to send; priorities given replace the defaults.
  Link byAddress("good", "NORMAL");
  ASSERT_EQ(byAddress.Connect(Settings(false, "ca", "127.0.0.1", "NORMAL:-VERS-ALL:+VERS-TLS1.2")),
            TlsTransport::Step::Done)
      << byAddress.client->FailureText();
  EXPECT_EQ(gnutls_protocol_get_version(byAddress.Server()), GNUTLS_TLS1_2);
  const CertificateInfo& addressed = byAddress.client->Peer();
  EXPECT_TRUE(addressed.trusted && addressed.nameMatches) << addressed.problem;
  EXPECT_EQ(byAddress.SentName(), "");
}

TEST(TlsTransport, EachCertificateProblemIsFlaggedAndNamedWithoutFailingTheHandshake) {
  REQUIRE_CERTIFICATES();
  struct Case {
    const char *certificate, *ca, *name;
    bool trusted, matches, expired, notYetValid;
    const char* problem;
  };
  const Case cases[] = {
      {"stranger", "ca", "vnc.test", false, true, false, false, "The certificate is not trusted (issuer unknown)"},
      {"good", "ca", "127.0.0.2", true, false, false, false, "The certificate is not for 127.0.0.2"},
      {"expired", "ca", "vnc.test", true, true, true, false, "The certificate has expired"},
      {"future", "ca", "vnc.test", true, true, false, true, "The certificate is not yet valid"},
      {"expired", "other", "other.test", false, false, true, false,
       "The certificate is not trusted (issuer unknown); The certificate has expired; "
       "The certificate is not for other.test"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.certificate) + " against " + c.ca + " as " + c.name);
    Link link(c.certificate, "NORMAL");
    ASSERT_EQ(link.Connect(Settings(false, c.ca, c.name)), TlsTransport::Step::Done) << link.client->FailureText();
    const CertificateInfo& peer = link.client->Peer();
    EXPECT_TRUE(peer.present);
    EXPECT_EQ(peer.trusted, c.trusted);
    EXPECT_EQ(peer.nameMatches, c.matches);
    EXPECT_EQ(peer.expired, c.expired);
    EXPECT_EQ(peer.notYetValid, c.notYetValid);
    EXPECT_EQ(peer.problem, c.problem);
  }
  // Settings that cannot work fail at once, before anything is sent.
  Link noCa("good", "NORMAL");
  EXPECT_EQ(noCa.Connect(Settings(false, "missing", "vnc.test")), TlsTransport::Step::Failed);
  EXPECT_EQ(noCa.client->FailureText().rfind("Cannot read the CA file ", 0), 0u) << noCa.client->FailureText();
  Link badPriority;
  EXPECT_EQ(badPriority.Connect(Settings(true, "", "", "NORMAL:+NO-SUCH-THING")), TlsTransport::Step::Failed);
  EXPECT_NE(badPriority.client->FailureText().find("NO-SUCH-THING"), std::string::npos)
      << badPriority.client->FailureText();
  EXPECT_TRUE(badPriority.toServer.bytes.empty());
}

TEST(TlsTransport, AlertsCloseNotificationAndLowerFailuresEndTheSession) {
  char buffer[64];
  Link alerted;
  ASSERT_EQ(alerted.Connect(Settings(true)), TlsTransport::Step::Done);
  // A warning leaves the session standing; a fatal alert ends it.
  ASSERT_EQ(gnutls_alert_send(alerted.Server(), GNUTLS_AL_WARNING, GNUTLS_A_USER_CANCELED), 0);
  alerted.ServerSends("still here");
  EXPECT_EQ(alerted.ClientReads(), "still here");
  EXPECT_TRUE(alerted.client->Open());
  ASSERT_EQ(gnutls_alert_send(alerted.Server(), GNUTLS_AL_FATAL, GNUTLS_A_ACCESS_DENIED), 0);
  EXPECT_LT(alerted.client->Receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(alerted.client->FailureText(),
            std::string("TLS alert from the server: ") + gnutls_alert_get_name(GNUTLS_A_ACCESS_DENIED));
  EXPECT_FALSE(alerted.client->Open());
  EXPECT_LT(alerted.client->Receive(buffer, sizeof buffer), 0);
  alerted.client->Send("x", 1);
  EXPECT_TRUE(alerted.toServer.bytes.empty());

  Link closed;
  ASSERT_EQ(closed.Connect(Settings(true)), TlsTransport::Step::Done);
  closed.ServerSends("last words");
  ASSERT_EQ(gnutls_bye(closed.Server(), GNUTLS_SHUT_WR), 0);
  ASSERT_EQ(closed.client->Receive(buffer, sizeof buffer), 10);
  EXPECT_LT(closed.client->Receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(closed.client->FailureText(), "The server ended the TLS session");
  EXPECT_FALSE(closed.client->Open());

  Link broken;
  ASSERT_EQ(broken.Connect(Settings(true)), TlsTransport::Step::Done);
  broken.lower.broken = true;
  EXPECT_LT(broken.client->Receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(broken.client->FailureText(), "The server closed the connection");

  Link midway;
  ASSERT_EQ(midway.Start(Settings(true)).Handshake(), TlsTransport::Step::InProgress);
  EXPECT_FALSE(midway.toServer.bytes.empty());  // the client hello
  EXPECT_EQ(gnutls_handshake(midway.Server()), GNUTLS_E_AGAIN);
  midway.lower.broken = true;
  EXPECT_EQ(midway.client->Handshake(), TlsTransport::Step::Failed);
  EXPECT_EQ(midway.client->FailureText(), "TLS handshake failed: The server closed the connection");
  EXPECT_FALSE(midway.client->Open());
}

TEST(TlsTransport, ServerThatIsNotTlsOrRefusesFailsTheHandshake) {
  Link garbage;
  ASSERT_EQ(garbage.Start(Settings(true)).Handshake(), TlsTransport::Step::InProgress);
  garbage.toClient.bytes = "RFB 003.008\n" + std::string(200, 'x');
  EXPECT_EQ(garbage.client->Handshake(), TlsTransport::Step::Failed);
  EXPECT_EQ(garbage.client->FailureText().rfind("TLS handshake failed: ", 0), 0u) << garbage.client->FailureText();
  EXPECT_GT(garbage.client->FailureText().size(), 24u);
  char buffer[16];
  EXPECT_LT(garbage.client->Receive(buffer, sizeof buffer), 0);

  // TLS 1.3 has no anonymous key exchange: such a server refuses.
  Link refusing("", "NORMAL:-VERS-ALL:+VERS-TLS1.3:+ANON-ECDH");
  EXPECT_EQ(refusing.Connect(Settings(true)), TlsTransport::Step::Failed);
  EXPECT_EQ(refusing.client->FailureText().rfind("TLS handshake failed: the server sent a fatal alert (", 0), 0u)
      << refusing.client->FailureText();
}

}  // namespace
}  // namespace telorus::viewer
