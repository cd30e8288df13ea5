#include "session/GCDAsyncSocketError.h"

#include <netdb.h>

namespace vistamo {

Error gcdAsyncSocketError(GCDAsyncSocketError code, std::string text) {
    switch (code) {
        case GCDAsyncSocketError::ConnectTimeoutError:
            text = "Attempt to connect to host timed out";
            break;
        case GCDAsyncSocketError::ReadTimeoutError:
            text = "Read operation timed out";
            break;
        case GCDAsyncSocketError::WriteTimeoutError:
            text = "Write operation timed out";
            break;
        case GCDAsyncSocketError::ReadMaxedOutError:
            text = "Read operation reached set maximum length";
            break;
        case GCDAsyncSocketError::ClosedError:
            text = "Socket closed by remote peer";
            break;
        case GCDAsyncSocketError::BadConfigError:
        case GCDAsyncSocketError::BadParamError:
        case GCDAsyncSocketError::OtherError:
            break;
    }
    return Error{kGCDAsyncSocketErrorDomain, static_cast<long>(code), std::move(text), {}};
}

}  // namespace vistamo
