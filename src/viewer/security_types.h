// The security types a viewer accepts, by name, in order of preference.
//
// A list is written as names separated by commas (case does not matter,
// blanks are ignored): None, VncAuth, Plain, TLSNone, TLSVnc, TLSPlain,
// X509None, X509Vnc, X509Plain, and AnonTLS for the anonymous TLS security
// type that carries a second negotiation inside it. Each name stands for one
// code: the security type's own number (1, 2, 18), or the VeNCrypt subtype
// (256 and up), which is reached through the VeNCrypt type (19).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telorus::viewer {

// Every encrypted type before the unencrypted ones; Plain without TLS (which
// sends the password as it is) is not in it.
inline constexpr std::string_view kDefaultSecurityTypes =
    "X509Vnc,X509Plain,X509None,TLSVnc,TLSPlain,TLSNone,AnonTLS,VncAuth,None";

// Parses a list; false with `error` naming the first unknown entry. An empty
// list is an error too: it would accept nothing.
bool ParseSecurityTypes(std::string_view list, std::vector<std::uint32_t>& codes, std::string& error);
// The name of a code ("X509Vnc"), or its number when it has none.
std::string SecurityTypeName(std::uint32_t code);
// The security type that carries a code on the wire: 19 for the VeNCrypt
// subtypes, the code itself otherwise.
std::uint8_t SecurityTypeOf(std::uint32_t code);
// Whether the session is encrypted under this code.
bool IsEncrypted(std::uint32_t code);
// Whether this code verifies a certificate (the X509 subtypes).
bool UsesCertificate(std::uint32_t code);

}  // namespace telorus::viewer
