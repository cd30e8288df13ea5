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
#include "session/CommandHeader.h"
#include "session/MessageReader.h"
#include "session/PendingWrite.h"
#include "session/TcpStreamDelegate.h"
#include "session/TcpStreamError.h"

namespace vistamo {

// An asynchronous TCP client socket that reads the camera's message stream. Every system call
// runs on the socket's own serial queue ("tcp stream"). Once connected it reads by itself:
// MessageReader cuts the bytes into messages, and each whole message goes to the delegate
// (streamMessage), one way, in the order the camera sent them; nobody asks for the next one.
// Callers queue writes from any thread; results reach the delegate on the delegate queue (see
// TcpStreamDelegate).
//
// A timeout in seconds below zero means none. Writes complete in the order they were queued,
// each exactly once, unless the socket closes first; closing drops what is pending.
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

    // Says after which messages reading stops until resumeReading: those whose handling waits
    // (for the user, say), so that nothing is read past them meanwhile. Any thread; takes effect
    // for messages read after the call. Without it reading never stops.
    void setReadingHold(std::function<bool(const CommandHeader&)> holdsReading);
    // Reads on after a message that stopped reading. Any thread.
    void resumeReading();
    // A connection that brings no byte for this long (checked every `seconds`, so the silence
    // lasts at most twice as long) closes with a read timeout. Any thread; for the current
    // connection only (each starts without a limit); negative: no limit. Reading that stopped
    // after a message counts as no silence.
    void setReadSilenceLimit(double seconds);

    // Queues a write (empty data is ignored), only while a connection attempt runs or the socket
    // is connected; writes queued at any other time are dropped. Writes queued while connecting
    // go out once connected.
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
    // When the socket's queue completed reading the message being delivered. Delegate queue,
    // inside streamMessage only; costs one clock reading per message.
    std::chrono::steady_clock::time_point readCompletedAt() const { return readCompletedAt_; }

    // True while no connection attempt has started or after the socket closed.
    bool isDisconnected();

private:
    enum Flag : uint32_t {
        kSocketStarted = 1u << 0,  // a connection attempt has begun
        kConnected = 1u << 1,
        kReadsHeld = 1u << 2,         // a message stopped reading until resumeReading
        kWritesPaused = 1u << 3,      // waiting for the delegate's answer to a write timeout
        kSocketHasReadEOF = 1u << 4,  // the peer closed its side
    };
    enum Config : uint32_t {
        kIPv4Disabled = 1u << 0,
        kIPv6Disabled = 1u << 1,
        kPreferIPv6 = 1u << 2,
    };
    // How far a round of writing goes.
    enum class WritePump { waitForSpace, onlyWhatFitsNow };

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
    void deliverMessage(MessageReader::Message message);
    void startSilenceCheck();
    void checkSilence();

    // Writing.
    void pumpWrites(WritePump pump);
    void completeCurrentWrite();

    // Timeouts of the current write.
    void startWriteTimeout(double timeoutSeconds);
    void askWriteTimeout();
    void writeTimedOut(uint64_t attemptIndex, double extension);

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
    // The connection's message being read; a fresh one for each connection.
    MessageReader messageReader;
    // From setReadingHold; kept across connections.
    std::function<bool(const CommandHeader&)> holdsReading;
    std::deque<std::unique_ptr<PendingWrite>> writeQueue;
    std::unique_ptr<PendingWrite> currentWrite;
    // Readiness of the open descriptor in both directions: the connect's completion, then the
    // read and write events. Present while a descriptor is open.
    std::unique_ptr<dispatch::DescriptorWatch> descriptorWatch;
    // Present only while the timeout concerned runs or waits for the delegate's answer.
    std::unique_ptr<dispatch::Timer> connectTimer;
    std::unique_ptr<dispatch::Timer> writeTimer;
    // The read silence limit of this connection (negative: none), its check, and whether a byte
    // arrived since the check last ran.
    double readSilenceSeconds = -1;
    std::unique_ptr<dispatch::Timer> silenceTimer;
    bool readSinceSilenceCheck = false;
    // What the descriptor had to read at the last readable event, less what was read since.
    size_t socketFDBytesAvailable = 0;
    // The address being connected to, for streamConnected.
    sockaddr_storage connectAddress{};
    socklen_t connectAddressLength = 0;
    std::shared_ptr<void> userData_;

    // Delegate queue only: set just before each streamMessage.
    std::chrono::steady_clock::time_point readCompletedAt_{};
};

}  // namespace vistamo
