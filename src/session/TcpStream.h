#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/DescriptorWatch.h"
#include "dispatch/Queue.h"
#include "dispatch/SerialQueue.h"
#include "dispatch/Timer.h"
#include "platform/Bytes.h"
#include "platform/Error.h"
#include "platform/HostLookup.h"
#include "session/PendingRead.h"
#include "session/PendingWrite.h"
#include "session/TcpStreamDelegate.h"
#include "session/TcpStreamError.h"

namespace vistamo {

// An asynchronous TCP client socket. Every system call runs on the socket's own serial queue
// ("TcpStream"); callers queue reads and writes from any thread; results reach the
// delegate on the delegate queue (see TcpStreamDelegate).
//
// A timeout in seconds below zero means none. Reads and writes complete in the order they were
// queued, each exactly once, unless the socket closes first; closing drops what is pending.
//
// Lifetime: owned through std::shared_ptr. Dropping the last reference closes the descriptor at
// once, without a delegate call, and joins the socket queue's thread; that may happen on any
// thread, the delegate queue and the socket queue included. The destructor and the operations
// that return a result wait for the socket queue; a performBlock block therefore must not wait
// for the delegate queue, which may itself be waiting for the socket.
class TcpStream : public std::enable_shared_from_this<TcpStream> {
    struct CreateToken {};

public:
    static std::shared_ptr<TcpStream> create(std::weak_ptr<TcpStreamDelegate> delegate,
                                             std::shared_ptr<dispatch::Queue> delegateQueue);
    TcpStream(CreateToken, std::weak_ptr<TcpStreamDelegate> delegate,
              std::shared_ptr<dispatch::Queue> delegateQueue);
    ~TcpStream();

    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Address family choice for hosts that have both (IPv4 by default). Like the two below, it
    // takes effect for connection attempts started after the call.
    void setIPv4PreferredOverIPv6(bool preferred);
    void setIPv4Enabled(bool enabled);
    void setIPv6Enabled(bool enabled);

    // Starts connecting; the outcome arrives as streamConnected or streamClosed.
    // Returns false, with `error` filled in when given, when the attempt cannot start: an empty
    // host, no delegate or delegate queue, an attempt or connection already running, or both
    // address families disabled.
    bool connectToHost(const std::string& host, uint16_t port, double timeoutSeconds, Error* error);

    // Queues a read of exactly `length` bytes (0 is ignored). Only while a connection attempt
    // runs or the socket is connected; reads queued at any other time are dropped.
    void readDataToLength(uint64_t length, double timeoutSeconds, long tag);

    // Queues a write (empty data is ignored), under the same condition as reads. Writes queued
    // while connecting go out once connected.
    void writeData(Bytes data, double timeoutSeconds, long tag);

    // Closes at once, with no error. Queued writes get one attempt that does not wait: what the
    // system takes at that moment goes out, the rest is dropped. Work handed to the socket before
    // this call runs first.
    void disconnect();

    // The owner's object kept with the socket. A value set and then read from the same thread is
    // always the one set.
    std::shared_ptr<void> userData();
    void setUserData(std::shared_ptr<void> userData);

    // Runs `block` on the socket queue and returns when it has run.
    void performBlock(const std::function<void()>& block);

    // The open descriptor (IPv4 first, else IPv6), or -1. Only meaningful inside performBlock:
    // called from anywhere else it returns -1.
    int socketFD();

    bool isConnected();
    // When the socket's queue completed the read being delivered. Delegate queue, inside
    // streamRead only; costs one clock reading per completed read.
    std::chrono::steady_clock::time_point readCompletedAt() const { return readCompletedAt_; }

    // True while no connection attempt has started or after the socket closed.
    bool isDisconnected();

private:
    enum Flag : uint32_t {
        kSocketStarted = 1u << 0,  // a connection attempt has begun
        kConnected = 1u << 1,
        kReadsPaused = 1u << 2,       // waiting for the delegate's answer to a read timeout
        kWritesPaused = 1u << 3,      // the same for a write timeout
        kSocketHasReadEOF = 1u << 4,  // the peer closed its side
    };
    enum Config : uint32_t {
        kIPv4Disabled = 1u << 0,
        kIPv6Disabled = 1u << 1,
        kPreferIPv6 = 1u << 2,
    };
    // How far a round of writing goes.
    enum class WritePump { waitForSpace, onlyWhatFitsNow };
    enum class Direction { reading, writing };

