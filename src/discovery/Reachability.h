#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/ReachabilitySource.h"

namespace vistamo {

namespace dispatch {
class SerialQueue;
}

class Reachability;

// Whether the network can be reached.
enum NetworkStatus : int32_t {
    NotReachable = 0,
    Reachable = 1,  // over a wired or wireless local network
};

// The name of the notification a watcher posts when its flags change.
inline constexpr std::string_view kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

// What an observer receives: the notification's name and the watcher that posted it.
struct ReachabilityNotification {
    std::string_view name;
    std::shared_ptr<Reachability> object;
};

// A watcher of network reachability, and the notifier of its changes.
//
// Every watcher works on a serial queue of its own ("Reachability"). Its thread starts when the
// watcher is made and lives in the network namespace of the thread that made it; the kernel's
// state is read there, whoever asks. A watcher made for a host name or an address judges the
// local network as a whole: whether this machine can reach anything beyond itself. No name is
// looked up.
//
// Notification: between startNotifier and stopNotifier (or destruction), each change of the
// flags posts kNetworkReachabilityChangedNotification to the watcher's observers, on the main
// queue (dispatch::mainQueue()), with the watcher as object. Observers are registered on the
// watcher itself; a notification still on its way when the notifier stops, or when the watcher
// goes away, is dropped.
//
// Threads: every operation may be called from any thread. Those that read the network wait for
// the watcher's queue, which itself never waits for another queue. Destruction may happen on
// any thread, the main queue included; it stops the notifier and joins the queue's thread.
class Reachability : public std::enable_shared_from_this<Reachability> {
    struct Private {
        explicit Private() = default;
    };

public:
    using Observer = std::function<void(const ReachabilityNotification&)>;
    using ObserverId = uint64_t;

    // A watcher for a host name; none for an empty name.
    static std::shared_ptr<Reachability> forHostName(const std::string& hostName);
    // A watcher for a socket address of `addressLength` bytes; none unless it is a whole IPv4 or
    // IPv6 socket address.
    static std::shared_ptr<Reachability> forAddress(const sockaddr* hostAddress,
                                                    socklen_t addressLength);
    // A watcher for the zero IPv4 address: the network in general.
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    // A watcher over a source of the caller's choosing (ManualReachabilitySource in tests).
    static std::shared_ptr<Reachability> withSource(std::shared_ptr<ReachabilitySource> source);

    Reachability(Private, std::shared_ptr<ReachabilitySource> source);
    ~Reachability();

    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // Starts watching for changes; true on success (also when already started), false when the
    // kernel refuses (logged).
    bool startNotifier();
    // Stops watching. Called on the main queue, no notification is delivered after it returns;
    // called elsewhere, one already being delivered may still finish.
    void stopNotifier();

    // The status for the flags now; NotReachable when they cannot be read.
    NetworkStatus currentReachabilityStatus() const;
    static NetworkStatus networkStatusForFlags(ReachabilityFlags flags);
    // Whether the connection-required flag is set now; false when the flags cannot be read.
    bool connectionRequired() const;

    // Registers an observer of kNetworkReachabilityChangedNotification; it is called on the
    // main queue. Any thread.
    ObserverId addObserver(Observer observer);
    // Unregisters it. Called on the main queue (an observer may remove itself or others), no
    // call follows; called elsewhere, a call already under way may still finish.
    void removeObserver(ObserverId observer);

private:
    std::optional<ReachabilityFlags> readFlags() const;
    void sourceChanged();
    void postChange(uint64_t notifierGeneration);

    // Set once at construction; the queue goes last, after the source has been released on it.
    const std::shared_ptr<dispatch::SerialQueue> queue_;

    // The watcher's queue only.
    std::shared_ptr<ReachabilitySource> source_;
    bool notifying_ = false;
    std::optional<ReachabilityFlags> lastFlags_;

    // Written on the watcher's queue, read on the main queue: a notification posted under an
    // earlier count belongs to a notifier that has stopped.
    std::atomic<uint64_t> notifierGeneration_{0};

    // Guarded by observersLock_.
    std::mutex observersLock_;
    std::map<ObserverId, Observer> observers_;
    ObserverId nextObserver_ = 1;
};

}  // namespace vistamo
