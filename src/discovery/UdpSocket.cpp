#include "discovery/UdpSocket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dispatch/MainQueue.h"
#include "dispatch/WeakDelivery.h"
#include "platform/Log.h"

namespace vistamo {

// One queued datagram. Filled in by sendData, then owned by the socket and touched on its queue
// only.
struct PendingDatagram {
    Bytes buffer;
    double timeout = -1;
    int64_t tag = 0;
    bool resolveInProgress = false;
    std::optional<sockaddr_in> resolvedAddress4;
    std::optional<sockaddr_in6> resolvedAddress6;
    std::optional<Error> resolveError;
    // The address chosen among the resolved ones; AF_UNSPEC until chosen, which happens right
    // before the first attempt to send.
    int addressFamily = AF_UNSPEC;
    sockaddr_storage address{};
    socklen_t addressLength = 0;
};

namespace {

// Datagrams handed to the delegate queue and not yet delivered, at most.
constexpr size_t kMaxPendingDeliveries = 64;

Error badConfig(std::string text) {
    return gcdAsyncUdpSocketError(UdpSocketError::BadConfigError, std::move(text));
}

Error otherError(std::string text) {
    return gcdAsyncUdpSocketError(UdpSocketError::OtherError, std::move(text));
}

}  // namespace

// ---- Lifetime -----------------------------------------------------------------------------

std::shared_ptr<UdpSocket> UdpSocket::create(std::weak_ptr<UdpSocketDelegate> delegate,
                                             std::shared_ptr<dispatch::Queue> delegateQueue) {
    return std::make_shared<UdpSocket>(CreateToken{}, std::move(delegate),
                                       std::move(delegateQueue));
}

UdpSocket::UdpSocket(CreateToken, std::weak_ptr<UdpSocketDelegate> delegate,
                     std::shared_ptr<dispatch::Queue> delegateQueue)
    : socketQueue(dispatch::SerialQueue::create("udp socket")),
      delegate(std::move(delegate)),
      delegateQueue(std::move(delegateQueue)),
      receiveBuffer(std::max<size_t>(max4ReceiveSize, max6ReceiveSize)) {}

UdpSocket::~UdpSocket() {
    // Work queued on the socket queue holds this object weakly and so can no longer reach it;
    // the timer and the watches go with their owners, which must happen on that queue (inline
    // when this is the last reference dropped there). No delegate call follows.
    socketQueue->sync([this] { tearDown(); });
}

void UdpSocket::Descriptor::reset() {
    // The watch lets go of the descriptor before it closes.
    watch.reset();
    if (fd != -1) {
        ::close(fd);
        fd = -1;
    }
    mayRead = false;
}

// ---- Queues -------------------------------------------------------------------------------

void UdpSocket::asyncOnSocketQueue(std::function<void(UdpSocket&)> work) {
    if (socketQueue->isCurrent()) {
        work(*this);
        return;
    }
    postToSocketQueue(std::move(work));
}

void UdpSocket::postToSocketQueue(std::function<void(UdpSocket&)> work) {
    dispatch::asyncIfAlive(*socketQueue, weak_from_this(), std::move(work));
}

void UdpSocket::notifyDelegate(
    std::function<void(UdpSocketDelegate&, const std::shared_ptr<UdpSocket>&)> call) {
    if (!delegateQueue) {
        return;
    }
    dispatch::deliverIfAlive(*delegateQueue, weak_from_this(), delegate, std::move(call));
}

// ---- Public operations --------------------------------------------------------------------

void UdpSocket::setIPv4Enabled(bool enabled) {
    asyncOnSocketQueue([enabled](UdpSocket& socket) {
        socket.config = static_cast<uint16_t>(enabled ? socket.config & ~kIPv4Disabled
                                                      : socket.config | kIPv4Disabled);
    });
}

void UdpSocket::setIPv6Enabled(bool enabled) {
    asyncOnSocketQueue([enabled](UdpSocket& socket) {
        socket.config = static_cast<uint16_t>(enabled ? socket.config & ~kIPv6Disabled
                                                      : socket.config | kIPv6Disabled);
    });
}

void UdpSocket::setPreferIPv6() {
    asyncOnSocketQueue([](UdpSocket& socket) {
        socket.config = static_cast<uint16_t>((socket.config & ~kPreferIPv4) | kPreferIPv6);
    });
}

bool UdpSocket::beginReceiving(Error* error) {
    std::optional<Error> failure;
    socketQueue->sync([&] {
        failure = preOperationCheck();
        if (failure) {
            return;
        }
        if ((flags & kBound) == 0) {
            failure = badConfig(
                "Must bind socket before you can receive data. You can do this explicitly via "
                "bind, or implicitly via connect or by sending data.");
            return;
        }
        if ((flags & kReceiveContinuous) != 0) {
            return;
        }
        flags |= kReceiveContinuous;
        // Whatever arrived before now is read without waiting for an event.
        socket4.mayRead = socket4.isOpen();
        socket6.mayRead = socket6.isOpen();
        doReceive();
    });
    return report(failure, error);
}

void UdpSocket::sendData(Bytes data, const std::string& host, uint16_t port, double timeoutSeconds,
                         int64_t tag) {
    if (data.empty()) {
        return;
    }
    auto packet = std::make_shared<PendingDatagram>();
    packet->buffer = std::move(data);
    packet->timeout = timeoutSeconds;
    packet->tag = tag;
    if (host.empty()) {
        packet->resolveError =
            gcdAsyncUdpSocketError(UdpSocketError::BadParamError,
                                   "The host param is nil. Should be domain name or IP address "
                                   "string.");
    } else {
        packet->resolveInProgress = true;
    }
    asyncOnSocketQueue([packet, host, port](UdpSocket& socket) {
        socket.sendQueue.push_back(packet);
        if (packet->resolveInProgress) {
            // The resolver may wait on the network: it must not hold up the socket queue.
            dispatch::runConcurrently([weakSelf = socket.weak_from_this(), packet, host, port] {
                Resolution result = resolveHost(host, port);
                if (const auto self = weakSelf.lock()) {
                    self->postToSocketQueue([packet, result = std::move(result)](UdpSocket& owner) {
                        owner.resolutionFinished(packet, result);
                    });
                }
            });
        }
        socket.maybeDequeueSend();
    });
}

void UdpSocket::close() {
    socketQueue->sync([this] { closeOnError(std::nullopt); });
}

void UdpSocket::performBlock(const std::function<void()>& block) { socketQueue->sync(block); }

int UdpSocket::socketFD() {
    if (!socketQueue->isCurrent()) {
        return -1;
    }
    return socket4.isOpen() ? socket4.fd : socket6.fd;
}

int UdpSocket::socket4FD() { return socketQueue->isCurrent() ? socket4.fd : -1; }

int UdpSocket::socket6FD() { return socketQueue->isCurrent() ? socket6.fd : -1; }

// ---- Sending ------------------------------------------------------------------------------

void UdpSocket::deactivate(int family) {
    if (family == AF_INET) {
        socket4.reset();
        flags |= kIPv4Deactivated;
    } else {
        socket6.reset();
        flags |= kIPv6Deactivated;
    }
    // A datagram waiting for room on that descriptor chooses its address again.
    if (currentSend && currentSend->addressFamily == family) {
        currentSend->addressFamily = AF_UNSPEC;
        doPreSend();
    }
}

bool UdpSocket::isUsable(int family) const {
    if (family == AF_INET) {
        return (config & kIPv4Disabled) == 0 && (flags & kIPv4Deactivated) == 0 && socket4.isOpen();
    }
    return (config & kIPv6Disabled) == 0 && (flags & kIPv6Deactivated) == 0 && socket6.isOpen();
}

void UdpSocket::maybeDequeueSend() {
    if (currentSend || sendQueue.empty()) {
        return;
    }
    if (!openSocketsForSending()) {
        return;
    }
    currentSend = sendQueue.front();
    sendQueue.pop_front();
    if (!currentSend->resolveInProgress) {
        doPreSend();
    }
}

bool UdpSocket::openSocketsForSending() {
    if ((flags & kSocketsCreated) != 0) {
        return true;
    }
    // With both families disabled there is nothing to open; the address choice says so.
    if (auto failure =
            createSockets((config & kIPv4Disabled) == 0, (config & kIPv6Disabled) == 0)) {
        closeOnError(std::move(failure));
        return false;
    }
    return true;
}

void UdpSocket::resolutionFinished(const std::shared_ptr<PendingDatagram>& packet,
                                   Resolution result) {
    packet->resolveInProgress = false;
    packet->resolvedAddress4 = result.address4;
    packet->resolvedAddress6 = result.address6;
    packet->resolveError = std::move(result.error);
    // A packet that a close dropped meanwhile is neither current nor queued any more.
    if (packet == currentSend) {
        doPreSend();
    }
}

void UdpSocket::doPreSend() {
    PendingDatagram& packet = *currentSend;
    if (packet.resolveError) {
        reportNotSent(*packet.resolveError);
        return;
    }
    if (!openSocketsForSending()) {
        return;
    }
    if (auto failure = chooseAddress(packet)) {
        reportNotSent(std::move(*failure));
        return;
    }
    doSend();
}

std::optional<Error> UdpSocket::chooseAddress(PendingDatagram& packet) const {
    if ((config & kIPv4Disabled) != 0 && (config & kIPv6Disabled) != 0) {
        return badConfig(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    }
    const bool found4 = packet.resolvedAddress4.has_value();
    const bool found6 = packet.resolvedAddress6.has_value();
    const bool use4 = found4 && isUsable(AF_INET);
    const bool use6 = found6 && isUsable(AF_INET6);
    if (use4 && (!use6 || (config & kPreferIPv6) == 0)) {
        packet.addressFamily = AF_INET;
        packet.addressLength = sizeof(sockaddr_in);
        std::memcpy(&packet.address, &*packet.resolvedAddress4, sizeof(sockaddr_in));
        return std::nullopt;
    }
    if (use6) {
        packet.addressFamily = AF_INET6;
        packet.addressLength = sizeof(sockaddr_in6);
        std::memcpy(&packet.address, &*packet.resolvedAddress6, sizeof(sockaddr_in6));
        return std::nullopt;
    }
    // Say why the family that was found cannot be used.
    if (found4) {
        return otherError(
            (config & kIPv4Disabled) != 0
                ? "IPv4 has been disabled and DNS lookup found no IPv6 address(es)."
                : "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 "
                  "address(es).");
    }
    return otherError(
        (config & kIPv6Disabled) != 0
            ? "IPv6 has been disabled and DNS lookup found no IPv4 address(es)."
            : "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 "
              "address(es).");
}

void UdpSocket::doSend() {
    PendingDatagram& packet = *currentSend;
    Descriptor& descriptor = packet.addressFamily == AF_INET ? socket4 : socket6;
    // The system binds an unbound descriptor on its first datagram.
    flags |= kBound;
    ssize_t sent = 0;
    do {
        sent = ::sendto(descriptor.fd, packet.buffer.data(), packet.buffer.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&packet.address), packet.addressLength);
    } while (sent < 0 && errno == EINTR);
    const int code = sent < 0 ? errno : 0;
    if (sent > 0) {
        notifyDelegate([tag = packet.tag](UdpSocketDelegate& receiver,
                                          const std::shared_ptr<UdpSocket>& socket) {
            receiver.datagramSent(socket, tag);
        });
        endCurrentSend();
        // The next datagram goes after whatever else waits on the queue.
        postToSocketQueue([](UdpSocket& socket) { socket.maybeDequeueSend(); });
        return;
    }
    if (sent == 0 || code == EAGAIN || code == EWOULDBLOCK) {
        const uint64_t index = sendIndex;
        descriptor.watch->waitWritable([weakSelf = weak_from_this(), index] {
            const auto self = weakSelf.lock();
            if (self && self->currentSend && self->sendIndex == index) {
                self->doSend();
            }
        });
        if (packet.timeout >= 0 && !sendTimer) {
            sendTimer = std::make_unique<dispatch::Timer>(*socketQueue);
            sendTimer->start(packet.timeout, [weakSelf = weak_from_this(), index] {
                const auto self = weakSelf.lock();
                if (self && self->currentSend && self->sendIndex == index) {
                    self->reportNotSent(gcdAsyncUdpSocketError(UdpSocketError::SendTimeoutError));
                }
            });
        }
        return;
    }
    closeOnError(posixError(code, "Error in send() function."));
}

void UdpSocket::reportNotSent(Error error) {
    notifyDelegate([tag = currentSend->tag, error = std::move(error)](
                       UdpSocketDelegate& receiver, const std::shared_ptr<UdpSocket>& socket) {
        receiver.datagramNotSent(socket, tag, error);
    });
    endCurrentSend();
    postToSocketQueue([](UdpSocket& socket) { socket.maybeDequeueSend(); });
}

void UdpSocket::endCurrentSend() {
    currentSend.reset();
    sendTimer.reset();
    ++sendIndex;
}

// ---- Receiving ----------------------------------------------------------------------------

void UdpSocket::doReceive() {
    receiveScheduled = false;
    if ((flags & kReceiveContinuous) == 0 || pendingDeliveries >= kMaxPendingDeliveries) {
        return;
    }
    const bool can4 = socket4.isOpen() && socket4.mayRead;
    const bool can6 = socket6.isOpen() && socket6.mayRead;
    if (!can4 && !can6) {
        watchForReading(socket4);
        watchForReading(socket6);
        return;
    }
    const bool use4 = can4 && (!can6 || !lastReceiveWasIPv4);
    Descriptor& descriptor = use4 ? socket4 : socket6;
    const size_t limit = use4 ? size_t{max4ReceiveSize} : size_t{max6ReceiveSize};
    sockaddr_storage source{};
    socklen_t sourceLength = sizeof source;
    ssize_t received = 0;
    do {
        sourceLength = sizeof source;
        received = ::recvfrom(descriptor.fd, receiveBuffer.data(), limit, 0,
                              reinterpret_cast<sockaddr*>(&source), &sourceLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        const int code = errno;
        if (code == EAGAIN || code == EWOULDBLOCK) {
            // Empty after all: try the other descriptor, or wait for both.
            descriptor.mayRead = false;
            doReceive();
            return;
        }
        closeOnError(posixError(code, "Error in recvfrom() function"));
        return;
    }
    lastReceiveWasIPv4 = use4;

    // A datagram longer than the limit has been cut to it by the system.
    Bytes data(receiveBuffer.begin(), receiveBuffer.begin() + received);
    const auto* sourceBytes = reinterpret_cast<const uint8_t*>(&source);
    Bytes address(sourceBytes, sourceBytes + std::min<size_t>(sourceLength, sizeof source));
    if (delegateQueue) {
        ++pendingDeliveries;
        delegateQueue->async([weakSelf = weak_from_this(), weakDelegate = delegate,
                              generation = closeIndex, data = std::move(data),
                              address = std::move(address)]() mutable {
            const auto self = weakSelf.lock();
            if (!self) {
                return;
            }
            if (const auto receiver = weakDelegate.lock()) {
                receiver->datagramReceived(self, std::move(data), std::move(address), nullptr);
            }
            self->postToSocketQueue(
                [generation](UdpSocket& socket) { socket.receiveDelivered(generation); });
        });
    }
    scheduleReceive();
}

void UdpSocket::scheduleReceive() {
    // One datagram per turn of the queue, so that sends and close are not held up by a flood.
    if (receiveScheduled) {
        return;
    }
    receiveScheduled = true;
    postToSocketQueue([](UdpSocket& socket) { socket.doReceive(); });
}

void UdpSocket::watchForReading(Descriptor& descriptor) {
    if (!descriptor.isOpen() || descriptor.mayRead || descriptor.watch->isWaitingToRead()) {
        return;
    }
    const bool isIPv4 = &descriptor == &socket4;
    descriptor.watch->waitReadable([weakSelf = weak_from_this(), isIPv4] {
        const auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        (isIPv4 ? self->socket4 : self->socket6).mayRead = true;
        if (!self->receiveScheduled) {
            self->doReceive();
        }
    });
}

void UdpSocket::receiveDelivered(uint64_t generation) {
    if (generation != closeIndex) {
        return;
    }
    --pendingDeliveries;
    if (pendingDeliveries + 1 == kMaxPendingDeliveries) {
        // Reading had paused for the delegate.
        scheduleReceive();
    }
}

// ---- Closing ------------------------------------------------------------------------------

void UdpSocket::closeOnError(std::optional<Error> error) {
    if (error) {
        logLine("UDP socket closes: " + error->reason + ": " + error->description);
    }
    if (!tearDown()) {
        return;
    }
    notifyDelegate([error = std::move(error)](UdpSocketDelegate& receiver,
                                              const std::shared_ptr<UdpSocket>& socket) {
        receiver.socketClosed(socket, error);
    });
}

bool UdpSocket::tearDown() {
    const bool hadSockets = (flags & kSocketsCreated) != 0;
    endCurrentSend();
    sendQueue.clear();
    socket4.reset();
    socket6.reset();
    flags = 0;
    pendingDeliveries = 0;
    receiveScheduled = false;
    ++closeIndex;
    return hadSockets;
}

}  // namespace vistamo
