// The peer broker's wire format. The broker is a Linux program that starts
// real servers, proxies and commands on behalf of test processes running
// under Wine, which cannot start Linux programs themselves. One TCP
// connection on 127.0.0.1 per test process; a request is one line of fields
// separated by 0x1F; the answer is a line "ok" or "fail" with fields, and
// for "run" the command's output follows as a counted block. Everything a
// connection started is stopped when it closes.
//
// Requests and answers:
//   x11vnc W H DEPTH PASSWORD            ok ID PORT DISPLAY
//   xvnc W H DEPTH PASSWORD NAME         ok ID PORT DISPLAY
//   dante USERPW(0|1) BLOCKEDPORT        ok ID PORT
//   microsocks USER PASSWORD             ok ID PORT
//   spawn ENVCOUNT ENV... ARG...         ok ID
//   running ID                           ok 0|1
//   stop ID                              ok
//   run DISPLAY ARG...                   ok STATUS BYTES, then BYTES of output
// A failure answers "fail WHY".
#pragma once

#include <string>
#include <vector>

namespace telorus::test::broker {

inline constexpr char kSeparator = '\x1f';
// The environment variable that gives the broker's port to test processes.
inline constexpr const char* kPortVariable = "TELORUS_PEER_BROKER";

inline std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += kSeparator;
    line += fields[i];
  }
  return line + '\n';
}

inline std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == kSeparator)
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

}  // namespace telorus::test::broker
