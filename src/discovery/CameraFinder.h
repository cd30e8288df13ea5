#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "discovery/DiscoveryMessages.h"
#include "discovery/UdpSocket.h"
#include "discovery/UdpSocketDelegate.h"
#include "dispatch/SerialQueue.h"

namespace vistamo {

class DiscoveryHost;
class CameraRecord;

// Finds cameras on the local network. Each scan tick multicasts a scan request on UDP port
// 10221; cameras answer with their identity, TCP port and name. The scanner keeps the list of
// known cameras (records) and reports to its host what happens to it: a camera added, changed
// (it answered again), gone (it stopped answering until its ticks ran out) or removed (it said it
// goes off line); and what the status line should say.
//
// Threads. The list, the gone cameras and the host are touched on the main thread only, and
// every report to the host is made there: answers are read and checked on the discovery queue
// ("Client Queue", on the thread named "discovery"; the socket's delegate queue) and handed to
// the main queue as parsed values, in the order they arrived. The discovery queue never waits
// on the main queue, so the scanner may be dropped on the main thread at any time.
//
// Lifecycle: init (on the thread, and so in the network namespace, where it is to work), then
// setScanner, setNetStatus and startScan on the main thread. Dropping the last reference
// closes the socket and joins the scanner's threads; work already handed to the main queue
// finds the scanner gone and does nothing.
class CameraFinder : public UdpSocketDelegate, public std::enable_shared_from_this<CameraFinder> {
    struct CreateToken {};

public:
    static constexpr double kScanPeriodSeconds = 3.0;
    // Show-times of a camera that has just answered.
    static constexpr int64_t kAnsweredShowTimes = 2;
    static constexpr int kSendBufferBytes = 655350;
    // Every scan request goes without a send timeout and with tag 0.
    static constexpr double kSendTimeoutSeconds = -5.0;
    static constexpr int64_t kSendTag = 0;
    // How long the restart after a close waits before binding again.
    static constexpr double kRestartDelaySeconds = 0.1;

    // Set once at creation; the defaults are the application's.
    struct Options {
        // Period of the repeating scan timer that startScan starts on the main queue. Zero or
        // less: no timer; the owner drives the ticks by calling scanServers.
        double scanPeriodSeconds = kScanPeriodSeconds;
        // Appends this computer's IPv6 and IPv4 addresses on its usable interfaces. Default:
        // LocalInterfaces::appendUsableAddresses. Called in init.
        std::function<void(std::vector<std::string>& ipv6, std::vector<std::string>& ipv4)>
            gatherAddresses;
        // This computer's identity; answers carrying it make no record. Default: the machine
        // identity (machineIdentity of platform/). Called on the discovery queue.
        std::function<std::string()> deviceIdentity;
    };

    // Chooses the local address, opens the socket, binds port 10221 on every interface, joins
    // the discovery group on the chosen address and starts receiving. Without a local address
    // there is no socket and ticks send nothing. Failures of the socket are not reported: the
    // scanner then hears nothing.
    static std::shared_ptr<CameraFinder> init();
    static std::shared_ptr<CameraFinder> init(Options options);
    CameraFinder(CreateToken, Options options);
    ~CameraFinder() override;

    CameraFinder(const CameraFinder&) = delete;
    CameraFinder& operator=(const CameraFinder&) = delete;

    // ---- Main thread only ----

    // The owning controller, held weakly.
    void setScanner(std::weak_ptr<DiscoveryHost> host);
    // Reachability status: 0 (not reachable) stops the ticks from doing anything.
    void setNetStatus(int64_t status);
    // While set, ticks do nothing.
    void setBVerified(bool verified);

    // Starts the scan timer when there is none yet, and runs one tick at once.
    void startScan();

    // One scan tick: unless guarded (bVerified, netStatus 0), sends a scan request, ages every
    // record (the third silent tick reports an answering camera gone; a wide-area one loses its
    // address instead) and writes the status line (while a listed camera is not gone, two ticks
    // of CamerasFound, then two of Searching; else always Searching).
    void scanServers();

    // The known cameras in order of discovery.
    const std::vector<std::shared_ptr<CameraRecord>>& records() const;
    // Whether `camera` is listed; the scanner window checks a click against it.
    bool isListed(const std::shared_ptr<CameraRecord>& camera) const;

    // Removes every record, reporting each.
    void removeAllDevices();

    // Adds a camera by address: false when a record has that address already; otherwise
    // appends a record (port 7341, named by its address), reports it added and returns true.
    // Any thread: it runs on the main queue and waits there.
    bool addNewOne(const std::string& address);

    // ---- Any thread ----

    // This computer's identity, read afresh on each call.
    std::string machineIdentity() const;
    // Set once in init.
    const std::optional<std::string>& localAddress() const { return localAddress_; }
    int32_t ipType() const { return ipType_; }
    // None when init found no local address.
    const std::shared_ptr<UdpSocket>& socket() const { return socket_; }
    // The socket is bound to port 10221.
    bool bUDPReady() const { return bUDPReady_; }

    // ---- UdpSocketDelegate, on the discovery queue ----

    // Checks and reads the datagram there; answers and leaves go on to the main queue.
    void datagramReceived(const std::shared_ptr<UdpSocket>& sock, Bytes data, Bytes address,
                          const std::shared_ptr<void>& filterContext) override;
    // Binds, joins and receives again 0.1 s later, unless the socket is on port 10221 again.
    void socketClosed(const std::shared_ptr<UdpSocket>& sock,
                      const std::optional<Error>& error) override;

private:
    void start();
    const char* group() const;
    void applySocketOptions();
    void restartAfterClose();
    void scheduleTick();
    void multcast();

    // Main thread.
    void getResponding(const DiscoveryAnswer& answer, bool fromThisComputer);
    void clientOffLine(const std::string& uuid);
    void append(std::shared_ptr<CameraRecord> record);

    // Set once at creation, read from any thread. The discovery queue is declared before the
    // socket so that the socket, which reports to it, goes first.
    const Options options_;
    const std::shared_ptr<dispatch::SerialQueue> udpQueue_;
    std::optional<std::string> localAddress_;
    int32_t ipType_ = 0;
    std::shared_ptr<UdpSocket> socket_;

    // Written by init and the discovery queue, read by ticks.
    std::atomic<bool> bUDPReady_{false};

    // Main thread only.
    std::weak_ptr<DiscoveryHost> scanner_;
    int64_t netStatus_ = 0;
    bool bVerified_ = false;
    bool timerStarted_ = false;
    // Counts ticks past the guards, 0 to 3, for the status line's alternation.
    uint32_t statusCounter_ = 0;
    std::vector<std::shared_ptr<CameraRecord>> records_;
    // The listed cameras reported gone and not seen since.
    std::unordered_set<const CameraRecord*> gone_;
};

}  // namespace vistamo
