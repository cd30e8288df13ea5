#include "discovery/CameraFinder.h"

#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <utility>
#include <variant>

#include "discovery/CameraRecord.h"
#include "discovery/DiscoveryHost.h"
#include "discovery/LocalInterfaces.h"
#include "dispatch/MainQueue.h"
#include "platform/DeviceIdentity.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

// For assertions: the list belongs to the main thread.
[[maybe_unused]] bool onMainQueue() { return dispatch::mainQueue().isCurrent(); }

// Something the user can act on: another program holds the discovery port.
void logCannotBind(const Error& error) {
    logLine("cannot bind UDP port " + std::to_string(kDiscoveryPort) + " (" + error.description +
            "): cameras are not searched for");
}

void gatherLocalAddresses(std::vector<std::string>& ipv6, std::vector<std::string>& ipv4) {
    LocalInterfaces::appendUsableAddresses(6, ipv6);
    LocalInterfaces::appendUsableAddresses(4, ipv4);
}

CameraFinder::Options withDefaults(CameraFinder::Options options) {
    if (!options.gatherAddresses) {
        options.gatherAddresses = gatherLocalAddresses;
    }
    if (!options.deviceIdentity) {
        options.deviceIdentity = [] { return vistamo::machineIdentity(); };
    }
    return options;
}

}  // namespace

std::shared_ptr<CameraFinder> CameraFinder::init() { return init(Options{}); }

std::shared_ptr<CameraFinder> CameraFinder::init(Options options) {
    auto scanner = std::make_shared<CameraFinder>(CreateToken{}, std::move(options));
    scanner->start();
    return scanner;
}

CameraFinder::CameraFinder(CreateToken, Options options)
    : options_(withDefaults(std::move(options))),
      udpQueue_(dispatch::SerialQueue::create("Client Queue", "discovery")) {}

CameraFinder::~CameraFinder() {
    // The socket's queue goes before the discovery queue it reports to.
    socket_.reset();
}

void CameraFinder::start() {
    std::vector<std::string> ipv6;
    std::vector<std::string> ipv4;
    options_.gatherAddresses(ipv6, ipv4);
    if (ipv6.empty() && ipv4.empty()) {
        return;
    }
    int32_t type = 0;
    localAddress_ = LocalInterfaces::getValidIP(ipv4, ipv6, true, type);
    ipType_ = type;

    socket_ = UdpSocket::create(weak_from_this(), udpQueue_);
    // On every address, sharing the port: answers come to the address the request carried, and
    // a camera on this machine takes its share by binding only the group's address, which
    // unicast datagrams never match.
    Error ignored;
    bUDPReady_ = socket_->bindToPort(kDiscoveryPort, &ignored);
    socket_->setPreferIPv6();
    if (!bUDPReady_) {
        logCannotBind(ignored);
        return;
    }
    applySocketOptions();
    // Joined on the chosen address, so that requests leave by that interface and the cameras
    // there answer to the address they carry.
    if (socket_->joinMulticastGroup(group(), localAddress_.value_or(""), &ignored)) {
        socket_->beginReceiving(&ignored);
    }
}

const char* CameraFinder::group() const {
    return ipType_ != 1 ? kDiscoveryGroupIPv4 : kDiscoveryGroupIPv6;
}

void CameraFinder::applySocketOptions() {
    // Failures leave the system's defaults, which work as well for a few small datagrams.
    socket_->performBlock([this] {
        const int fd = socket_->socketFD();
        const int sendBytes = kSendBufferBytes;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
        int receiveBytes = 0;
        socklen_t length = sizeof receiveBytes;
        if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, &length) == 0 &&
            receiveBytes > 0 && receiveBytes <= INT_MAX / 2) {
            receiveBytes *= 2;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
        }
        const int on = 1;
        const int reuseFd = ipType_ != 1 ? socket_->socket4FD() : socket_->socket6FD();
        ::setsockopt(reuseFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
}

std::string CameraFinder::machineIdentity() const { return options_.deviceIdentity(); }

// ---- Main thread --------------------------------------------------------------------------

void CameraFinder::setScanner(std::weak_ptr<DiscoveryHost> host) {
    assert(onMainQueue());
    scanner_ = std::move(host);
}

void CameraFinder::setNetStatus(int64_t status) {
    assert(onMainQueue());
    netStatus_ = status;
}

void CameraFinder::setBVerified(bool verified) {
    assert(onMainQueue());
    bVerified_ = verified;
}

const std::vector<std::shared_ptr<CameraRecord>>& CameraFinder::records() const {
    assert(onMainQueue());
    return records_;
}

void CameraFinder::startScan() {
    assert(onMainQueue());
    if (!timerStarted_ && options_.scanPeriodSeconds > 0) {
        timerStarted_ = true;
        scheduleTick();
    }
    scanServers();
}

void CameraFinder::scheduleTick() {
    dispatch::mainQueue().after(options_.scanPeriodSeconds, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->scanServers();
            self->scheduleTick();
        }
    });
}

void CameraFinder::scanServers() {
    assert(onMainQueue());
    if (bVerified_ || netStatus_ == 0) {
        return;
    }
    multcast();

    const auto host = scanner_.lock();
    size_t shown = 0;
    for (const auto& record : records_) {
        int64_t showTimes = record->ticksLeft() - 1;
        if (showTimes < 0) {
            showTimes = 0;
            if (!record->wideArea()) {
                if (gone_.insert(record.get()).second && host) {
                    host->cameraGone(record);
                }
            } else {
                record->setAddress(std::nullopt);
            }
        }
        record->setTicksLeft(showTimes);
        if (!gone_.contains(record.get())) {
            ++shown;
        }
    }

    if (host) {
        host->showStatus(shown > 0 && statusCounter_ < 2 ? DiscoveryStatus::CamerasFound
                                                         : DiscoveryStatus::Searching);
    }
    statusCounter_ = (statusCounter_ + 1) % 4;
}

