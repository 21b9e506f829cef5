#include "common/known_certs.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace telorus::apps {
namespace {

namespace fs = std::filesystem;

// 32 bytes as two hex digits each, separated by colons.
bool IsFingerprint(const std::string& text) {
  if (text.size() != 32 * 3 - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (i % 3 == 2 ? c != ':' : !std::isxdigit(c)) return false;
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The server and the fingerprint (in capitals) of a line that holds exactly
// these two; false for comments and anything else.
bool ParseLine(const std::string& line, std::string& server, std::string& sha256) {
  std::istringstream in(line);
  std::string extra;
  if (!(in >> server >> sha256) || (in >> extra)) return false;
  if (server[0] == '#' || !IsFingerprint(sha256)) return false;
  sha256 = Upper(sha256);
  return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

#ifndef _WIN32
std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }
#endif

// Makes `dir` and whatever is missing above it, each private to the user.
bool MakeDirectories(const fs::path& dir, std::string& problem) {
  std::error_code ec;
  if (dir.empty() || fs::is_directory(dir, ec)) return true;
  if (dir.has_parent_path() && dir.parent_path() != dir && !MakeDirectories(dir.parent_path(), problem)) return false;
#ifdef _WIN32
  fs::create_directory(dir, ec);
  if (ec) {
    problem = "cannot make the directory " + dir.string() + ": " + ec.message();
    return false;
  }
#else
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = "cannot make the directory " + dir.string() + ": " + ErrorText(errno);
    return false;
  }
#endif
  return true;
}

// Writes `content` to a new file beside `path`, readable and writable by the
// user only, then puts it in the place of `path`.
bool ReplaceFile(const std::string& path, const std::string& content, std::string& problem) {
#ifdef _WIN32
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
      problem = "cannot write " + temp;
      return false;
    }
  }
  std::error_code ec;
  fs::remove(path, ec);
  fs::rename(temp, path, ec);
  if (ec) {
    problem = "cannot replace " + path + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
#else
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    problem = "cannot write beside " + path + ": " + ErrorText(errno);
    return false;
  }
  bool ok = ::fchmod(fd, 0600) == 0;
  for (std::size_t done = 0; ok && done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  const int writeError = errno;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    problem = "cannot write " + temp + ": " + ErrorText(writeError);
  } else if (::rename(temp.c_str(), path.c_str()) != 0) {
    problem = "cannot replace " + path + ": " + ErrorText(errno);
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
#endif
}

}  // namespace

std::string DefaultKnownCertsPath() {
  // A relative XDG_CONFIG_HOME does not count, as for every XDG directory.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config && fs::path(config).is_absolute())
    return (fs::path(config) / "telorus" / "known_certs").string();
  const char* home = std::getenv("HOME");
  if (home && *home) return (fs::path(home) / ".config" / "telorus" / "known_certs").string();
  return {};
}

KnownCertificates::Match KnownCertificates::Lookup(const std::string& server, const std::string& sha256,
                                                   std::string* remembered) const {
  if (path_.empty()) return Match::Unknown;
  std::string lineServer, lineSha256;
  for (const std::string& line : ReadLines(path_)) {
    if (!ParseLine(line, lineServer, lineSha256) || lineServer != server) continue;
    if (lineSha256 == Upper(sha256)) return Match::Same;
    if (remembered) *remembered = lineSha256;
    return Match::Changed;
  }
  return Match::Unknown;
}

bool KnownCertificates::Remember(const std::string& server, const std::string& sha256, std::string& problem) const {
  if (path_.empty()) {
    problem = "there is no place to remember it: neither XDG_CONFIG_HOME nor HOME is set";
    return false;
  }
  if (server.empty() || server.find_first_of(" \t\r\n") != std::string::npos || !IsFingerprint(sha256)) {
    problem = "\"" + server + " " + sha256 + "\" is not a server and a SHA-256 fingerprint";
    return false;
  }
  std::string content, lineServer, lineSha256;
  for (const std::string& line : ReadLines(path_))
    if (!ParseLine(line, lineServer, lineSha256) || lineServer != server) content += line + "\n";
  content += server + " " + Upper(sha256) + "\n";
  return MakeDirectories(fs::path(path_).parent_path(), problem) && ReplaceFile(path_, content, problem);
}

}  // namespace telorus::apps
