#pragma once

#include <asio/ip/tcp.hpp>
#include <deque>
#include <memory>
#include <string>
#include <system_error>

#include "platform/Bytes.h"
#include "session/CommandHeader.h"
#include "session/SessionChallenge.h"

namespace vistamo::camera {

// What the camera tells every client about itself, and the password it wants. Set once before
// the camera starts.
struct CameraIdentity {
    std::string uuid;
    std::string name;
    std::string password;
};

// One client's session with the camera: challenges the client, checks its password, reads its
// messages with the receiver's framing rules and prints each one. What concerns the camera as a
// whole (state commands, the end of the session) goes to the delegate.
//
// Framing: a header whose type is not 1, or whose length is below 24 or above 0x400000, is
// skipped and the next 24 bytes are read as a header; nothing else about a header is trusted.
// A known code in the wrong form (body where none belongs, or none where one does) is ignored.
//
// Threads: everything runs on the camera's one thread (the socket's io_context). The object
// lives while its owner holds it or a read or write is outstanding.
class CameraConnection : public std::enable_shared_from_this<CameraConnection> {
public:
    // Held weakly; every operation is optional and does nothing by default.
    class Delegate {
    public:
        virtual ~Delegate() = default;
        // The client passed the password check (the camera has just sent 9).
        virtual void clientVerified(CameraConnection& connection) { (void)connection; }
        // A command about the camera itself arrived: 6, 7, 16, 27, 28 or 29, without body.
        virtual void cameraCommand(CameraConnection& connection, const CommandHeader& header) {
            (void)connection, (void)header;
        }
        // The client sent 104 (intercom audio); `packet` is the body, valid during the call.
        virtual void intercomAudio(CameraConnection& connection, ByteView packet) {
            (void)connection, (void)packet;
        }
        // The connection is closed, by either side; the last call about it.
        virtual void connectionClosed(CameraConnection& connection) { (void)connection; }
    };

    CameraConnection(asio::ip::tcp::socket socket, int number, CameraIdentity identity,
                     std::weak_ptr<Delegate> delegate);

    CameraConnection(const CameraConnection&) = delete;
    CameraConnection& operator=(const CameraConnection&) = delete;

    // Prints where the client is from, challenges it and starts reading. Call once.
    void start();

    // Queues a whole message (from makeMessage); printed as "send ...". Dropped once closing.
    void sendMessage(Bytes message);
    // Queues bytes that need not form a message; printed as "send raw ...".
    void sendRaw(Bytes bytes);
    // A new challenge: fresh challenge state, then 1 (block, identity, name) and 50.
    void challenge();
    // A header announcing a 100-byte body, 10 bytes of that body, then close.
    void closeMidBody();
    enum class CloseMode {
        AfterQueuedWrites,  // a client that does not read can hold this up
        Now,                // what is queued is dropped
    };
    // Prints "closed" once the socket is closed.
    void close(CloseMode mode = CloseMode::AfterQueuedWrites);

    // The connection's number in the printed lines, from 1.
    int number() const { return number_; }
    bool isOpen() const { return phase_ == Phase::Open; }
    // Whether the client's last answer to a challenge had the right password.
    bool verified() const { return verified_; }

private:
    enum class Phase { Open, Closing, Closed };
    enum class Closer { Camera, Peer };

    void readHeader();
    void headerRead(const std::error_code& error);
    void bodyRead(const std::error_code& error);
    void handleMessage(const CommandHeader& header);
    void checkResponse();
    void readClientChallenge();
    void queue(Bytes bytes);
    void writeNext();
    void failed(const std::error_code& error);
    void finishClose(Closer closer);

    // Set once at construction.
    const int number_;
    const CameraIdentity identity_;
    const std::weak_ptr<Delegate> delegate_;

    // The camera's thread only.
    asio::ip::tcp::socket socket_;
    Phase phase_ = Phase::Open;
    bool verified_ = false;
    // The challenge this client must answer; replaced by every new challenge.
    std::unique_ptr<SessionChallenge> challenge_;
    // The message being read, header first. Its size is what the outstanding read fills.
    Bytes readBuffer_;
    // Messages waiting to be written; the front one is being written while `writing_`.
    std::deque<Bytes> writeQueue_;
    size_t queuedBytes_ = 0;
    bool writing_ = false;
};

}  // namespace vistamo::camera
