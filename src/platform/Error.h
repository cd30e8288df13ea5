#pragma once

#include <string>

namespace vistamo {

// An error as the sockets and settings report it: a domain, a code within it, a text for
// people and, for failed system calls, the reason (which call failed).
struct Error {
    std::string domain;
    long code = 0;
    std::string description;
    std::string reason;
};

inline constexpr const char* kPosixErrorDomain = "posix";

// An error in the POSIX domain for the current errno, with the given reason.
Error posixError(int errnoValue, std::string reason);

}  // namespace vistamo
