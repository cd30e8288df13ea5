#pragma once

#include <string>

#include "platform/Error.h"
#include "platform/HostLookup.h"

namespace vistamo {

inline constexpr const char* kTcpStreamErrorDomain = "tcp stream";
// Name-resolution failures: the resolver's (getaddrinfo) code and message.
inline constexpr const char* kTcpStreamNetDBErrorDomain = kNetDBErrorDomain;

// Codes of the socket's own errors in kTcpStreamErrorDomain.
enum class TcpStreamError : long {
    BadConfigError = 1,
    BadParamError = 2,
    ConnectTimeoutError = 3,
    ReadTimeoutError = 4,
    WriteTimeoutError = 5,
    ReadMaxedOutError = 6,
    ClosedError = 7,
    OtherError = 8,
};

// An error of the socket's own domain. Codes 3 to 7 have a fixed text and ignore `text`; codes
// 1, 2 and 8 carry the text given.
Error gcdAsyncSocketError(TcpStreamError code, std::string text = {});

}  // namespace vistamo
