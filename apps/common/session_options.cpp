#include "common/session_options.h"

#include <cstdio>
#include <vector>

#include "viewer/password_file.h"

namespace telorus::apps {

const char* const kSessionOptionsUsage =
    "  --protocol V         the highest RFB version answered: 3.3, 3.7 or 3.8 (default 3.8)\n"
    "  --security LIST      the accepted security types, preferred first (default\n"
    "                       X509Vnc,X509Plain,X509None,TLSVnc,TLSPlain,TLSNone,AnonTLS,VncAuth,None;\n"
    "                       Plain, without TLS, only when named)\n"
    "  --user NAME          the user name for Plain authentication\n"
    "  --password P         the password; '-' reads it from standard input\n"
    "  --password-file F    reads the password from a file that vncpasswd wrote\n"
    "  --ca FILE            PEM file of the CAs that X509 certificates must chain to\n"
    "                       (default: the system's)\n"
    "  --codec NAME         the encoding asked for first: raw, copyrect, rre, corre,\n"
    "                       hextile, zlib, tight, zrle or trle (default tight); the\n"
    "                       others follow it unless --only-codec\n"
    "  --only-codec         ask for that encoding alone\n"
    "  --quality Q          JPEG quality for Tight, 0 (smallest) to 9 (best), 'lossless',\n"
    "                       or 'auto' (chosen from the link's measured throughput)\n"
    "  --compress N         compression level, 0 (fastest) to 9 (smallest)\n";

namespace {

bool Digit(const std::string& v, int& out) {
  if (v.size() != 1 || v[0] < '0' || v[0] > '9') return false;
  out = v[0] - '0';
  return true;
}

}  // namespace

int TakeSessionOption(int argc, char** argv, int& i, SessionOptions& o, std::string& problem) {
  const std::string a = argv[i];
  if (a == "--only-codec") {
    o.onlyCodec = true;
    return 1;
  }
  const bool known = a == "--protocol" || a == "--security" || a == "--user" || a == "--password" ||
                     a == "--password-file" || a == "--ca" || a == "--codec" || a == "--quality" || a == "--compress";
  if (!known) return 0;
  if (i + 1 >= argc) {
    problem = a + " needs a value";
    return -1;
  }
  const std::string v = argv[++i];
  if (a == "--protocol") {
    if (v == "3.3")
      o.protocol = viewer::vncProtocol33;
    else if (v == "3.7")
      o.protocol = viewer::vncProtocol37;
    else if (v == "3.8")
      o.protocol = viewer::vncProtocol38;
    else {
      problem = "--protocol takes 3.3, 3.7 or 3.8";
      return -1;
    }
  } else if (a == "--security") {
    std::vector<std::uint32_t> codes;
    if (!viewer::ParseSecurityTypes(v, codes, problem)) return -1;
    o.security = v;
  } else if (a == "--user") {
    o.user = v;
    o.userGiven = true;
  } else if (a == "--ca") {
    o.ca = v;
  } else if (a == "--codec") {
    if (!viewer::CodecFromName(v, &o.codec)) {
      problem = std::string("--codec takes ") + viewer::CodecNames();
      return -1;
    }
  } else if (a == "--quality") {
    o.autoQuality = v == "auto";
    if (v == "lossless" || v == "auto") {
      o.jpegQuality = -1;
    } else if (!Digit(v, o.jpegQuality)) {
      problem = "--quality takes 0 to 9, lossless or auto";
      return -1;
    }
  } else if (a == "--compress") {
    if (!Digit(v, o.compressLevel)) {
      problem = "--compress takes 0 to 9";
      return -1;
    }
  } else if (a == "--password") {
    if (v == "-") {
      if (!viewer::ReadPasswordLine(stdin, o.password)) {
        problem = "--password -: nothing to read on standard input";
        return -1;
      }
    } else {
      o.password = v;
    }
    o.passwordGiven = true;
  } else {  // --password-file
    if (!viewer::ReadVncPasswordFile(v, o.password, problem)) return -1;
    o.passwordGiven = true;
  }
  return 1;
}

void ApplySessionOptions(const SessionOptions& o, viewer::TQuarneTelorus& viewer) {
  viewer.SetProtocol(o.protocol);
  viewer.SetSecurityTypes(o.security);
  viewer.SetUserName(o.user);
  viewer.SetCaFile(o.ca);
  viewer.SetPassword(o.password);
  viewer.SetCodec(o.codec);
  viewer.SetAllowOtherEncodings(!o.onlyCodec);
  viewer.SetCompressLevel(o.compressLevel);
  viewer.SetJpegQuality(o.jpegQuality);
  viewer.SetAutoQuality(o.autoQuality);
}

}  // namespace telorus::apps
