// Sessions over TLS against a scripted server that switches to TLS midway:
// anonymous TLS with its inner negotiation, VeNCrypt's TLS and X509
// subtypes, the certificate decision, and the ends a TLS session can have
// (a fatal alert, the close notification), each with its texts and nothing
// sent after it.
#include "session_fixture.h"
#include "support/test_certificates.h"
#include "support/tls_scripted_server.h"
#include "viewer/vncdes.h"

namespace telorus::test {
namespace {

const std::string kInit = rfb::ServerInit(4, 2, rfb::TrueColour32(), "tls desk");
// One Raw rectangle painting the whole 4x2 framebuffer.
const std::string kUpdate = rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, 4, 2, 0) +
                            rfb::RawPixels(rfb::TrueColour32(), std::vector<std::uint32_t>(8, rfb::Rgb(10, 200, 30)));

class TlsSessionTest : public ViewerSessionTest {
 protected:
  TlsSessionTest() : ViewerSessionTest(Chunking::Whole) {
    viewer.SetProtocol(vncProtocol38);
    viewer.OnCertificate = [this](TObject*, const CertificateInfo& c, bool& accept) {
      events.push_back("Certificate(" + c.problem + ")");
      certificate = c;
      accept = acceptCertificate;
    };
  }
  void Go() {
    tls.Start();
    viewer.SetServer("127.0.0.1");
    viewer.SetPort(tls.Port());
    viewer.Connect();
  }
  // Plays VeNCrypt up to TLS with `subtype` offered and taken.
  void VeNCrypt(std::uint32_t subtype, const std::string& leaf = "") {
    tls.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(2));
    tls.Expect(2).Send(rfb::U8(0) + rfb::U8(1) + rfb::Be32(subtype)).Expect(4).Send(rfb::U8(1));
    if (leaf.empty())
      tls.StartTls();
    else
      tls.StartTls(Certificates().Path(leaf + ".pem"), Certificates().Path("leaf.key"));
  }
  std::uint32_t Pixel(int x, int y) const { return viewer.Framebuffer()->Surface().GetPixel(x, y); }

  TlsScriptedServer tls;
  CertificateInfo certificate;
  bool acceptCertificate = false;
};

// Anonymous TLS, then VNC authentication inside it; the picture arrives
// encrypted. A fatal alert ends the session with its name, and the viewer
// sends nothing after it.
TEST_F(TlsSessionTest, AnonymousTlsCarriesASecondNegotiationAndAnAlertEndsIt) {
  const std::string challenge(16, '\x11');
  viewer.SetPassword("pw");
  viewer.SetSecurityTypes("AnonTLS");
  tls.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(2) + rfb::U8(18) + rfb::U8(2)).Expect(1).StartTls();
  tls.Send(rfb::U8(2) + rfb::U8(1) + rfb::U8(2)).Expect(1).Send(challenge).Expect(16).Send(rfb::Be32(0));
  tls.Expect(1).Send(kInit).Expect(8).Send(kUpdate).Pause(300ms).Alert().Pause(100ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  ASSERT_TRUE(tls.WaitDone());
  EXPECT_EQ(tls.Failure(), "");
  EXPECT_EQ(tls.Received(), "RFB 003.008\n" + rfb::U8(18) + rfb::U8(2) + EncryptChallenge(challenge, "pw") + '\0' +
                                rfb::SetEncodings(5));
  EXPECT_EQ(tls.ReceivedOverTls().substr(0, 1), rfb::U8(2));  // the inner choice went encrypted
  EXPECT_EQ(updates, 1);
  EXPECT_TRUE(Has("Status(Security Type: AnonTLS)"));
  EXPECT_TRUE(Has("Status(Security Types: None,VncAuth)"));
  const Events tail(events.end() - 3, events.end());
  EXPECT_EQ(tail, (Events{"Status(TLS Fail!)", "ConnectError(TLS alert from the server: Access was denied)",
                          "ConnectClose"}));
}

