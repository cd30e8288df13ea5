#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CameraConnection.h"
#include "CameraOptions.h"
#include "CameraState.h"
#include "StreamSource.h"

namespace vistamo::camera {

// The camera: listens for clients, keeps one CameraConnection per client and the one
// CameraState they all share, reports every state change to every client, and sends alarms
// while the motion guard is armed (with --alarm-every).
//
// Lifecycle: construct, listen, start, stop. After stop nothing of it is left waiting on the
// io_context, so `run` returns once the other users of the context are done too.
// Threads: the io_context's one thread only.
class CameraServer : public CameraConnection::Delegate,
                     public std::enable_shared_from_this<CameraServer> {
public:
    // Made with std::make_shared: connections and handlers point back to it weakly.
    CameraServer(asio::io_context& context, const CameraOptions& options,
                 std::unique_ptr<StreamSource> streamSource);

    // Opens the listening socket as the options say; an error text for people on failure.
    std::optional<std::string> listen();
    // The port really listened on (after listen).
    uint16_t port() const;
    // Starts accepting clients.
    void start();
    // Stops accepting, closes every connection at once and stops the alarm timer.
    void stop();

    // What the control commands ask for; each acts on every open connection.
    void sendAlarm();
    void sendStatus();
    void sendRaw(const Bytes& bytes);
    void closeConnections();
    void closeMidBody();
    void challengeAgain();
    void restartStreams();
    size_t connectionCount() const { return connections_.size(); }

    // CameraConnection::Delegate
    void clientVerified(CameraConnection& connection) override;
    void cameraCommand(CameraConnection& connection, const CommandHeader& header) override;
    void intercomAudio(CameraConnection& connection, ByteView packet) override;
    void connectionClosed(CameraConnection& connection) override;

private:
    // Dual: an IPv6 socket that takes IPv4 clients too.
    enum class Stack { Dual, Single };
    std::error_code openAcceptor(const asio::ip::tcp::endpoint& endpoint, Stack stack);
    void acceptNext();
    void accepted(const std::error_code& error, asio::ip::tcp::socket socket);
    void updateAlarmTimer();
    void startAlarmTimer();
    // The open connections, copied: a call on one may close it and so change the map.
    std::vector<std::shared_ptr<CameraConnection>> openConnections() const;
    void broadcast(const Bytes& message);

    // Set once at construction.
    const CameraOptions options_;
    const CameraIdentity identity_;
    const std::unique_ptr<StreamSource> streamSource_;

    // The io_context's thread only.
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer acceptRetryTimer_;
    std::map<int, std::shared_ptr<CameraConnection>> connections_;
    int nextConnectionNumber_ = 1;
    CameraState state_;
    asio::steady_timer alarmTimer_;
    // Counts alarm timer starts and stops, so that a tick already queued when the timer was
    // stopped or restarted sees it is stale.
    uint64_t alarmGeneration_ = 0;
    bool alarmTimerRunning_ = false;
    bool stopped_ = false;
};

}  // namespace vistamo::camera
