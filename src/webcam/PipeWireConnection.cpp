#include "webcam/PipeWireConnection.h"

#include <pipewire/pipewire.h>

#include <atomic>
#include <cstring>

#include "platform/Log.h"

namespace vistamo {

namespace {

std::atomic<bool> absenceReported{false};

}  // namespace

std::shared_ptr<PipeWireConnection> PipeWireConnection::open(std::string* whyAbsent) {
    pw_init(nullptr, nullptr);
    auto connection = std::make_shared<PipeWireConnection>(Key{});
    std::string why;
    connection->loop_ = pw_thread_loop_new("pw-webcam", nullptr);
    if (connection->loop_ == nullptr) {
        why = std::string("no PipeWire loop: ") + std::strerror(errno);
    } else {
        connection->context_ =
            pw_context_new(pw_thread_loop_get_loop(connection->loop_), nullptr, 0);
        if (connection->context_ == nullptr) {
            why = std::string("no PipeWire context: ") + std::strerror(errno);
        } else if (pw_thread_loop_start(connection->loop_) < 0) {
            why = "the PipeWire loop did not start";
        } else {
            Lock lock(*connection);
            connection->core_ = pw_context_connect(connection->context_, nullptr, 0);
            if (connection->core_ == nullptr) {
                why = std::string("no PipeWire daemon to connect to: ") + std::strerror(errno);
            }
        }
    }
    if (connection->core_ != nullptr) {
        return connection;
    }
    if (!absenceReported.exchange(true)) {
        logLine("webcam off: " + why);
    }
    if (whyAbsent != nullptr) {
        *whyAbsent = why;
    }
    return nullptr;
}

PipeWireConnection::~PipeWireConnection() {
    if (loop_ != nullptr) {
        pw_thread_loop_stop(loop_);
    }
    if (core_ != nullptr) {
        pw_core_disconnect(core_);
    }
    if (context_ != nullptr) {
        pw_context_destroy(context_);
    }
    if (loop_ != nullptr) {
        pw_thread_loop_destroy(loop_);
    }
}

PipeWireConnection::Lock::Lock(const PipeWireConnection& connection)
    : loop_(connection.threadLoop()) {
    pw_thread_loop_lock(loop_);
}

PipeWireConnection::Lock::~Lock() { pw_thread_loop_unlock(loop_); }

}  // namespace vistamo
