// TLS over another transport, through GnuTLS, for the encrypted security
// types of an RFB session (VeNCrypt's TLS and X509 subtypes, anonymous TLS).
//
// The TLS layer reads and writes through the lower transport's non-blocking
// Receive and Send (GnuTLS's pull and push functions): a pull that finds
// nothing reports "try again", so every step here returns at once and is
// resumed by the next data event. The session calls `Handshake` on each
// data event until it is no longer in progress, then uses Receive and Send
// for plain bytes, exactly as on the socket itself.
//
// Certificates (X509 mode) are checked after the handshake against the CA
// file the host names, or the system's trust store when it names none, and
// against the server's name; `Peer` tells the outcome and what the host
// needs to decide about an untrusted certificate. The session sends nothing
// of its own before that decision.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "viewer/transport.h"

namespace telorus::viewer {

struct TlsSettings {
  // Anonymous Diffie-Hellman key exchange (no certificate): VeNCrypt's
  // TLSNone, TLSVnc and TLSPlain, and the anonymous TLS security type.
  bool anonymous = false;
  // X509: a PEM file of trusted CAs; empty for the system's trust store.
  std::string caFile;
  // X509: the name the certificate must carry; also sent as the server name
  // indication when it is a host name rather than an address.
  std::string serverName;
  // GnuTLS priorities; empty for the library's defaults (plus the anonymous
  // key exchanges in anonymous mode).
  std::string priority;
};

// The server's certificate and how it fared.
struct CertificateInfo {
  bool present = false;  // false in anonymous mode
  std::string subject;   // distinguished names as GnuTLS prints them
  std::string issuer;
  std::int64_t notBefore = 0;  // Unix time, seconds
  std::int64_t notAfter = 0;
  std::string sha256;  // fingerprint of the DER certificate: "AB:CD:...", 32 bytes
  std::string der;     // the certificate itself
  // Verification.
  bool trusted = false;      // the chain verifies against the CAs in use
  bool nameMatches = false;  // the certificate is for serverName
  bool expired = false;
  bool notYetValid = false;
  // Empty when the certificate is trusted and matches the name; otherwise
  // every problem in one text for a user, for example
  // "The certificate has expired" or "The certificate is not for 127.0.0.2".
  std::string problem;
};

class TlsTransport : public Transport {
 public:
  TlsTransport(Transport& lower, TlsSettings settings);
  ~TlsTransport() override;
  TlsTransport(const TlsTransport&) = delete;
  TlsTransport& operator=(const TlsTransport&) = delete;

  enum class Step { InProgress, Done, Failed };
  // Advances the handshake with what the lower transport holds now. Done
  // once the handshake completed (then `Peer` is filled in); Failed with
  // `FailureText` set, for example "TLS handshake failed: ...".
  Step Handshake();
  const CertificateInfo& Peer() const;

  std::int32_t Receive(void* buffer, std::size_t size) override;
  bool Pending() const override;
  void Send(const void* data, std::size_t length) override;
  bool Open() const override;
  std::string FailureText() const override;

  // Sends the TLS close notification (without waiting for the server's).
  void Bye();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace telorus::viewer
