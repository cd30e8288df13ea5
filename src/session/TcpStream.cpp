#include "session/TcpStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>
#include <array>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "dispatch/MainQueue.h"
#include "dispatch/WeakDelivery.h"

namespace vistamo {

namespace {

Error badConfig(std::string text) {
    return gcdAsyncSocketError(TcpStreamError::BadConfigError, std::move(text));
}

uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

// A timeout below zero means none; so does one that is not a number.
bool hasTimeout(double timeoutSeconds) { return timeoutSeconds >= 0; }

}  // namespace

std::shared_ptr<TcpStream> TcpStream::create(std::weak_ptr<TcpStreamDelegate> delegate,
                                             std::shared_ptr<dispatch::Queue> delegateQueue) {
    return std::make_shared<TcpStream>(CreateToken{}, std::move(delegate),
                                       std::move(delegateQueue));
}

TcpStream::TcpStream(CreateToken, std::weak_ptr<TcpStreamDelegate> delegate,
                     std::shared_ptr<dispatch::Queue> delegateQueue)
    : socketQueue(dispatch::SerialQueue::create("tcp stream")),
      delegate(std::move(delegate)),
      delegateQueue(std::move(delegateQueue)) {}

TcpStream::~TcpStream() {
    // Work queued on the socket queue holds this object weakly and so can no longer reach it;
    // timers and the watch are cancelled by their destruction, which must happen on that queue
    // (inline when this is the last reference dropped there). No delegate call follows.
    socketQueue->sync([this] { tearDown(); });
}

// ---- Queues -------------------------------------------------------------------------------

void TcpStream::asyncOnSocketQueue(std::function<void(TcpStream&)> work) {
    if (socketQueue->isCurrent()) {
        work(*this);
        return;
    }
    dispatch::asyncIfAlive(*socketQueue, weak_from_this(), std::move(work));
}

void TcpStream::notifyDelegate(
    std::function<void(TcpStreamDelegate&, const std::shared_ptr<TcpStream>&)> call) {
    if (!delegateQueue) {
        return;
    }
    dispatch::deliverIfAlive(*delegateQueue, weak_from_this(), delegate, std::move(call));
}

// ---- Public operations --------------------------------------------------------------------

void TcpStream::setIPv4PreferredOverIPv6(bool preferred) {
    asyncOnSocketQueue([preferred](TcpStream& socket) {
        socket.config = preferred ? socket.config & ~kPreferIPv6 : socket.config | kPreferIPv6;
    });
}

void TcpStream::setIPv4Enabled(bool enabled) {
    asyncOnSocketQueue([enabled](TcpStream& socket) {
        socket.config = enabled ? socket.config & ~kIPv4Disabled : socket.config | kIPv4Disabled;
    });
}

void TcpStream::setIPv6Enabled(bool enabled) {
    asyncOnSocketQueue([enabled](TcpStream& socket) {
        socket.config = enabled ? socket.config & ~kIPv6Disabled : socket.config | kIPv6Disabled;
    });
}

bool TcpStream::connectToHost(const std::string& host, uint16_t port, double timeoutSeconds,
                              Error* error) {
    std::optional<Error> failure;
    socketQueue->sync([&] {
        if (host.empty()) {
            failure = gcdAsyncSocketError(TcpStreamError::BadParamError,
                                          "Invalid host parameter (nil or \"\"). Should be a "
                                          "domain name or IP address string.");
            return;
        }
        failure = preConnectCheck();
        if (failure) {
            return;
        }
        writeQueue.clear();
        flags |= kSocketStarted;
        const uint64_t attemptIndex = stateIndex;
        // The resolver may wait on the network: it must not hold up the socket queue.
        dispatch::runConcurrently([weakSelf = weak_from_this(), host, port, attemptIndex] {
            HostLookup lookup = lookupHost(host, port, SOCK_STREAM);
            if (const auto self = weakSelf.lock()) {
                self->asyncOnSocketQueue(
                    [attemptIndex, lookup = std::move(lookup)](TcpStream& socket) {
                        socket.lookupFinished(attemptIndex, lookup);
                    });
            }
        });
        startConnectTimeout(timeoutSeconds);
    });
    if (failure) {
        if (error != nullptr) {
            *error = std::move(*failure);
        }
        return false;
    }
    return true;
}

void TcpStream::setReadingHold(std::function<bool(const CommandHeader&)> holdsReading) {
    asyncOnSocketQueue([holdsReading = std::move(holdsReading)](TcpStream& socket) mutable {
        socket.holdsReading = std::move(holdsReading);
    });
}

void TcpStream::resumeReading() {
    asyncOnSocketQueue([](TcpStream& socket) {
        if ((socket.flags & kReadsHeld) != 0) {
            socket.flags &= ~kReadsHeld;
            socket.pumpReads();
        }
    });
}

void TcpStream::setReadSilenceLimit(double seconds) {
    asyncOnSocketQueue([seconds](TcpStream& socket) {
        if ((socket.flags & kSocketStarted) == 0) {
            return;
        }
        socket.readSilenceSeconds = seconds;
        socket.startSilenceCheck();
    });
}

void TcpStream::writeData(Bytes data, double timeoutSeconds, long tag) {
    if (data.empty()) {
        return;
    }
    asyncOnSocketQueue([data = std::move(data), timeoutSeconds, tag](TcpStream& socket) mutable {
        if ((socket.flags & kSocketStarted) == 0) {
            return;
        }
        socket.writeQueue.push_back(
            std::make_unique<PendingWrite>(std::move(data), timeoutSeconds, tag));
        socket.pumpWrites(WritePump::waitForSpace);
    });
}

void TcpStream::disconnect() {
    socketQueue->sync([this] {
        if ((flags & kSocketStarted) == 0) {
            return;
        }
        pumpWrites(WritePump::onlyWhatFitsNow);
        discardUnreadBytes();
        closeOnError(std::nullopt);
    });
}

void TcpStream::discardUnreadBytes() {
    // Closing a TCP socket that still holds received bytes makes the kernel reset the
    // connection instead of ending it, and a peer busy writing to us then loses what we wrote
    // last (the disconnect message). Nothing will read these bytes any more.
    const int fd = openFD();
    if (fd == -1 || (flags & kConnected) == 0) {
        return;
    }
    std::array<uint8_t, 4096> scratch;
    for (size_t discarded = 0; discarded < kMostDiscardedOnClose;) {
        const ssize_t got = ::recv(fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        discarded += static_cast<size_t>(got);
    }
}

std::shared_ptr<void> TcpStream::userData() {
    return socketQueue->syncResult([this] { return userData_; });
}

void TcpStream::setUserData(std::shared_ptr<void> userData) {
    asyncOnSocketQueue([userData = std::move(userData)](TcpStream& socket) mutable {
        socket.userData_ = std::move(userData);
    });
}

void TcpStream::performBlock(const std::function<void()>& block) { socketQueue->sync(block); }

int TcpStream::socketFD() {
    if (!socketQueue->isCurrent()) {
        return -1;
    }
    return openFD();
}

bool TcpStream::isConnected() {
    return socketQueue->syncResult([this] { return (flags & kConnected) != 0; });
}

bool TcpStream::isDisconnected() {
    return socketQueue->syncResult([this] { return (flags & kSocketStarted) == 0; });
}

// ---- Connecting ---------------------------------------------------------------------------

std::optional<Error> TcpStream::preConnectCheck() const {
    if (!delegate.lock()) {
        return badConfig("Attempting to connect without a delegate. Set a delegate first.");
    }
    if (!delegateQueue) {
        return badConfig(
            "Attempting to connect without a delegate queue. Set a delegate queue first.");
    }
    if ((flags & kSocketStarted) != 0) {
        return badConfig(
            "Attempting to connect while connected or accepting connections. Disconnect first.");
    }
    if ((config & kIPv4Disabled) != 0 && (config & kIPv6Disabled) != 0) {
        return badConfig(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    }
    return std::nullopt;
}

void TcpStream::startConnectTimeout(double timeoutSeconds) {
    if (!hasTimeout(timeoutSeconds)) {
        return;
    }
    connectTimer = std::make_unique<dispatch::Timer>(*socketQueue);
    connectTimer->start(timeoutSeconds, [this] {
        closeOnError(gcdAsyncSocketError(TcpStreamError::ConnectTimeoutError));
    });
}

void TcpStream::endConnectTimeout() {
    connectTimer.reset();
    ++stateIndex;
}

void TcpStream::lookupFinished(uint64_t attemptIndex, const HostLookup& lookup) {
    if (attemptIndex != stateIndex) {
        return;  // the attempt timed out or was closed meanwhile
    }
    if (lookup.error) {
        closeOnError(*lookup.error);
        return;
    }
    if (!lookup.address4 && !lookup.address6) {
        closeOnError(
            gcdAsyncSocketError(TcpStreamError::OtherError, "Host has no IPv4 or IPv6 address"));
        return;
    }
    const bool use4 = lookup.address4 && (config & kIPv4Disabled) == 0;
    const bool use6 = lookup.address6 && (config & kIPv6Disabled) == 0;
    if (!use4 && !use6) {
        closeOnError(badConfig((config & kIPv4Disabled) != 0
                                   ? "IPv4 is disabled and the host has no IPv6 address."
                                   : "IPv6 is disabled and the host has no IPv4 address."));
        return;
    }
    if (use4 && !(use6 && (config & kPreferIPv6) != 0)) {
        connectToAddress(reinterpret_cast<const sockaddr*>(&*lookup.address4), sizeof(sockaddr_in));
    } else {
        connectToAddress(reinterpret_cast<const sockaddr*>(&*lookup.address6),
                         sizeof(sockaddr_in6));
    }
}

void TcpStream::connectToAddress(const sockaddr* address, socklen_t length) {
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        const int code = errno;
        closeOnError(posixError(code, "Error in socket() function"));
        return;
    }
    (address->sa_family == AF_INET ? socket4FD : socket6FD) = fd;
    // Linux has no SO_NOSIGPIPE: every send passes MSG_NOSIGNAL instead.

    // The connect completes in the background and is seen as writability, so that no thread
    // blocks on it and a timeout or close simply abandons it.
    const int fileFlags = ::fcntl(fd, F_GETFL);
    if (fileFlags == -1 || ::fcntl(fd, F_SETFL, fileFlags | O_NONBLOCK) == -1) {
        const int code = errno;
        closeOnError(posixError(code, "Error enabling non-blocking IO on socket (fcntl)"));
        return;
    }
    try {
        descriptorWatch = std::make_unique<dispatch::DescriptorWatch>(*socketQueue, fd);
    } catch (const std::system_error& failure) {
        closeOnError(posixError(failure.code().value(), "Error watching the socket (epoll)"));
        return;
    }
    std::memcpy(&connectAddress, address, length);
    connectAddressLength = length;

    if (::connect(fd, address, length) == 0) {
        didConnect();
        return;
    }
    const int code = errno;
    if (code != EINPROGRESS && code != EINTR) {
        closeOnError(posixError(code, "Error in connect() function"));
        return;
    }
    descriptorWatch->waitWritable([this, attemptIndex = stateIndex] {
        int socketError = 0;
        socklen_t size = sizeof socketError;
        if (::getsockopt(openFD(), SOL_SOCKET, SO_ERROR, &socketError, &size) != 0) {
            socketError = errno;
        }
        connectFinished(attemptIndex, socketError);
    });
}

void TcpStream::connectFinished(uint64_t attemptIndex, int socketError) {
    if (attemptIndex != stateIndex) {
        return;
    }
    if (socketError != 0) {
        closeOnError(posixError(socketError, "Error in connect() function"));
        return;
    }
    didConnect();
}

void TcpStream::didConnect() {
    flags |= kConnected;
    endConnectTimeout();
    const std::string host =
        numericHost(reinterpret_cast<const sockaddr*>(&connectAddress), connectAddressLength);
    const uint16_t port = portOf(connectAddress);
    notifyDelegate(
        [host, port](TcpStreamDelegate& receiver, const std::shared_ptr<TcpStream>& socket) {
            receiver.streamConnected(socket, host, port);
        });
    startSilenceCheck();
    pumpReads();
    pumpWrites(WritePump::waitForSpace);
}

// ---- Reading ------------------------------------------------------------------------------

void TcpStream::pumpReads() {
    // Reads what the last readable event announced, then waits for the next one: a camera that
    // never pauses still leaves room for the writes queued meanwhile.
    while ((flags & kConnected) != 0 && (flags & kReadsHeld) == 0) {
        if (socketFDBytesAvailable == 0) {
            break;
        }
        // Never past the part being read, so a body lands in its own buffer without a copy.
        const size_t wanted = std::min(socketFDBytesAvailable, messageReader.bytesWanted());
        int readErrno = 0;
        const ssize_t got = messageReader.fill(wanted, [&](uint8_t* destination, size_t count) {
            const ssize_t result = ::recv(openFD(), destination, count, MSG_DONTWAIT);
            readErrno = result < 0 ? errno : 0;
            return result;
        });
        if (got > 0) {
            socketFDBytesAvailable -= std::min(static_cast<size_t>(got), socketFDBytesAvailable);
            readSinceSilenceCheck = true;
            if (auto message = messageReader.takeMessage()) {
                deliverMessage(std::move(*message));
            }
        } else if (got == 0) {
            flags |= kSocketHasReadEOF;
            socketFDBytesAvailable = 0;
        } else if (readErrno == EAGAIN || readErrno == EWOULDBLOCK) {
            socketFDBytesAvailable = 0;
        } else if (readErrno != EINTR) {
            closeOnError(posixError(readErrno, "Error in read() function"));
            return;
        }
    }
    if ((flags & kConnected) == 0) {
        return;
    }
    // Held or not, the end of the stream is noticed; the messages read before it have gone out.
    if ((flags & kSocketHasReadEOF) != 0) {
        closeOnError(gcdAsyncSocketError(TcpStreamError::ClosedError));
    } else if (socketFDBytesAvailable == 0) {
        watchReadable();
    }
}

void TcpStream::watchReadable() {
    if (descriptorWatch && !descriptorWatch->isWaitingToRead()) {
        descriptorWatch->waitReadable([this] { onReadable(); });
    }
}

void TcpStream::onReadable() {
    socketFDBytesAvailable = dispatch::bytesAvailable(openFD());
    if (socketFDBytesAvailable == 0) {
        // Readable with nothing to read: the peer closed (or reset) the connection. Bytes
        // already received still go to the reads that want them; the close follows.
        flags |= kSocketHasReadEOF;
    }
    pumpReads();
}

void TcpStream::deliverMessage(MessageReader::Message message) {
    if (holdsReading && holdsReading(message.header)) {
        flags |= kReadsHeld;
    }
    notifyDelegate(
        [message = std::move(message), completedAt = std::chrono::steady_clock::now()](
            TcpStreamDelegate& receiver, const std::shared_ptr<TcpStream>& socket) mutable {
            socket->readCompletedAt_ = completedAt;
            receiver.streamMessage(socket, message.header, std::move(message.body));
        });
}

void TcpStream::startSilenceCheck() {
    if (!hasTimeout(readSilenceSeconds) || (flags & kConnected) == 0) {
        silenceTimer.reset();
        return;
    }
    if (!silenceTimer) {
        silenceTimer = std::make_unique<dispatch::Timer>(*socketQueue);
    }
    readSinceSilenceCheck = false;
    silenceTimer->start(readSilenceSeconds, [this] { checkSilence(); });
}

void TcpStream::checkSilence() {
    if (!readSinceSilenceCheck && (flags & kReadsHeld) == 0) {
        closeOnError(gcdAsyncSocketError(TcpStreamError::ReadTimeoutError));
        return;
    }
    startSilenceCheck();
}

// ---- Writing ------------------------------------------------------------------------------

void TcpStream::pumpWrites(WritePump pump) {
    const bool mayWait = pump == WritePump::waitForSpace;
    while ((flags & kConnected) != 0) {
        if (!currentWrite) {
            if (writeQueue.empty()) {
                return;
            }
            currentWrite = std::move(writeQueue.front());
            writeQueue.pop_front();
            startWriteTimeout(currentWrite->timeout);
        }
        if ((flags & kWritesPaused) != 0 && mayWait) {
            return;
        }
        PendingWrite& packet = *currentWrite;
        const ssize_t sent = ::send(openFD(), packet.buffer.data() + packet.bytesDone,
                                    packet.bytesLeft(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            const int code = errno;
            if (code == EINTR) {
                continue;
            }
            if (code != EAGAIN && code != EWOULDBLOCK) {
                closeOnError(posixError(code, "Error in write() function"));
                return;
            }
        } else {
            packet.bytesDone += static_cast<size_t>(sent);
            if (packet.bytesLeft() == 0) {
                completeCurrentWrite();
                continue;
            }
        }
        // The system took less than offered: go on once it has room again.
        if (mayWait && descriptorWatch && !descriptorWatch->isWaitingToWrite()) {
            descriptorWatch->waitWritable([this] { pumpWrites(WritePump::waitForSpace); });
        }
        return;
    }
}

void TcpStream::completeCurrentWrite() {
    writeTimer.reset();
    const long tag = currentWrite->tag;
    currentWrite.reset();
    notifyDelegate([tag](TcpStreamDelegate& receiver, const std::shared_ptr<TcpStream>& socket) {
        receiver.streamWrote(socket, tag);
    });
}

// ---- Write timeouts -----------------------------------------------------------------------

void TcpStream::startWriteTimeout(double timeoutSeconds) {
    if (!hasTimeout(timeoutSeconds)) {
        return;
    }
    writeTimer = std::make_unique<dispatch::Timer>(*socketQueue);
    writeTimer->start(timeoutSeconds, [this] { askWriteTimeout(); });
}

void TcpStream::askWriteTimeout() {
    // Writing pauses while the delegate decides, so the write cannot complete meanwhile. The
    // question goes out asynchronously: the delegate queue may itself be waiting on this one.
    flags |= kWritesPaused;
    const long tag = currentWrite->tag;
    const double elapsed = currentWrite->timeout;
    const size_t bytesDone = currentWrite->bytesDone;
    delegateQueue->async([weakSelf = weak_from_this(), weakDelegate = delegate, tag, elapsed,
                          bytesDone, attemptIndex = stateIndex] {
        const auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        double extension = 0;
        if (const auto receiver = weakDelegate.lock()) {
            extension = receiver->writeTimeoutExtension(self, tag, elapsed, bytesDone);
        }
        self->asyncOnSocketQueue([attemptIndex, extension](TcpStream& socket) {
            socket.writeTimedOut(attemptIndex, extension);
        });
    });
}

void TcpStream::writeTimedOut(uint64_t attemptIndex, double extension) {
    if (attemptIndex != stateIndex || !currentWrite || (flags & kWritesPaused) == 0) {
        return;  // closed meanwhile
    }
    if (!(extension > 0)) {
        closeOnError(gcdAsyncSocketError(TcpStreamError::WriteTimeoutError));
        return;
    }
    currentWrite->timeout += extension;
    startWriteTimeout(extension);
    flags &= ~kWritesPaused;
    pumpWrites(WritePump::waitForSpace);
}

// ---- Closing ------------------------------------------------------------------------------

void TcpStream::closeOnError(std::optional<Error> error) {
    if (!tearDown()) {
        return;
    }
    notifyDelegate([error = std::move(error)](TcpStreamDelegate& receiver,
                                              const std::shared_ptr<TcpStream>& socket) {
        receiver.streamClosed(socket, error);
    });
}

bool TcpStream::tearDown() {
    endConnectTimeout();
    writeTimer.reset();
    silenceTimer.reset();
    readSilenceSeconds = -1;
    currentWrite.reset();
    writeQueue.clear();
    messageReader = MessageReader();
    // The watch lets go of the descriptor before it is closed.
    descriptorWatch.reset();
    for (int* fd : {&socket4FD, &socket6FD}) {
        if (*fd != -1) {
            ::close(*fd);
            *fd = -1;
        }
    }
    socketFDBytesAvailable = 0;
    const bool started = (flags & kSocketStarted) != 0;
    flags = 0;
    return started;
}

}  // namespace vistamo
