// The socket layer's exception and the texts of every socket error number.
#pragma once

#include <string>

#include "socket/Component.h"

namespace telorus::socket {

class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

// The text for a Windows Sockets error number ("Not a WinSock error" for a
// number that has none).
std::string SocketErrorText(int code);

// "Error <code> in function <operation>\r\n<text>".
std::string SocketErrorMessage(int code, const std::string& operation);

}  // namespace telorus::socket