void CameraFinder::multcast() {
    // A send on a socket that is not bound to port 10221 would bind it elsewhere, where
    // answers do not come, and keep the restart after a close from taking the port again.
    if (!socket_ || !bUDPReady_) {
        return;
    }
    socket_->sendData(makeScanRequest(localAddress_.value_or("")), group(), kDiscoveryPort,
                      kSendTimeoutSeconds, kSendTag);
}

void CameraFinder::getResponding(const DiscoveryAnswer& answer, bool fromThisComputer) {
    const auto found = std::find_if(records_.begin(), records_.end(), [&](const auto& record) {
        return record->uuid() == answer.uuid;
    });
    if (found != records_.end()) {
        const std::shared_ptr<CameraRecord> record = *found;
        record->setAddress(answer.host);
        record->setPort(answer.port);
        record->setName(answer.name);
        record->setTicksLeft(kAnsweredShowTimes);
        gone_.erase(record.get());
        if (const auto host = scanner_.lock()) {
            host->cameraChanged(record);
        }
        return;
    }
    if (fromThisComputer) {
        return;
    }
    auto record = std::make_shared<CameraRecord>();
    record->setAddress(answer.host);
    record->setPort(answer.port);
    record->setName(answer.name);
    record->setUuid(answer.uuid);
    append(std::move(record));
}

void CameraFinder::append(std::shared_ptr<CameraRecord> record) {
    records_.push_back(record);
    if (const auto host = scanner_.lock()) {
        host->cameraAdded(record);
    }
}

void CameraFinder::clientOffLine(const std::string& uuid) {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [&](const auto& record) { return record->uuid() == uuid; });
    if (found == records_.end()) {
        return;
    }
    const std::shared_ptr<CameraRecord> record = *found;
    records_.erase(found);
    gone_.erase(record.get());
    if (const auto host = scanner_.lock()) {
        host->cameraRemoved(record);
    }
}

bool CameraFinder::isListed(const std::shared_ptr<CameraRecord>& camera) const {
    assert(onMainQueue());
    return camera && std::find(records_.begin(), records_.end(), camera) != records_.end();
}

void CameraFinder::removeAllDevices() {
    assert(onMainQueue());
    // Emptied before the reports, so that a host asking about the list finds it empty.
    const auto removed = std::exchange(records_, {});
    gone_.clear();
    if (const auto host = scanner_.lock()) {
        for (const auto& record : removed) {
            host->cameraRemoved(record);
        }
    }
}

bool CameraFinder::addNewOne(const std::string& address) {
    return dispatch::mainQueue().syncResult([&] {
        const bool known = std::any_of(records_.begin(), records_.end(), [&](const auto& record) {
            return record->address() == address;
        });
        if (known) {
            return false;
        }
        auto record = std::make_shared<CameraRecord>();
        record->setAddress(address);
        record->setPort(CameraRecord::kDefaultPort);
        record->setName(address);
        append(std::move(record));
        return true;
    });
}

// ---- Discovery queue ----------------------------------------------------------------------

void CameraFinder::datagramReceived(const std::shared_ptr<UdpSocket>& /*sock*/, Bytes data,
                                    Bytes address, const std::shared_ptr<void>& /*filterContext*/) {
    DiscoveryEvent event = readDiscoveryEvent(data, address);
    const std::weak_ptr<CameraFinder> weak = weak_from_this();
    if (auto* answer = std::get_if<DiscoveryAnswer>(&event)) {
        // An empty identity (none could be read) is nobody's.
        const std::string own = machineIdentity();
        const bool fromThisComputer = !own.empty() && own == answer->uuid;
        dispatch::mainQueue().async([weak, answer = std::move(*answer), fromThisComputer] {
            if (const auto self = weak.lock()) {
                self->getResponding(answer, fromThisComputer);
            }
        });
    } else if (auto* leave = std::get_if<DiscoveryLeave>(&event)) {
        dispatch::mainQueue().async([weak, uuid = std::move(leave->uuid)] {
            if (const auto self = weak.lock()) {
                self->clientOffLine(uuid);
            }
        });
    }
}

void CameraFinder::socketClosed(const std::shared_ptr<UdpSocket>& /*sock*/,
                                const std::optional<Error>& /*error*/) {
    bUDPReady_ = false;
    udpQueue_->after(kRestartDelaySeconds, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->restartAfterClose();
        }
    });
}

void CameraFinder::restartAfterClose() {
    if (socket_->localPort() == kDiscoveryPort) {
        bUDPReady_ = true;
        return;
    }
    // One attempt: a failed bind or join leaves the scanner deaf until it is made again.
    Error ignored;
    if (!socket_->bindToPort(kDiscoveryPort, &ignored)) {
        logCannotBind(ignored);
        return;
    }
    bUDPReady_ = true;
    // Multicast leaves by the first usable interface (the default route's), or by the system's
    // choice when there is none.
    const auto interfaces = LocalInterfaces::usableInterfaceNames();
    const std::string interface = interfaces.empty() ? std::string() : interfaces.front();
    if (socket_->joinMulticastGroup(group(), interface, &ignored)) {
        socket_->beginReceiving(&ignored);
    }
}

}  // namespace vistamo
