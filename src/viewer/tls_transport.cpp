#include "viewer/tls_transport.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace telorus::viewer {
namespace {

// Owners for GnuTLS's handles, each freed with its own function.
template <typename Handle, void (*Free)(Handle)>
struct Releaser {
  void operator()(Handle handle) const { Free(handle); }
};
template <typename Handle, void (*Free)(Handle)>
using Owned = std::unique_ptr<std::remove_pointer_t<Handle>, Releaser<Handle, Free>>;

using SessionPtr = Owned<gnutls_session_t, gnutls_deinit>;
using AnonCredentialsPtr = Owned<gnutls_anon_client_credentials_t, gnutls_anon_free_client_credentials>;
using CertCredentialsPtr = Owned<gnutls_certificate_credentials_t, gnutls_certificate_free_credentials>;
using CertificatePtr = Owned<gnutls_x509_crt_t, gnutls_x509_crt_deinit>;

// A datum GnuTLS allocated for us.
struct OwnedDatum {
  gnutls_datum_t datum{nullptr, 0};
  OwnedDatum() = default;
  OwnedDatum(const OwnedDatum&) = delete;
  OwnedDatum& operator=(const OwnedDatum&) = delete;
  ~OwnedDatum() { gnutls_free(datum.data); }
  std::string Text() const {
    return datum.data == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(datum.data), datum.size);
  }
};

// The anonymous key exchanges are not in GnuTLS's defaults; TLS 1.3 has none,
// so with them GnuTLS offers TLS 1.2 as well and the server picks it.
constexpr const char* kAnonymousPriorities = "NORMAL:+ANON-ECDH:+ANON-DH";

// How often one call goes round GnuTLS's non-fatal results (warning alerts,
// refused renegotiations) before it gives up for this data event.
constexpr int kNonFatalRounds = 16;

