#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "discovery/UdpSocketDelegate.h"
#include "dispatch/DescriptorWatch.h"
#include "dispatch/Queue.h"
#include "dispatch/SerialQueue.h"
#include "dispatch/Timer.h"
#include "platform/Bytes.h"
#include "platform/Error.h"
#include "platform/HostLookup.h"

namespace vistamo {

inline constexpr const char* kUdpSocketErrorDomain = "udp socket";
// Name-resolution failures: the resolver's (getaddrinfo) code and message.
inline constexpr const char* kUdpSocketNetDBErrorDomain = kNetDBErrorDomain;

// Codes of the socket's own errors in kUdpSocketErrorDomain.
enum class UdpSocketError : long {
    BadConfigError = 1,
    BadParamError = 2,
    SendTimeoutError = 3,
    ClosedError = 4,
    OtherError = 5,
};

// An error of the socket's own domain. Codes 3 and 4 have a fixed text and ignore `text`; codes
// 1, 2 and 5 carry the text given.
Error gcdAsyncUdpSocketError(UdpSocketError code, std::string text = {});

struct PendingDatagram;

// An asynchronous UDP socket with up to two descriptors, one IPv4 and one IPv6. Every system
// call runs on the socket's own serial queue ("UdpSocket"); operations may be called
// from any thread; results reach the delegate on the delegate queue (see
// UdpSocketDelegate).
//
// Descriptors are created by the first bind or the first send, for every address family that is
// not disabled. Both ask for address and port reuse, so that several sockets of this machine can
// share a port (the discovery scanner and a camera on port 10221). Received datagrams longer
// than 9,216 bytes are cut to that size. Sends go out one at a time, in the order they were
// handed in; a timeout in seconds below zero means none. `close` and any failure of a system
// call close the whole socket; it can then be bound again.
//
// Lifetime: owned through std::shared_ptr. Dropping the last reference closes the descriptors at
// once, without a delegate call, and joins the socket queue's thread; that may happen on any
// thread, the delegate queue and the socket queue (inside performBlock) included. A block given
// to performBlock must not wait for work on the delegate queue when that queue may itself be
// waiting on the socket (dropping the last reference, or calling a synchronous operation).
class UdpSocket : public std::enable_shared_from_this<UdpSocket> {
    struct CreateToken {};

public:
    // Largest datagram received on each family; the rest of a longer one is dropped.
    static constexpr uint16_t max4ReceiveSize = 9216;
    static constexpr uint32_t max6ReceiveSize = 9216;

    // `delegate` is held weakly. Without a delegate or a delegate queue, bind, join and
    // beginReceiving fail; sends still go out, unreported.
    static std::shared_ptr<UdpSocket> create(std::weak_ptr<UdpSocketDelegate> delegate,
                                             std::shared_ptr<dispatch::Queue> delegateQueue);
    UdpSocket(CreateToken, std::weak_ptr<UdpSocketDelegate> delegate,
              std::shared_ptr<dispatch::Queue> delegateQueue);
    ~UdpSocket();

    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Address families. Both are enabled by default and IPv4 is taken when a host has both. The
    // three setters apply on the socket queue, later unless called there; binds and sends that
    // start afterwards see them.
    void setIPv4Enabled(bool enabled);
    void setIPv6Enabled(bool enabled);
    void setPreferIPv6();

    // Binds `port` (0: one port the system picks, the same for both families) on the wildcard
    // addresses, or on the addresses of `interface`: a name ("eth0"), "localhost" or "loopback", or
    // one of this machine's numeric addresses. A family the interface lacks is not opened. Returns
    // false, with `error` filled in when given, when the socket is bound already or anything fails;
    // a failed bind leaves no descriptor open and calls no delegate.
    bool bindToPort(uint16_t port, Error* error);
    bool bindToPort(uint16_t port, const std::string& interface, Error* error);

    // Joins the multicast `group` (a numeric address) on `interface` (as for bindToPort; empty:
    // the system's choice) and makes that interface the one multicast datagrams leave by. The
    // descriptor of the other family closes. The socket must be bound.
    bool joinMulticastGroup(const std::string& group, const std::string& interface, Error* error);

    // Starts receiving every datagram on every open descriptor, alternating between the two
    // when both have some. The socket must be bound (by bindToPort or by a send that went out).
    bool beginReceiving(Error* error);

    // Queues a datagram for `host` (a name or a numeric address) and `port`. Empty data is
    // ignored. The outcome arrives as datagramSent or
    // datagramNotSent, unless the socket closes first: closing drops every
    // datagram not sent yet without a word.
    void sendData(Bytes data, const std::string& host, uint16_t port, double timeoutSeconds,
                  int64_t tag);

    // The bound local port; 0 when not bound.
    uint16_t localPort();

    // Closes at once; the delegate hears socketClosed with no error when
    // descriptors had been open. Work handed to the socket before this call runs first.
    void close();

    // Runs `block` on the socket queue and returns when it has run. The block may drop the last
    // reference to the socket.
    void performBlock(const std::function<void()>& block);

    // The open descriptor (IPv4 first, else IPv6), or -1. Only meaningful on the socket queue,
    // inside performBlock: called from anywhere else they return -1.
    int socketFD();
    int socket4FD();
    int socket6FD();

