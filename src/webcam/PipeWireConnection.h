#pragma once

#include <memory>
#include <string>

struct pw_thread_loop;
struct pw_context;
struct pw_core;

namespace vistamo {

// This program's connection to the PipeWire daemon: one thread loop (thread "pw-webcam") with
// its context and core, on which every webcam node lives.
//
// Threads: `open` and the destructor on any thread but the loop's own. The loop's objects
// (streams, events, timers) are made, changed and destroyed only with the loop locked (`Lock`)
// or on the loop's thread, whose callbacks run with it locked.
class PipeWireConnection {
public:
    // Starts the loop and connects; none when PipeWire is absent (no daemon, no socket), with
    // why in `*whyAbsent` and one log line for the whole run.
    static std::shared_ptr<PipeWireConnection> open(std::string* whyAbsent = nullptr);
    // Disconnects and stops the loop. Every node made on it must be gone already.
    ~PipeWireConnection();

    PipeWireConnection(const PipeWireConnection&) = delete;
    PipeWireConnection& operator=(const PipeWireConnection&) = delete;

    pw_thread_loop* threadLoop() const { return loop_; }
    pw_core* core() const { return core_; }

    // Holds the loop's lock for its lifetime.
    class Lock {
    public:
        explicit Lock(const PipeWireConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pw_thread_loop* loop_;
    };

    class Key {
        friend class PipeWireConnection;
        Key() = default;
    };
    explicit PipeWireConnection(Key) {}

private:
    // Set once in `open`.
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
};

}  // namespace vistamo