// GnuTLS's error texts are sentences; inside ours they lose the full stop.
std::string ErrorText(int code) {
  std::string text = gnutls_strerror(code);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string AlertName(gnutls_session_t session) {
  const gnutls_alert_description_t alert = gnutls_alert_get(session);
  const char* name = gnutls_alert_get_name(alert);
  return name != nullptr ? name : "alert " + std::to_string(static_cast<int>(alert));
}

// "[::1]" names the address ::1.
std::string_view WithoutBrackets(std::string_view name) {
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') return name.substr(1, name.size() - 2);
  return name;
}

// Server name indication carries host names only. A host name never holds
// a colon (IPv6) and never consists of digits and dots alone (IPv4).
bool IsHostName(std::string_view name) {
  if (name.empty() || name.find(':') != std::string_view::npos) return false;
  return !std::all_of(name.begin(), name.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

std::string HexPairs(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) text += ':';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

// Why a chain did not verify, from GnuTLS's status bits (time aside).
std::string UntrustedReasons(unsigned status) {
  static constexpr std::pair<unsigned, const char*> kReasons[] = {
      {GNUTLS_CERT_SIGNER_NOT_FOUND, "issuer unknown"},
      {GNUTLS_CERT_SIGNATURE_FAILURE, "signature does not verify"},
      {GNUTLS_CERT_REVOKED, "revoked"},
      {GNUTLS_CERT_SIGNER_NOT_CA, "issuer is not a certificate authority"},
      {GNUTLS_CERT_INSECURE_ALGORITHM, "insecure algorithm"},
      {GNUTLS_CERT_SIGNER_CONSTRAINTS_FAILURE, "not allowed by its issuer or not for a TLS server"},
      {GNUTLS_CERT_PURPOSE_MISMATCH, "not for a TLS server"},
      {GNUTLS_CERT_UNKNOWN_CRIT_EXTENSIONS, "unknown critical extension"},
      {GNUTLS_CERT_MISMATCH, "differs from the one expected"},
      {GNUTLS_CERT_REVOCATION_DATA_SUPERSEDED | GNUTLS_CERT_REVOCATION_DATA_ISSUED_IN_FUTURE,
       "revocation data invalid"},
      {GNUTLS_CERT_INVALID_OCSP_STATUS, "revocation status invalid"},
  };
  std::string reasons;
  for (const auto& [bits, text] : kReasons) {
    if ((status & bits) == 0) continue;
    if (!reasons.empty()) reasons += ", ";
    reasons += text;
  }
  return reasons.empty() ? "verification failed" : reasons;
}

}  // namespace

struct TlsTransport::Impl {
  Impl(Transport& lowerTransport, TlsSettings tlsSettings) : lower(lowerTransport), settings(std::move(tlsSettings)) {
    Setup();
  }

  void Setup();
  Step DoHandshake();
  void CheckPeer();
  std::int32_t DoReceive(void* buffer, std::size_t size);
  void DoSend(const void* data, std::size_t length);

  void Fail(std::string text) {
    state = Step::Failed;
    failure = std::move(text);
  }
  std::string LowerText() const {
    std::string text = lower.FailureText();
    return text.empty() ? "The connection was closed" : text;
  }

  static ssize_t Pull(gnutls_transport_ptr_t context, void* data, std::size_t size);
  static ssize_t Push(gnutls_transport_ptr_t context, const void* data, std::size_t size);
  static int PullTimeout(gnutls_transport_ptr_t context, unsigned int milliseconds);

  Transport& lower;
  TlsSettings settings;
  // Credentials outlive the session that refers to them: declared first,
  // destroyed last.
  AnonCredentialsPtr anonCredentials;
  CertCredentialsPtr certCredentials;
  SessionPtr session;
  Step state = Step::InProgress;
  bool lowerFailed = false;
  // The last pull found nothing below: "try again" then means no more data.
  // Without it, "try again" can also follow a record of the handshake's own
  // (a TLS 1.3 session ticket) with more records already pulled.
  bool pullStarved = false;
  bool byeSent = false;
  std::string failure;
  CertificateInfo peer;
};

ssize_t TlsTransport::Impl::Pull(gnutls_transport_ptr_t context, void* data, std::size_t size) {
  Impl& self = *static_cast<Impl*>(context);
  const std::size_t wanted = std::min<std::size_t>(size, std::numeric_limits<std::int32_t>::max());
  const std::int32_t got = wanted == 0 ? 0 : self.lower.Receive(data, wanted);
  if (got > 0) return got;
  if (got == 0) {
    self.pullStarved = true;
    gnutls_transport_set_errno(self.session.get(), EAGAIN);
    return -1;
  }
  self.lowerFailed = true;
  gnutls_transport_set_errno(self.session.get(), ECONNRESET);
  return -1;
}

ssize_t TlsTransport::Impl::Push(gnutls_transport_ptr_t context, const void* data, std::size_t size) {
  // The lower transport queues whatever the network does not take at once.
  static_cast<Impl*>(context)->lower.Send(data, size);
  return static_cast<ssize_t>(size);
}

int TlsTransport::Impl::PullTimeout(gnutls_transport_ptr_t, unsigned int) {
  // GnuTLS does not ask this of a non-blocking TLS session; should it ever,
  // "data may be there" sends it to Pull, which answers "try again" when
  // nothing is, rather than a timeout that would end the session.
  return 1;
}

void TlsTransport::Impl::Setup() {
  gnutls_session_t raw = nullptr;
  int result = gnutls_init(&raw, GNUTLS_CLIENT | GNUTLS_NONBLOCK);
  if (result < 0) return Fail("TLS setup failed: " + ErrorText(result));
  session.reset(raw);

  if (settings.anonymous) {
    gnutls_anon_client_credentials_t anon = nullptr;
    result = gnutls_anon_allocate_client_credentials(&anon);
    if (result < 0) return Fail("TLS setup failed: " + ErrorText(result));
    anonCredentials.reset(anon);
    result = gnutls_credentials_set(raw, GNUTLS_CRD_ANON, anon);
  } else {
    gnutls_certificate_credentials_t cert = nullptr;
    result = gnutls_certificate_allocate_credentials(&cert);
    if (result < 0) return Fail("TLS setup failed: " + ErrorText(result));
    certCredentials.reset(cert);
    if (!settings.caFile.empty()) {
      const int count = gnutls_certificate_set_x509_trust_file(cert, settings.caFile.c_str(), GNUTLS_X509_FMT_PEM);
      if (count < 0) return Fail("Cannot read the CA file " + settings.caFile + ": " + ErrorText(count));
      if (count == 0) return Fail("The CA file " + settings.caFile + " holds no certificates");
    } else {
      // Without a usable system store every certificate reads as untrusted,
      // which Peer() reports; that is no reason to refuse the connection.
      (void)gnutls_certificate_set_x509_system_trust(cert);
    }
    result = gnutls_credentials_set(raw, GNUTLS_CRD_CERTIFICATE, cert);
    if (result >= 0 && IsHostName(settings.serverName)) {
      std::string_view name = settings.serverName;
      if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
      result = gnutls_server_name_set(raw, GNUTLS_NAME_DNS, name.data(), name.size());
    }
  }
  if (result < 0) return Fail("TLS setup failed: " + ErrorText(result));

  if (!settings.priority.empty() || settings.anonymous) {
    const std::string& priorities = settings.priority.empty() ? std::string(kAnonymousPriorities) : settings.priority;
    const char* errorAt = nullptr;
    result = gnutls_priority_set_direct(raw, priorities.c_str(), &errorAt);
    if (result < 0) {
      std::string text = "The TLS priorities \"" + priorities + "\" are not valid";
      if (result == GNUTLS_E_INVALID_REQUEST && errorAt != nullptr) text += std::string(" at \"") + errorAt + "\"";
      return Fail(text);
    }
  } else {
    result = gnutls_set_default_priority(raw);
    if (result < 0) return Fail("TLS setup failed: " + ErrorText(result));
  }

  gnutls_transport_set_ptr(raw, this);
  gnutls_transport_set_pull_function(raw, &Impl::Pull);
  gnutls_transport_set_push_function(raw, &Impl::Push);
  gnutls_transport_set_pull_timeout_function(raw, &Impl::PullTimeout);
}

TlsTransport::Step TlsTransport::Impl::DoHandshake() {
  if (state != Step::InProgress) return state;
  int result = 0;
  for (int round = 0; round < kNonFatalRounds; ++round) {
    result = gnutls_handshake(session.get());
    if (result == GNUTLS_E_SUCCESS) {
      state = Step::Done;
      if (!settings.anonymous) CheckPeer();
      return state;
    }
    if (result == GNUTLS_E_AGAIN || result == GNUTLS_E_INTERRUPTED) return Step::InProgress;
    if (lowerFailed) {
      Fail("TLS handshake failed: " + LowerText());
      return state;
    }
    if (result == GNUTLS_E_FATAL_ALERT_RECEIVED) {
      Fail("TLS handshake failed: the server sent a fatal alert (" + AlertName(session.get()) + ")");
      return state;
    }
    if (result == GNUTLS_E_WARNING_ALERT_RECEIVED) {
      if (gnutls_alert_get(session.get()) == GNUTLS_A_CLOSE_NOTIFY) {
        Fail("TLS handshake failed: the server ended the TLS session");
        return state;
      }
      continue;  // for example "unrecognized name": the handshake goes on
    }
    if (gnutls_error_is_fatal(result) == 0) continue;
    break;
  }
  Fail("TLS handshake failed: " + ErrorText(result));
  return state;
}

void TlsTransport::Impl::CheckPeer() {
  peer = CertificateInfo{};
  unsigned int count = 0;
  const gnutls_datum_t* chain = gnutls_certificate_get_peers(session.get(), &count);
  if (chain == nullptr || count == 0) {
    peer.problem = "The server sent no certificate";
    return;
  }
  peer.present = true;
  peer.der.assign(reinterpret_cast<const char*>(chain[0].data), chain[0].size);

  unsigned char digest[32];
  std::size_t digestSize = sizeof digest;
  if (gnutls_fingerprint(GNUTLS_DIG_SHA256, &chain[0], digest, &digestSize) == GNUTLS_E_SUCCESS) {
    peer.sha256 = HexPairs(digest, digestSize);
  }

  gnutls_x509_crt_t rawCertificate = nullptr;
  CertificatePtr certificate;
  if (gnutls_x509_crt_init(&rawCertificate) == GNUTLS_E_SUCCESS) certificate.reset(rawCertificate);
  if (!certificate || gnutls_x509_crt_import(rawCertificate, &chain[0], GNUTLS_X509_FMT_DER) < 0) {
    peer.problem = "The server's certificate cannot be read";
    return;
  }
  OwnedDatum subject;
  OwnedDatum issuer;
  if (gnutls_x509_crt_get_dn3(rawCertificate, &subject.datum, 0) == GNUTLS_E_SUCCESS) peer.subject = subject.Text();
  if (gnutls_x509_crt_get_issuer_dn3(rawCertificate, &issuer.datum, 0) == GNUTLS_E_SUCCESS) peer.issuer = issuer.Text();
  const std::time_t activation = gnutls_x509_crt_get_activation_time(rawCertificate);
  const std::time_t expiration = gnutls_x509_crt_get_expiration_time(rawCertificate);
  peer.notBefore = activation == static_cast<std::time_t>(-1) ? 0 : activation;
  peer.notAfter = expiration == static_cast<std::time_t>(-1) ? 0 : expiration;

  // The chain, checked for a TLS server's use; the name is checked apart so
  // that each problem can be told on its own.
  gnutls_typed_vdata_st purpose{};
  purpose.type = GNUTLS_DT_KEY_PURPOSE_OID;
  purpose.data = reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER));
  unsigned int status = 0;
  const int verified = gnutls_certificate_verify_peers(session.get(), &purpose, 1, &status);
  constexpr unsigned kTimeBits = GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED;
  std::string untrusted;
  if (verified < 0) {
    untrusted = ErrorText(verified);
  } else if (status != 0 && ((status & ~(kTimeBits | GNUTLS_CERT_INVALID)) != 0 || (status & kTimeBits) == 0)) {
    untrusted = UntrustedReasons(status);
  }
  peer.trusted = untrusted.empty();

  // GnuTLS dates every certificate of the chain, trusted or not.
  peer.expired = verified >= 0 && (status & GNUTLS_CERT_EXPIRED) != 0;
  peer.notYetValid = verified >= 0 && (status & GNUTLS_CERT_NOT_ACTIVATED) != 0;

  const std::string name(WithoutBrackets(settings.serverName));
  peer.nameMatches = !name.empty() && gnutls_x509_crt_check_hostname2(rawCertificate, name.c_str(), 0) != 0;

  std::vector<std::string> problems;
  if (!peer.trusted) problems.push_back("The certificate is not trusted (" + untrusted + ")");
  if (peer.expired) problems.emplace_back("The certificate has expired");
  if (peer.notYetValid) problems.emplace_back("The certificate is not yet valid");
  if (!peer.nameMatches) {
    problems.push_back(settings.serverName.empty()
                           ? std::string("No server name was given to check the certificate against")
                           : "The certificate is not for " + settings.serverName);
  }
  for (const std::string& problem : problems) {
    if (!peer.problem.empty()) peer.problem += "; ";
    peer.problem += problem;
  }
}