    // Host text (numeric, without scope) and port (host byte order) of a sockaddr_in or
    // sockaddr_in6 given as bytes; false, leaving both untouched, for anything else. Either out
    // pointer may be null.
    static bool getHost(std::string* host, uint16_t* port, ByteView address);
    // Whether the bytes hold a whole sockaddr_in6.
    static bool isIPv6Address(ByteView address);

private:
    enum Flag : uint32_t {
        kSocketsCreated = 1u << 0,
        kBound = 1u << 1,
        kReceiveContinuous = 1u << 5,
        kIPv4Deactivated = 1u << 6,  // not opened by bind, or closed by a join
        kIPv6Deactivated = 1u << 7,
    };
    enum Config : uint16_t {
        kIPv4Disabled = 1u << 0,
        kIPv6Disabled = 1u << 1,
        kPreferIPv4 = 1u << 2,
        kPreferIPv6 = 1u << 3,
    };

    // One address family's descriptor with its readiness watch. Owns both: reset (or
    // destruction) drops the watch and closes the descriptor. Socket queue only.
    struct Descriptor {
        Descriptor() = default;
        ~Descriptor() { reset(); }
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;

        bool isOpen() const { return fd != -1; }
        void reset();

        int fd = -1;
        std::unique_ptr<dispatch::DescriptorWatch> watch;
        // The descriptor may hold a datagram: set by a readable event (and when receiving
        // starts), cleared when a read finds nothing. FIONREAD cannot tell, since it reports 0
        // for a pending empty datagram.
        bool mayRead = false;
    };

    // Runs `work` on the socket queue: inline when already there, otherwise later (and not at
    // all once the socket is gone).
    void asyncOnSocketQueue(std::function<void(UdpSocket&)> work);
    // The same, but always later, after what the queue holds now.
    void postToSocketQueue(std::function<void(UdpSocket&)> work);
    // Hands a call to the delegate queue; dropped there when the delegate or the socket is gone.
    void notifyDelegate(
        std::function<void(UdpSocketDelegate&, const std::shared_ptr<UdpSocket>&)> call);

    // Setup.
    // Hands a failure to the caller's error slot (when given); true when there is none.
    static bool report(const std::optional<Error>& failure, Error* error);
    std::optional<Error> preOperationCheck() const;
    std::optional<Error> doBind(uint16_t port, const std::string& interface);
    std::optional<Error> doJoin(const std::string& group, const std::string& interface);
    std::optional<Error> createSockets(bool use4, bool use6);
    std::optional<Error> createSocket(Descriptor& into, int family);
    // Closes one family's descriptor and marks the family deactivated; a send waiting on it
    // chooses its address again.
    void deactivate(int family);
    bool isUsable(int family) const;

    // Sending.
    // What the resolver found for a host: the first address of each family in the resolver's
    // order, or the error.
    struct Resolution {
        std::optional<sockaddr_in> address4;
        std::optional<sockaddr_in6> address6;
        std::optional<Error> error;
    };
    // Blocks on the system resolver: called off the socket queue.
    static Resolution resolveHost(const std::string& host, uint16_t port);
    void maybeDequeueSend();
    // Opens the descriptors a send needs when there are none; a failure closes the socket and
    // returns false.
    bool openSocketsForSending();
    void resolutionFinished(const std::shared_ptr<PendingDatagram>& packet, Resolution result);
    void doPreSend();
    std::optional<Error> chooseAddress(PendingDatagram& packet) const;
    void doSend();
    void reportNotSent(Error error);
    void endCurrentSend();

    // Receiving.
    void doReceive();
    void scheduleReceive();
    void watchForReading(Descriptor& descriptor);
    void receiveDelivered(uint64_t generation);

    // Closing.
    void closeOnError(std::optional<Error> error);
    // Releases descriptors, watches, the timer and pending sends and clears the state bits;
    // returns whether descriptors had been created.
    bool tearDown();

    // Set once at creation; read from any thread. Declared first so that it goes last: the
    // timer and the watches below belong to its thread.
    const std::shared_ptr<dispatch::SerialQueue> socketQueue;
    const std::weak_ptr<UdpSocketDelegate> delegate;
    const std::shared_ptr<dispatch::Queue> delegateQueue;

    // Socket queue only.
    Descriptor socket4;
    Descriptor socket6;
    uint32_t flags = 0;
    uint16_t config = 0;
    std::deque<std::shared_ptr<PendingDatagram>> sendQueue;
    std::shared_ptr<PendingDatagram> currentSend;
    // Present only while the current send waits for room with a timeout.
    std::unique_ptr<dispatch::Timer> sendTimer;
    // Raised whenever the current send ends, so that a stale writable event or timer is ignored.
    uint64_t sendIndex = 0;
    // Raised at every close, so that acknowledgements of deliveries from before it are ignored.
    uint64_t closeIndex = 0;
    // Datagrams handed to the delegate queue and not yet delivered. Reading pauses at a bound,
    // so a delegate that falls behind leaves the excess in the kernel (which drops what does
    // not fit) instead of in memory here.
    size_t pendingDeliveries = 0;
    bool receiveScheduled = false;
    bool lastReceiveWasIPv4 = false;
    Bytes receiveBuffer;
};

}  // namespace vistamo
