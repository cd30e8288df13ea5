#include "platform/Error.h"

#include <cstring>

namespace vistamo {

Error posixError(int errnoValue, std::string reason) {
    return Error{kPosixErrorDomain, errnoValue, std::strerror(errnoValue), std::move(reason)};
}

}  // namespace vistamo
