#include "discovery/ZUDPScanner.h"

#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <variant>

#include "discovery/DeviceButton.h"
#include "discovery/DiscoveryHost.h"
#include "discovery/NewDeviceReceiver.h"
#include "discovery/ZDeviceInfo.h"
#include "discovery/ZNetworkTools.h"
#include "dispatch/MainQueue.h"
#include "platform/DeviceIdentity.h"
#include "platform/Log.h"
#include "settings/ZConfig.h"

namespace vistamo {

namespace {

// For assertions: the list and the buttons belong to the main thread.
[[maybe_unused]] bool onMainQueue() { return dispatch::mainQueue().isCurrent(); }

// Something the user can act on: another program holds the discovery port.
void logCannotBind(const Error& error) {
    logLine("cannot bind UDP port " + std::to_string(kDiscoveryPort) + " (" + error.description +
            "): cameras are not searched for");
}

void gatherLocalAddresses(const std::string& interfaceName, std::vector<std::string>& ipv6,
                          std::vector<std::string>& ipv4) {
    ZNetworkTools::getIpLocally(interfaceName, 6, ipv6);
    ZNetworkTools::getIpLocally(interfaceName, 4, ipv4);
}

ZUDPScanner::Options withDefaults(ZUDPScanner::Options options) {
    if (!options.gatherAddresses) {
        options.gatherAddresses = gatherLocalAddresses;
    }
    if (!options.deviceIdentity) {
        options.deviceIdentity = [] { return vistamo::getDeviceUUID(); };
    }
    return options;
}

}  // namespace

std::shared_ptr<ZUDPScanner> ZUDPScanner::init() { return init(Options{}); }

std::shared_ptr<ZUDPScanner> ZUDPScanner::init(Options options) {
    auto scanner = std::make_shared<ZUDPScanner>(CreateToken{}, std::move(options));
    scanner->start();
    return scanner;
}

ZUDPScanner::ZUDPScanner(CreateToken, Options options)
    : options_(withDefaults(std::move(options))),
      udpQueue_(dispatch::SerialQueue::create("Client Queue", "discovery")) {}

ZUDPScanner::~ZUDPScanner() {
    // The socket's queue goes before the discovery queue it reports to.
    socket_.reset();
}

void ZUDPScanner::start() {
    std::vector<std::string> ipv6;
    std::vector<std::string> ipv4;
    options_.gatherAddresses("en0", ipv6, ipv4);
    if (ipv6.empty() && ipv4.empty()) {
        options_.gatherAddresses("en1", ipv6, ipv4);
    }
    if (ipv6.empty() && ipv4.empty()) {
        return;
    }
    int32_t type = 0;
    mLocalIP_ = ZNetworkTools::getValidIP(ipv4, ipv6, true, type);
    ipType_ = type;

    socket_ = GCDAsyncUdpSocket::create(weak_from_this(), udpQueue_);
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
    if (socket_->joinMulticastGroup(group(), mLocalIP_.value_or(""), &ignored)) {
        socket_->beginReceiving(&ignored);
    }
}

const char* ZUDPScanner::group() const {
    return ipType_ != 1 ? kDiscoveryGroupIPv4 : kDiscoveryGroupIPv6;
}

void ZUDPScanner::applySocketOptions() {
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

std::string ZUDPScanner::getDeviceUUID() const { return options_.deviceIdentity(); }

// ---- Main thread --------------------------------------------------------------------------

void ZUDPScanner::setMScanner(std::weak_ptr<DiscoveryHost> host) {
    assert(onMainQueue());
    mScanner_ = std::move(host);
}

void ZUDPScanner::setNetStatus(int64_t status) {
    assert(onMainQueue());
    netStatus_ = status;
}

void ZUDPScanner::setBVerified(bool verified) {
    assert(onMainQueue());
    bVerified_ = verified;
}

const std::vector<std::shared_ptr<ZDeviceInfo>>& ZUDPScanner::mDeviceList() const {
    assert(onMainQueue());
    return mDeviceList_;
}

void ZUDPScanner::startScan() {
    assert(onMainQueue());
    if (!timerStarted_ && options_.scanPeriodSeconds > 0) {
        timerStarted_ = true;
        scheduleTick();
    }
    scanServers();
}

void ZUDPScanner::scheduleTick() {
    dispatch::mainQueue().after(options_.scanPeriodSeconds, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->scanServers();
            self->scheduleTick();
        }
    });
}

void ZUDPScanner::scanServers() {
    assert(onMainQueue());
    if (bVerified_ || netStatus_ == 0) {
        return;
    }
    multcast();

    size_t visible = 0;
    for (const auto& record : mDeviceList_) {
        int64_t showTimes = record->mShowTimes() - 1;
        const auto button = record->button().lock();
        if (showTimes < 0) {
            showTimes = 0;
            if (!record->mbWAN()) {
                if (button) {
                    button->setHidden(true);
                }
            } else {
                record->setMDeviceIP(std::nullopt);
            }
        }
        record->setMShowTimes(showTimes);
        if (!button || !button->isHidden()) {
            ++visible;
        }
    }

    if (const auto host = mScanner_.lock()) {
        host->showStatus(visible > 0 && statusCounter_ < 2 ? DiscoveryStatus::CamerasFound
                                                           : DiscoveryStatus::Searching);
    }
    statusCounter_ = (statusCounter_ + 1) % 4;
}

