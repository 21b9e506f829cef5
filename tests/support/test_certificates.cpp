#include "support/test_certificates.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace telorus::test {

namespace {

constexpr const char* kMakeCertificates = R"(set -e
ca() {
  printf 'cn = "Telorus %s CA"\nca\ncert_signing_key\nexpiration_days = 3650\n' $1 >$1.tmpl
  certtool --generate-privkey --key-type=ecdsa --outfile $1.key
  certtool --generate-self-signed --load-privkey $1.key --template $1.tmpl --outfile $1.pem
}
leaf() {
  printf 'cn = "vnc.test"\ndns_name = "vnc.test"\n%s\ntls_www_server\nsigning_key\n' "$5" >$1.tmpl
  printf 'activation_date = "%s"\nexpiration_date = "%s"\n' "$3" "$4" >>$1.tmpl
  certtool --generate-certificate --load-privkey leaf.key --load-ca-certificate $2.pem --load-ca-privkey $2.key \
    --template $1.tmpl --outfile $1.pem
}
ca ca
ca other
certtool --generate-privkey --key-type=ecdsa --outfile leaf.key
ip='ip_address = "127.0.0.1"'
leaf good ca "2024-01-01 00:00:00" "2090-01-01 00:00:00" "$ip"
certtool --certificate-info --infile good.pem --outder --outfile good.der
leaf expired ca "2020-01-01 00:00:00" "2021-01-01 00:00:00" "$ip"
leaf future ca "2090-01-01 00:00:00" "2091-01-01 00:00:00" "$ip"
leaf stranger other "2024-01-01 00:00:00" "2090-01-01 00:00:00" "$ip"
leaf named ca "2024-01-01 00:00:00" "2090-01-01 00:00:00" ""
certtool --generate-privkey --key-type=rsa --bits=2048 --outfile rsa.key
certtool --generate-certificate --load-privkey rsa.key --load-ca-certificate ca.pem --load-ca-privkey ca.key \
  --template good.tmpl --outfile rsa.pem
cat rsa.key rsa.pem >rsa-with-key.pem
)";

struct Maker {
  Maker() {
    char name[] = "/tmp/telorus-certs-XXXXXX";
    if (mkdtemp(name) == nullptr) return;
    certs.dir = name;
    std::ofstream(certs.Path("make.sh")) << kMakeCertificates;
    certs.made = std::system(("cd '" + certs.dir + "' && TZ=UTC sh make.sh >/dev/null 2>&1").c_str()) == 0;
  }
  ~Maker() {
    std::error_code ignored;
    if (!certs.dir.empty()) std::filesystem::remove_all(certs.dir, ignored);
  }
  TestCertificates certs;
};

}  // namespace

const TestCertificates& Certificates() {
  static const Maker maker;
  return maker.certs;
}

}  // namespace telorus::test
