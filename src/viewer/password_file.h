// Passwords that never stand on a command line: the VNC password file that
// `vncpasswd` writes (8 bytes, the password obfuscated with the fixed DES
// key every VNC program uses for these files), and a line of text read from
// a stream such as standard input.
#pragma once

#include <cstdio>
#include <string>

namespace telorus::viewer {

// Reads a VNC password file; false with `error` saying why (missing,
// unreadable, shorter than 8 bytes).
bool ReadVncPasswordFile(const std::string& path, std::string& password, std::string& error);
// The 8 bytes of a VNC password file for `password` (its first 8 bytes count).
std::string ObfuscateVncPassword(const std::string& password);
// One line from `stream`, without its line end; false at the end of the
// stream with nothing read.
bool ReadPasswordLine(std::FILE* stream, std::string& password);

}  // namespace telorus::viewer
