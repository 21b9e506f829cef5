// Certificates for TLS tests, made once per test process with certtool in a
// temporary folder (removed at exit). CAs "ca" and "other"; leaf
// certificates for vnc.test and 127.0.0.1: "good", "expired" and "future"
// from ca, "stranger" from other, and "named" from ca for vnc.test only.
// Each leaf NAME has NAME.pem and shares the key leaf.key; good.der is the
// DER form of good.pem. rsa.pem is "good" with an RSA key of its own
// (rsa.key; both in rsa-with-key.pem), for servers that take only RSA.
#pragma once

#include <string>

namespace telorus::test {

struct TestCertificates {
  bool made = false;
  std::string dir;
  std::string Path(const std::string& file) const { return dir + "/" + file; }
};

// The certificates; `made` is false when certtool is missing or failed.
const TestCertificates& Certificates();

// Skips a test without certtool; fails it when certtool could not make them.
#define REQUIRE_TEST_CERTIFICATES()                                                                         \
  if (std::system("command -v certtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "certtool is not installed"; \
  ASSERT_TRUE(::telorus::test::Certificates().made) << "certtool did not make the test certificates"

}  // namespace telorus::test
