#include "session/TcpStreamError.h"

#include <netdb.h>

namespace vistamo {

Error gcdAsyncSocketError(TcpStreamError code, std::string text) {
    switch (code) {
        case TcpStreamError::ConnectTimeoutError:
            text = "Attempt to connect to host timed out";
            break;
        case TcpStreamError::ReadTimeoutError:
            text = "Read operation timed out";
            break;
        case TcpStreamError::WriteTimeoutError:
            text = "Write operation timed out";
            break;
        case TcpStreamError::ReadMaxedOutError:
            text = "Read operation reached set maximum length";
            break;
        case TcpStreamError::ClosedError:
            text = "Socket closed by remote peer";
            break;
        case TcpStreamError::BadConfigError:
        case TcpStreamError::BadParamError:
        case TcpStreamError::OtherError:
            break;
    }
    return Error{kTcpStreamErrorDomain, static_cast<long>(code), std::move(text), {}};
}

}  // namespace vistamo