std::int32_t TlsTransport::Impl::DoReceive(void* buffer, std::size_t size) {
  if (state == Step::Failed) return -1;
  if (state != Step::Done || size == 0) return 0;
  const std::size_t wanted = std::min<std::size_t>(size, std::numeric_limits<std::int32_t>::max());
  for (int round = 0; round < kNonFatalRounds; ++round) {
    pullStarved = false;
    const ssize_t got = gnutls_record_recv(session.get(), buffer, wanted);
    if (got > 0) return static_cast<std::int32_t>(got);
    if (got == 0) {
      Fail("The server ended the TLS session");
      return -1;
    }
    const int code = static_cast<int>(got);
    if (code == GNUTLS_E_AGAIN || code == GNUTLS_E_INTERRUPTED) {
      if (pullStarved) return 0;
      continue;  // records already pulled wait behind one of the handshake's
    }
    if (lowerFailed) {
      Fail(LowerText());
      return -1;
    }
    switch (code) {
      case GNUTLS_E_FATAL_ALERT_RECEIVED: Fail("TLS alert from the server: " + AlertName(session.get())); return -1;
      case GNUTLS_E_WARNING_ALERT_RECEIVED:
        // A warning leaves the session standing (a server that cancels
        // follows it with its close notification).
        continue;
      case GNUTLS_E_REHANDSHAKE:
        // The viewer does not renegotiate; the server may go on or close.
        (void)gnutls_alert_send(session.get(), GNUTLS_AL_WARNING, GNUTLS_A_NO_RENEGOTIATION);
        continue;
      case GNUTLS_E_PREMATURE_TERMINATION: Fail("The connection ended in the middle of the TLS session"); return -1;
      default: break;
    }
    if (gnutls_error_is_fatal(code) == 0) continue;
    Fail("TLS receive failed: " + ErrorText(code));
    return -1;
  }
  return 0;
}

