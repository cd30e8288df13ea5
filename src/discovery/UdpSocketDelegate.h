#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Bytes.h"
#include "platform/Error.h"

namespace vistamo {

class UdpSocket;

// Receiver of a UdpSocket's results. Every operation is optional: the defaults do
// nothing.
//
// Threads: each call runs on the delegate queue given to UdpSocket::create, never on the
// socket's own queue, so a delegate may call back into the socket from any of them. Calls arrive
// one at a time in the order the socket produced them. The socket holds its delegate weakly; a
// delegate that is gone, or a socket that its owners dropped, gets no further calls. Arguments
// are valid for the duration of the call; the socket reference may be kept.
class UdpSocketDelegate {
public:
    virtual ~UdpSocketDelegate() = default;

    // One datagram went out.
    virtual void datagramSent(const std::shared_ptr<UdpSocket>& /*sock*/, int64_t /*tag*/) {}

    // One datagram was not sent: its host did not resolve, no usable address family was found
    // for it, or its send timeout fired. The socket goes on with the next one.
    virtual void datagramNotSent(const std::shared_ptr<UdpSocket>& /*sock*/, int64_t /*tag*/,
                                 const Error& /*error*/) {}

    // One datagram arrived: its bytes (at most the socket's receive limit; longer datagrams are
    // cut) and the sender's socket address (a sockaddr_in or sockaddr_in6, see getHost). The
    // filter context is always empty: this socket has no receive filter.
    virtual void datagramReceived(const std::shared_ptr<UdpSocket>& /*sock*/, Bytes /*data*/,
                                  Bytes /*address*/,
                                  const std::shared_ptr<void>& /*filterContext*/) {}

    // A socket that had opened descriptors closed: `error` is empty after `close`, otherwise the
    // failure that closed it. Not called when the socket is destroyed.
    virtual void socketClosed(const std::shared_ptr<UdpSocket>& /*sock*/,
                              const std::optional<Error>& /*error*/) {}
};

}  // namespace vistamo
