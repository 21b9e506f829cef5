// The file of accepted certificates: what it answers for a server, what it
// keeps of lines it does not understand, and who may read it.
#include "common/known_certs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace telorus::apps {
namespace {

namespace fs = std::filesystem;
using Match = KnownCertificates::Match;

const std::string kFirst =
    "0A:1B:2C:3D:4E:5F:60:71:82:93:A4:B5:C6:D7:E8:F9:0A:1B:2C:3D:4E:5F:60:71:82:93:A4:B5:C6:D7:E8:F9";
const std::string kSecond =
    "F0:E1:D2:C3:B4:A5:96:87:78:69:5A:4B:3C:2D:1E:0F:F0:E1:D2:C3:B4:A5:96:87:78:69:5A:4B:3C:2D:1E:0F";

struct TempDir {
  TempDir() {
    std::random_device random;
    path = fs::temp_directory_path() / ("telorus-known-certs-" + std::to_string(random()));
    fs::create_directory(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(KnownCertificates, TellsUnknownSameAndChangedFromWhatWasRemembered) {
  TempDir dir;
  const std::string path = (dir.path / "config" / "telorus" / "known_certs").string();
  std::string problem;
  {
    KnownCertificates known(path);
    EXPECT_EQ(known.Lookup("vnc.test:5900", kFirst), Match::Unknown);
    ASSERT_TRUE(known.Remember("vnc.test:5900", kFirst, problem)) << problem;
    ASSERT_TRUE(known.Remember("10.0.0.7:5901", Lower(kSecond), problem)) << problem;
  }
  EXPECT_EQ(ReadFile(path), "vnc.test:5900 " + kFirst + "\n10.0.0.7:5901 " + kSecond + "\n");

  const KnownCertificates fresh(path);
  EXPECT_EQ(fresh.Lookup("vnc.test:5900", kFirst), Match::Same);
  EXPECT_EQ(fresh.Lookup("10.0.0.7:5901", kSecond), Match::Same) << "letter case does not matter";
  std::string remembered;
  EXPECT_EQ(fresh.Lookup("vnc.test:5900", kSecond, &remembered), Match::Changed);
  EXPECT_EQ(remembered, kFirst);
  EXPECT_EQ(fresh.Lookup("vnc.test:5901", kFirst), Match::Unknown) << "another port is another server";

  // Accepting anew replaces the server's line and leaves the others.
  ASSERT_TRUE(fresh.Remember("vnc.test:5900", kSecond, problem)) << problem;
  EXPECT_EQ(ReadFile(path), "10.0.0.7:5901 " + kSecond + "\nvnc.test:5900 " + kSecond + "\n");
}

TEST(KnownCertificates, IgnoresMalformedLinesAndKeepsThem) {
  TempDir dir;
  const fs::path path = dir.path / "known_certs";
  const std::string odd = "# accepted by hand\nvnc.test:5900\nvnc.test:5900 " + kSecond.substr(3) + "\nvnc.test:5900 " +
                          kSecond + " extra\nvnc.test:5900 " + kSecond.substr(0, 93) + "XY\n";
  std::ofstream(path, std::ios::binary) << odd << "vnc.test:5900 " << kFirst << "\n";
  const KnownCertificates known(path.string());
  EXPECT_EQ(known.Lookup("vnc.test:5900", kFirst), Match::Same) << "only the well-formed line counts";
  std::string problem;
  ASSERT_TRUE(known.Remember("other:1", kSecond, problem)) << problem;
  EXPECT_EQ(ReadFile(path), odd + "vnc.test:5900 " + kFirst + "\nother:1 " + kSecond + "\n");
}

TEST(KnownCertificates, WritesNothingUntilSomethingIsRemembered) {
  TempDir dir;
  const fs::path path = dir.path / "config" / "telorus" / "known_certs";
  const KnownCertificates known(path.string());
  EXPECT_EQ(known.Lookup("vnc.test:5900", kFirst), Match::Unknown);
  std::string problem;
  EXPECT_FALSE(known.Remember("vnc.test:5900", "AB:CD", problem)) << "not a SHA-256 fingerprint";
  EXPECT_FALSE(problem.empty());
  EXPECT_FALSE(fs::exists(dir.path / "config")) << "neither the file nor its directory is made";
  EXPECT_FALSE(KnownCertificates("").Remember("vnc.test:5900", kFirst, problem));
}

#ifndef _WIN32
TEST(KnownCertificates, TheFileAndTheDirectoriesMadeForItArePrivate) {
  TempDir dir;
  const fs::path path = dir.path / "config" / "telorus" / "known_certs";
  const KnownCertificates known(path.string());
  // With no umask to narrow them, the modes are the ones asked for.
  const mode_t umaskBefore = ::umask(0);
  std::string problem;
  const bool first = known.Remember("vnc.test:5900", kFirst, problem);
  fs::permissions(path, fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
  const bool second = known.Remember("vnc.test:5901", kFirst, problem);
  ::umask(umaskBefore);
  ASSERT_TRUE(first && second) << problem;
  auto mode = [](const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777u;
  };
  EXPECT_EQ(mode(dir.path / "config"), 0700u);
  EXPECT_EQ(mode(dir.path / "config" / "telorus"), 0700u);
  EXPECT_EQ(mode(path), 0600u) << "also after a rewrite of a file others could read";
  EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 1)
      << "no temporary file is left";
}

TEST(KnownCertificates, LivesUnderXdgConfigHomeOrElseHomeDotConfig) {
  const char* home = std::getenv("HOME");
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string homeBefore = home ? home : "", configBefore = config ? config : "";
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", "/etc/xdg-someone", 1);
  const std::string fromConfig = DefaultKnownCertsPath();
  ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
  const std::string fromRelative = DefaultKnownCertsPath();
  ::unsetenv("XDG_CONFIG_HOME");
  const std::string fromHome = DefaultKnownCertsPath();
  ::unsetenv("HOME");
  const std::string fromNothing = DefaultKnownCertsPath();
  if (home) ::setenv("HOME", homeBefore.c_str(), 1);
  if (config) ::setenv("XDG_CONFIG_HOME", configBefore.c_str(), 1);
  EXPECT_EQ(fromConfig, "/etc/xdg-someone/telorus/known_certs");
  EXPECT_EQ(fromRelative, "/home/someone/.config/telorus/known_certs");
  EXPECT_EQ(fromHome, "/home/someone/.config/telorus/known_certs");
  EXPECT_EQ(fromNothing, "");
}
#endif

}  // namespace
}  // namespace telorus::apps
