#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"
#include "platform/Error.h"
#include "session/CommandHeader.h"

namespace vistamo {

class TcpStream;

// Receiver of a TcpStream's results. Every operation is optional: the defaults do nothing
// (and the timeout question answers 0, "do not extend").
//
// Threads: each call runs on the delegate queue given to TcpStream::create, never on the
// socket's own queue, and calls arrive one at a time in the order the socket produced them. The
// socket holds its delegate weakly; a delegate that is gone, or a socket that its owners dropped,
// gets no further calls. Arguments are valid for the duration of the call; the socket reference
// may be kept.
class TcpStreamDelegate {
public:
    virtual ~TcpStreamDelegate() = default;

    // The connection is up; `host` is the numeric address connected to.
    virtual void streamConnected(const std::shared_ptr<TcpStream>& /*sock*/,
                                 const std::string& /*host*/, uint16_t /*port*/) {}

    // One whole message of the camera's stream: its checked header and the body it announced
    // (empty for a header-only message).
    virtual void streamMessage(const std::shared_ptr<TcpStream>& /*sock*/,
                               const CommandHeader& /*header*/, Bytes /*body*/) {}

    // One write has been handed to the system completely.
    virtual void streamWrote(const std::shared_ptr<TcpStream>& /*sock*/, long /*tag*/) {}

    // The socket closed: `error` is empty after `disconnect`. Sent once for every connection
    // attempt that started, including attempts that failed or timed out.
    virtual void streamClosed(const std::shared_ptr<TcpStream>& /*sock*/,
                              const std::optional<Error>& /*error*/) {}

    // Asked when the current write's timeout fires; `elapsed` is the time it has been given so
    // far. A positive answer gives the write that many more seconds; otherwise the socket closes
    // with a write timeout. Writing pauses until the answer is back.
    virtual double writeTimeoutExtension(const std::shared_ptr<TcpStream>& /*sock*/, long /*tag*/,
                                         double /*elapsed*/, size_t /*bytesDone*/) {
        return 0;
    }
};

}  // namespace vistamo