void ZUDPScanner::multcast() {
    // A send on a socket that is not bound to port 10221 would bind it elsewhere, where
    // answers do not come, and keep the restart after a close from taking the port again.
    if (!socket_ || !bUDPReady_) {
        return;
    }
    socket_->sendData(makeScanRequest(mLocalIP_.value_or("")), group(), kDiscoveryPort,
                      kSendTimeoutSeconds, kSendTag);
}

void ZUDPScanner::getResponding(const DiscoveryAnswer& answer, bool fromThisComputer) {
    const auto found =
        std::find_if(mDeviceList_.begin(), mDeviceList_.end(),
                     [&](const auto& record) { return record->mUUID() == answer.uuid; });
    if (found != mDeviceList_.end()) {
        const auto& record = *found;
        record->setMDeviceIP(answer.host);
        record->setMPort(answer.port);
        record->setMDeviceName(answer.name);
        record->setMShowTimes(kAnsweredShowTimes);
        if (const auto button = record->button().lock()) {
            button->setHidden(false);
        } else {
            newDevice(record, found - mDeviceList_.begin());
        }
        return;
    }
    if (fromThisComputer) {
        return;
    }
    auto record = std::make_shared<ZDeviceInfo>();
    record->setMDeviceIP(answer.host);
    record->setMPort(answer.port);
    record->setMDeviceName(answer.name);
    record->setMUUID(answer.uuid);
    if (const auto host = mScanner_.lock()) {
        if (ZConfig* config = host->config()) {
            record->setMPassword(config->getPassword(answer.uuid));
        }
    }
    mDeviceList_.push_back(record);
    newDevice(record, static_cast<int64_t>(mDeviceList_.size()) - 1);
}

void ZUDPScanner::clientOffLine(const std::string& uuid) {
    const auto found = std::find_if(mDeviceList_.begin(), mDeviceList_.end(),
                                    [&](const auto& record) { return record->mUUID() == uuid; });
    if (found == mDeviceList_.end()) {
        return;
    }
    if (const auto button = (*found)->button().lock()) {
        button->removeFromSuperview();
    }
    const size_t position = static_cast<size_t>(found - mDeviceList_.begin());
    mDeviceList_.erase(found);
    retagFrom(position);
}

void ZUDPScanner::retagFrom(size_t position) {
    for (size_t i = position; i < mDeviceList_.size(); ++i) {
        if (const auto button = mDeviceList_[i]->button().lock()) {
            button->setTag(static_cast<int64_t>(i));
        }
    }
}

void ZUDPScanner::removeAllDevices() {
    assert(onMainQueue());
    for (const auto& record : mDeviceList_) {
        if (const auto button = record->button().lock()) {
            button->removeFromSuperview();
        }
    }
    mDeviceList_.clear();
}

bool ZUDPScanner::addNewOne(const std::string& address,
                            const std::shared_ptr<NewDeviceReceiver>& dialog) {
    return dispatch::mainQueue().syncResult([&] {
        bool known = false;
        for (const auto& record : mDeviceList_) {
            if (record->mDeviceIP() == address) {
                if (dialog) {
                    dialog->setNewDevBtn(record->button().lock());
                }
                known = true;
            }
        }
        if (known) {
            return false;
        }
        auto record = std::make_shared<ZDeviceInfo>();
        record->setMDeviceIP(address);
        record->setMPort(ZDeviceInfo::kDefaultPort);
        record->setMDeviceName(address);
        mDeviceList_.push_back(record);
        const auto button = newDevice(record, static_cast<int64_t>(mDeviceList_.size()) - 1);
        if (dialog) {
            dialog->setNewDevBtn(button);
        }
        return true;
    });
}

std::shared_ptr<DeviceButton> ZUDPScanner::newDevice(const std::shared_ptr<ZDeviceInfo>& record,
                                                     int64_t order) {
    assert(onMainQueue());
    const auto host = mScanner_.lock();
    if (!host || !record) {
        return nullptr;
    }
    auto button = host->makeDeviceButton(record->mDeviceName().value_or(""), order);
    record->setButton(button);
    return button;
}

// ---- Discovery queue ----------------------------------------------------------------------

void ZUDPScanner::udpSocketDidReceiveData(const std::shared_ptr<GCDAsyncUdpSocket>& /*sock*/,
                                          Bytes data, Bytes address,
                                          const std::shared_ptr<void>& /*filterContext*/) {
    DiscoveryEvent event = readDiscoveryEvent(data, address);
    const std::weak_ptr<ZUDPScanner> weak = weak_from_this();
    if (auto* answer = std::get_if<DiscoveryAnswer>(&event)) {
        // An empty identity (none could be read) is nobody's.
        const std::string own = getDeviceUUID();
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

void ZUDPScanner::udpSocketDidCloseWithError(const std::shared_ptr<GCDAsyncUdpSocket>& /*sock*/,
                                             const std::optional<Error>& /*error*/) {
    bUDPReady_ = false;
    udpQueue_->after(kRestartDelaySeconds, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->restartAfterClose();
        }
    });
}

void ZUDPScanner::restartAfterClose() {
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
    if (socket_->joinMulticastGroup(group(), "en0", &ignored)) {
        socket_->beginReceiving(&ignored);
    }
}

}  // namespace vistamo
