// The command-line options of the tools that open a session (telorus-snap,
// telorus-viewer): protocol version, security types, credentials and CA,
// and the encodings asked for.
#pragma once

#include <string>

#include "viewer/Telorus.h"

namespace telorus::apps {

struct SessionOptions {
  // The tools speak 3.8 unless told otherwise; the component's own default
  // stays 3.3.
  viewer::TVNCProtocol protocol = viewer::vncProtocol38;
  std::string security{viewer::kDefaultSecurityTypes};
  std::string user;
  bool userGiven = false;
  std::string ca;
  std::string password;
  bool passwordGiven = false;
  // The tools ask for Tight first, then every other encoding; the
  // component's own default stays Hextile alone.
  viewer::TVNCCodec codec = viewer::vncTight;
  bool onlyCodec = false;
  int compressLevel = -1;    // -1: the server's choice
  int jpegQuality = -1;      // -1: lossless
  bool autoQuality = false;  // set by tools that choose the quality from the link
};

// The usage lines of these options.
extern const char* const kSessionOptionsUsage;

// Takes the option at argv[i] and its value (i then points at the value).
// 1: taken; 0: not one of these options; -1: a bad value (`problem` says
// which). `--password -` reads one line from standard input, and
// `--password-file FILE` reads a file that vncpasswd wrote.
int TakeSessionOption(int argc, char** argv, int& i, SessionOptions& options, std::string& problem);

void ApplySessionOptions(const SessionOptions& options, viewer::TQuarneTelorus& viewer);

}  // namespace telorus::apps
