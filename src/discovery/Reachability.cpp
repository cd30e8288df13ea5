#include "discovery/Reachability.h"

#include <netinet/in.h>

#include <vector>

#include "discovery/NetlinkReachabilitySource.h"
#include "dispatch/MainQueue.h"
#include "dispatch/SerialQueue.h"
#include "platform/Log.h"

namespace vistamo {

std::shared_ptr<Reachability> Reachability::forHostName(const std::string& hostName) {
    if (hostName.empty()) {
        return nullptr;
    }
    return withSource(std::make_shared<NetlinkReachabilitySource>());
}

std::shared_ptr<Reachability> Reachability::forAddress(const sockaddr* hostAddress,
                                                       socklen_t addressLength) {
    if (hostAddress == nullptr || addressLength < sizeof(sa_family_t)) {
        return nullptr;
    }
    const bool whole =
        (hostAddress->sa_family == AF_INET && addressLength >= sizeof(sockaddr_in)) ||
        (hostAddress->sa_family == AF_INET6 && addressLength >= sizeof(sockaddr_in6));
    if (!whole) {
        return nullptr;
    }
    return withSource(std::make_shared<NetlinkReachabilitySource>());
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    return forAddress(reinterpret_cast<const sockaddr*>(&zeroAddress), sizeof zeroAddress);
}

std::shared_ptr<Reachability> Reachability::withSource(std::shared_ptr<ReachabilitySource> source) {
    if (!source) {
        return nullptr;
    }
    return std::make_shared<Reachability>(Private(), std::move(source));
}

Reachability::Reachability(Private, std::shared_ptr<ReachabilitySource> source)
    : queue_(dispatch::SerialQueue::create("Reachability")), source_(std::move(source)) {}

Reachability::~Reachability() {
    // The source is used and released on the queue; nothing of ours runs there afterwards, and
    // the queue's thread is joined when queue_ goes.
    queue_->sync([this] {
        source_->stop();
        source_.reset();
        notifying_ = false;
    });
}

bool Reachability::startNotifier() {
    return queue_->syncResult([this] {
        if (notifying_) {
            return true;
        }
        if (!source_->start(*queue_, [this] { sourceChanged(); })) {
            logLine("reachability: cannot watch the network for changes");
            return false;
        }
        // Read after watching began: a change from here on is compared with this.
        lastFlags_ = source_->readFlags();
        notifying_ = true;
        return true;
    });
}

void Reachability::stopNotifier() {
    queue_->sync([this] {
        source_->stop();
        notifying_ = false;
        ++notifierGeneration_;
    });
}

std::optional<ReachabilityFlags> Reachability::readFlags() const {
    return queue_->syncResult([this] { return source_->readFlags(); });
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    const auto flags = readFlags();
    return flags ? networkStatusForFlags(*flags) : NotReachable;
}

bool Reachability::connectionRequired() const {
    const auto flags = readFlags();
    return flags && (*flags & kReachabilityFlagsConnectionRequired) != 0;
}

NetworkStatus Reachability::networkStatusForFlags(ReachabilityFlags flags) {
    if ((flags & kReachabilityFlagsReachable) == 0) {
        return NotReachable;
    }
    const bool automatic =
        (flags & (kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsConnectionOnDemand)) !=
        0;
    if (!automatic || (flags & kReachabilityFlagsInterventionRequired) != 0) {
        return (flags & kReachabilityFlagsConnectionRequired) == 0 ? Reachable : NotReachable;
    }
    return Reachable;
}

// On the watcher's queue.
void Reachability::sourceChanged() {
    if (!notifying_) {
        return;
    }
    const auto flags = source_->readFlags();
    if (flags == lastFlags_) {
        return;
    }
    lastFlags_ = flags;
    dispatch::mainQueue().async([weak = weak_from_this(), generation = notifierGeneration_.load()] {
        if (const auto self = weak.lock()) {
            self->postChange(generation);
        }
    });
}

// On the main queue.
void Reachability::postChange(uint64_t notifierGeneration) {
    if (notifierGeneration != notifierGeneration_.load()) {
        return;
    }
    const ReachabilityNotification notification{kNetworkReachabilityChangedNotification,
                                                shared_from_this()};
    std::vector<ObserverId> ids;
    {
        std::lock_guard guard(observersLock_);
        for (const auto& [id, observer] : observers_) {
            ids.push_back(id);
        }
    }
    for (const ObserverId id : ids) {
        Observer observer;
        {
            // Looked up afresh: an earlier observer may have removed this one.
            std::lock_guard guard(observersLock_);
            const auto found = observers_.find(id);
            if (found == observers_.end()) {
                continue;
            }
            observer = found->second;
        }
        observer(notification);
    }
}

Reachability::ObserverId Reachability::addObserver(Observer observer) {
    std::lock_guard guard(observersLock_);
    const ObserverId id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void Reachability::removeObserver(ObserverId observer) {
    std::lock_guard guard(observersLock_);
    observers_.erase(observer);
}

}  // namespace vistamo