    // Runs `work` on the socket queue: inline when already there, otherwise later (and not at
    // all once the socket is gone).
    void asyncOnSocketQueue(std::function<void(TcpStream&)> work);
    // Hands a call to the delegate queue; dropped there when the delegate or the socket is gone.
    void notifyDelegate(
        std::function<void(TcpStreamDelegate&, const std::shared_ptr<TcpStream>&)> call);

    // Connecting.
    std::optional<Error> preConnectCheck() const;
    void startConnectTimeout(double timeoutSeconds);
    void endConnectTimeout();
    void lookupFinished(uint64_t attemptIndex, const HostLookup& lookup);
    void connectToAddress(const sockaddr* address, socklen_t length);
    void connectFinished(uint64_t attemptIndex, int socketError);
    void didConnect();

    // Reading.
    void pumpReads();
    void onReadable();
    void watchReadable();
    void completeCurrentRead();

    // Writing.
    void pumpWrites(WritePump pump);
    void completeCurrentWrite();

    // Timeouts of the current read or write.
    void startTimeout(Direction direction, double timeoutSeconds);
    void doTimeout(Direction direction);
    void timeOut(Direction direction, uint64_t attemptIndex, double extension);

    // Closing.
    void closeOnError(std::optional<Error> error);
    // Reads and drops what the peer sent that nobody asked for, before an orderly close.
    void discardUnreadBytes();
    static constexpr size_t kMostDiscardedOnClose = 16 * 1024 * 1024;
    // Releases the connection's resources and clears the state; returns whether an attempt had
    // started (and so whether the delegate must hear of the close).
    bool tearDown();

    int openFD() const { return socket4FD != -1 ? socket4FD : socket6FD; }

    // Set once at creation; read from any thread. Declared first so that it goes last: the
    // timers and the watch below belong to its thread.
    const std::shared_ptr<dispatch::SerialQueue> socketQueue;
    const std::weak_ptr<TcpStreamDelegate> delegate;
    const std::shared_ptr<dispatch::Queue> delegateQueue;

    // Socket queue only.
    int socket4FD = -1;
    int socket6FD = -1;
    uint32_t flags = 0;
    uint32_t config = 0;
    // Raised whenever a connection attempt ends (connected, timed out or closed); a lookup,
    // connect or timeout answer that carries an older value is stale and ignored.
    uint64_t stateIndex = 0;
    std::deque<std::unique_ptr<PendingRead>> readQueue;
    std::deque<std::unique_ptr<PendingWrite>> writeQueue;
    std::unique_ptr<PendingRead> currentRead;
    std::unique_ptr<PendingWrite> currentWrite;
    // Readiness of the open descriptor in both directions: the connect's completion, then the
    // read and write events. Present while a descriptor is open.
    std::unique_ptr<dispatch::DescriptorWatch> descriptorWatch;
    // Present only while the timeout concerned runs or waits for the delegate's answer.
    std::unique_ptr<dispatch::Timer> connectTimer;
    std::unique_ptr<dispatch::Timer> readTimer;
    std::unique_ptr<dispatch::Timer> writeTimer;
    // Bytes received ahead of the current read, taken before the descriptor's; closing resets
    // it. Reads ask the descriptor for no more than the current packet still wants, so only
    // read-ahead would fill it.
    Bytes preBuffer;
    // What the descriptor had to read at the last readable event, less what was read since.
    size_t socketFDBytesAvailable = 0;
    // The address being connected to, for streamConnected.
    sockaddr_storage connectAddress{};
    socklen_t connectAddressLength = 0;
    std::shared_ptr<void> userData_;

    // Delegate queue only: set just before each streamRead.
    std::chrono::steady_clock::time_point readCompletedAt_{};
};

}  // namespace vistamo