// TLSPlain: the user name and password go only inside TLS. The server's
// close notification mid-session ends it.
TEST_F(TlsSessionTest, TlsPlainSendsItsCredentialsEncryptedAndTheCloseNotificationEndsTheSession) {
  viewer.SetUserName("bob");
  viewer.SetPassword("hunter2");
  std::uint32_t shown = 0;  // the picture, before the end takes the framebuffer
  viewer.OnUpdateComplete = [&](TObject*) {
    ++updates;
    shown = Pixel(3, 1);
  };
  VeNCrypt(259);
  tls.Expect(8 + 3 + 7).Send(rfb::Be32(0)).Expect(1).Send(kInit).Expect(8).Send(kUpdate).Pause(300ms).Bye();
  tls.Pause(100ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  ASSERT_TRUE(tls.WaitDone());
  EXPECT_EQ(tls.Failure(), "");
  EXPECT_EQ(tls.ReceivedOverTls(), rfb::Be32(3) + rfb::Be32(7) + "bob" + "hunter2" + '\0' + rfb::SetEncodings(5));
  // Nothing of the password before TLS began.
  EXPECT_GE(tls.Received().find("hunter2"), tls.Received().size() - tls.ReceivedOverTls().size());
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(shown, rfb::Rgb(10, 200, 30));
  const Events tail(events.end() - 3, events.end());
  EXPECT_EQ(tail, (Events{"Status(TLS Fail!)", "ConnectError(The server ended the TLS session)", "ConnectClose"}));
}

// X509: a certificate that does not verify goes to the host. Refused (the
// default): nothing is sent over the new channel. The problems are named:
// an unknown issuer, a name that is not the server's, an expired one.
TEST_F(TlsSessionTest, AnUnverifiedCertificateIsTheHostsToAcceptAndRefusedByDefault) {
  struct Case {
    const char* certificate;
    const char* ca;
    const char* problem;
  };
  const Case cases[] = {
      {"stranger", "ca.pem", "The certificate is not trusted (issuer unknown)"},
      {"named", "ca.pem", "The certificate is not for 127.0.0.1"},
      {"expired", "ca.pem", "The certificate has expired"},
  };
  REQUIRE_TEST_CERTIFICATES();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate);
    TlsScriptedServer peer;
    platform::HeadlessWindow w(64, 48);
    TQuarneTelorus v(w, clipboard, bell);
    Events seen;
    v.OnConnectError = [&](TObject*, const std::string& t) { seen.push_back("ConnectError(" + t + ")"); };
    v.OnCertificate = [&](TObject*, const CertificateInfo& info, bool&) {
      seen.push_back("Certificate(" + info.problem + ")");
    };
    v.OnConnectClose = [&](TObject*) { seen.push_back("ConnectClose"); };
    v.SetProtocol(vncProtocol38);
    v.SetPassword("pw");
    v.SetCaFile(Certificates().Path(c.ca));
    peer.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(2));
    peer.Expect(2).Send(rfb::U8(0) + rfb::U8(1) + rfb::Be32(261)).Expect(4).Send(rfb::U8(1));
    peer.StartTls(Certificates().Path(std::string(c.certificate) + ".pem"), Certificates().Path("leaf.key"));
    peer.Send(std::string(16, 'c')).Pause(200ms).Close();
    peer.Start();
    v.SetServer("127.0.0.1");
    v.SetPort(peer.Port());
    v.Connect();
    ASSERT_TRUE(RunUntil([&] { return !seen.empty() && seen.back() == "ConnectClose"; }));
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(seen, (Events{"Certificate(" + std::string(c.problem) + ")",
                            "ConnectError(" + std::string(c.problem) + ")", "ConnectClose"}));
    EXPECT_EQ(peer.ReceivedOverTls(), "");  // no answer to the challenge
  }
}

TEST_F(TlsSessionTest, AnAcceptedCertificateGoesOnAndAVerifiedOneIsNotAsked) {
  REQUIRE_TEST_CERTIFICATES();
  const std::string challenge(16, '\x22');
  viewer.SetPassword("pw");
  acceptCertificate = true;
  // The host decides in a nested loop (as a dialog does) while the server's
  // challenge arrives: one question, and the challenge answered once.
  auto decide = viewer.OnCertificate;
  viewer.OnCertificate = [&](TObject* sender, const CertificateInfo& c, bool& accept) {
    RunUntil([] { return false; }, 300ms);
    decide(sender, c, accept);
  };
  VeNCrypt(261, "stranger");
  tls.Send(challenge).Expect(16).Send(rfb::Be32(0)).Expect(1).Send(kInit).Expect(8).Send(kUpdate);
  Go();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  EXPECT_TRUE(viewer.Encrypted());
  EXPECT_EQ(tls.ReceivedOverTls().substr(0, 16), EncryptChallenge(challenge, "pw"));
  EXPECT_EQ(std::count(events.begin(), events.end(), "Certificate(The certificate is not trusted (issuer unknown))"),
            1);
  EXPECT_NE(certificate.subject.find("vnc.test"), std::string::npos);
  EXPECT_NE(certificate.issuer.find("Telorus other CA"), std::string::npos);
  EXPECT_EQ(certificate.sha256.size(), 32u * 3 - 1);
  // Disconnecting ends TLS in order.
  viewer.DisConnect();
  ASSERT_TRUE(tls.WaitDone());
  EXPECT_TRUE(tls.SawCloseNotify());

  // The same server with a certificate that verifies: no question.
  TlsScriptedServer good;
  events.clear();
  updates = 0;
  viewer.SetCaFile(Certificates().Path("ca.pem"));
  good.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(2));
  good.Expect(2).Send(rfb::U8(0) + rfb::U8(1) + rfb::Be32(260)).Expect(4).Send(rfb::U8(1));
  good.StartTls(Certificates().Path("good.pem"), Certificates().Path("leaf.key"));
  good.Send(rfb::Be32(0)).Expect(1).Send(kInit).Expect(8).Send(kUpdate);
  good.Start();
  viewer.SetPort(good.Port());
  viewer.Connect();
  ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  EXPECT_EQ(
      std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("Certificate", 0) == 0; }),
      0);
  EXPECT_EQ(Pixel(0, 0), rfb::Rgb(10, 200, 30));
}

}  // namespace
}  // namespace telorus::test
