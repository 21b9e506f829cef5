// The certificates a user accepted although they did not verify, remembered
// per server in a text file of one line each: "HOST:PORT SHA256", the
// fingerprint written as the viewer shows it ("AB:CD:...", 32 bytes). The
// next connection to that server goes on silently with the same certificate
// and is refused with a different one. Other lines (comments, anything that
// does not read as such a pair) are ignored and kept as they are.
#pragma once

#include <string>

namespace telorus::apps {

// $XDG_CONFIG_HOME/telorus/known_certs, else $HOME/.config/telorus/known_certs;
// empty when neither variable is set.
std::string DefaultKnownCertsPath();

class KnownCertificates {
 public:
  explicit KnownCertificates(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  enum class Match { Unknown, Same, Changed };
  // What the file holds for `server` ("HOST:PORT"): nothing, this
  // fingerprint, or another one (then `remembered` receives it). Letter case
  // does not matter. A missing or unreadable file knows no server.
  Match Lookup(const std::string& server, const std::string& sha256, std::string* remembered = nullptr) const;

  // Stores the fingerprint for `server`, replacing a line it had. Missing
  // directories are made with mode 0700, the file gets mode 0600; it is
  // written whole to a temporary file and renamed over the old one. False
  // with `problem` when it cannot be written.
  bool Remember(const std::string& server, const std::string& sha256, std::string& problem) const;

 private:
  std::string path_;
};

}  // namespace telorus::apps
