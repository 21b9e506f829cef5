#include "socket/SocketErrors.h"

#include <algorithm>
#include <array>
#include <utility>

namespace telorus::socket {
namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Sorted by code.
constexpr std::array kErrorTexts{
    ErrorText{0, "No Error"},
    ErrorText{10004, "Interrupted system call"},
    ErrorText{10009, "Bad file number"},
    ErrorText{10013, "Permission denied"},
    ErrorText{10014, "Bad address"},
    ErrorText{10022, "Invalid argument"},
    ErrorText{10024, "Too many open files"},
    ErrorText{10035, "Operation would block"},
    ErrorText{10036, "Operation now in progress"},
    ErrorText{10037, "Operation already in progress"},
    ErrorText{10038, "Socket operation on non-socket"},
    ErrorText{10039, "Destination address required"},
    ErrorText{10040, "Message too long"},
    ErrorText{10041, "Protocol wrong type for socket"},
    ErrorText{10042, "Protocol not available"},
    ErrorText{10043, "Protocol not supported"},
    ErrorText{10044, "Socket type not supported"},
    ErrorText{10045, "Operation not supported on socket"},
    ErrorText{10046, "Protocol family not supported"},
    ErrorText{10047, "Address family not supported by protocol family"},
    ErrorText{10048, "Address already in use"},
    ErrorText{10049, "Address not available"},
    ErrorText{10050, "Network is down"},
    ErrorText{10051, "Network is unreachable"},
    ErrorText{10052, "Network dropped connection on reset"},
    ErrorText{10053, "Connection aborted"},
    ErrorText{10054, "Connection reset by peer"},
    ErrorText{10055, "No buffer space available"},
    ErrorText{10056, "Socket is already connected"},
    ErrorText{10057, "Socket is not connected"},
    ErrorText{10058, "Can't send after socket shutdown"},
    ErrorText{10059, "Too many references: can't splice"},
    ErrorText{10060, "Connection timed out"},
    ErrorText{10061, "Connection refused"},
    ErrorText{10062, "Too many levels of symbolic links"},
    ErrorText{10063, "File name too long"},
    ErrorText{10064, "Host is down"},
    ErrorText{10065, "No route to host"},
    ErrorText{10066, "Directory not empty"},
    ErrorText{10067, "Too many processes"},
    ErrorText{10068, "Too many users"},
    ErrorText{10069, "Disc quota exceeded"},
    ErrorText{10070, "Stale NFS file handle"},
    ErrorText{10071, "Too many levels of remote in path"},
    ErrorText{10091, "Network sub-system is unusable"},
    ErrorText{10092, "WinSock DLL cannot support this application"},
    ErrorText{10093, "WinSock not initialized"},
    ErrorText{11001, "Host not found"},
    ErrorText{11002, "Non-authoritative host not found"},
    ErrorText{11003, "Non-recoverable error"},
    ErrorText{11004, "No Data"},
};

static_assert(std::is_sorted(kErrorTexts.begin(), kErrorTexts.end(),
                             [](const ErrorText& a, const ErrorText& b) { return a.code < b.code; }));

}  // namespace

std::string SocketErrorText(int code) {
  auto it = std::lower_bound(kErrorTexts.begin(), kErrorTexts.end(), code,
                             [](const ErrorText& e, int c) { return e.code < c; });
  if (it == kErrorTexts.end() || it->code != code) return "Not a WinSock error";
  return it->text;
}

std::string SocketErrorMessage(int code, const std::string& operation) {
  return "Error " + std::to_string(code) + " in function " + operation + "\r\n" + SocketErrorText(code);
}

}  // namespace telorus::socket
