// The message of the ESocketException a call raises, or "accepted" when it
// raises none: for checking refusals by their exact texts.
#pragma once

#include <functional>
#include <string>

#include "socket/SocketErrors.h"

namespace telorus::test {

inline std::string RaisedMessage(const std::function<void()>& call) {
  try {
    call();
  } catch (const socket::ESocketException& e) {
    return e.what();
  }
  return "accepted";
}

}  // namespace telorus::test