void TlsTransport::Impl::DoSend(const void* data, std::size_t length) {
  if (state != Step::Done || byeSent) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  int stalls = 0;
  while (length > 0) {
    // GnuTLS takes one record's worth per call.
    const ssize_t sent = gnutls_record_send(session.get(), bytes, length);
    if (sent > 0) {
      bytes += sent;
      length -= static_cast<std::size_t>(sent);
      stalls = 0;
      continue;
    }
    const int code = static_cast<int>(sent);
    // Push never refuses bytes, so "try again" is not expected; a retry with
    // the same arguments completes the record GnuTLS has started.
    if ((code == GNUTLS_E_AGAIN || code == GNUTLS_E_INTERRUPTED) && ++stalls < kNonFatalRounds) continue;
    Fail("TLS send failed: " + ErrorText(code));
    return;
  }
}

TlsTransport::TlsTransport(Transport& lower, TlsSettings settings)
    : impl_(std::make_unique<Impl>(lower, std::move(settings))) {}

TlsTransport::~TlsTransport() = default;

TlsTransport::Step TlsTransport::Handshake() { return impl_->DoHandshake(); }

const CertificateInfo& TlsTransport::Peer() const { return impl_->peer; }

std::int32_t TlsTransport::Receive(void* buffer, std::size_t size) { return impl_->DoReceive(buffer, size); }

bool TlsTransport::Pending() const {
  return impl_->state == Step::Done && gnutls_record_check_pending(impl_->session.get()) > 0;
}

void TlsTransport::Send(const void* data, std::size_t length) { impl_->DoSend(data, length); }

bool TlsTransport::Open() const { return impl_->state != Step::Failed && impl_->lower.Open(); }

std::string TlsTransport::FailureText() const { return impl_->failure; }

void TlsTransport::Bye() {
  if (impl_->state != Step::Done || impl_->byeSent) return;
  impl_->byeSent = true;
  // The close notification goes to the lower transport at once; "try again"
  // cannot come from a push that never refuses.
  (void)gnutls_bye(impl_->session.get(), GNUTLS_SHUT_WR);
}

}  // namespace telorus::viewer
