#include "CameraServer.h"

#include <asio/ip/v6_only.hpp>
#include <chrono>

#include "CameraLog.h"

namespace vistamo::camera {

namespace {

// How long to wait before accepting again after the system refused (out of descriptors, say).
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);

}  // namespace

CameraServer::CameraServer(asio::io_context& context, const CameraOptions& options,
                           std::unique_ptr<StreamSource> streamSource)
    : options_(options),
      identity_{options.uuid, options.name, options.password},
      streamSource_(std::move(streamSource)),
      acceptor_(context),
      acceptRetryTimer_(context),
      alarmTimer_(context) {}

std::error_code CameraServer::openAcceptor(const asio::ip::tcp::endpoint& endpoint, Stack stack) {
    std::error_code error;
    acceptor_.close(error);
    error.clear();
    acceptor_.open(endpoint.protocol(), error);
    if (!error && endpoint.protocol() == asio::ip::tcp::v6()) {
        acceptor_.set_option(asio::ip::v6_only(stack != Stack::Dual), error);
    }
    if (!error) {
        acceptor_.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        acceptor_.bind(endpoint, error);
    }
    if (!error) {
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        std::error_code ignored;
        acceptor_.close(ignored);
    }
    return error;
}

std::optional<std::string> CameraServer::listen() {
    std::error_code error;
    std::string where;
    if (options_.bindAddress.empty()) {
        // One dual-stack socket, so that port 0 gives one port for both families; IPv4 alone
        // where the host has no IPv6.
        error = openAcceptor({asio::ip::tcp::v6(), options_.port}, Stack::Dual);
        if (error) {
            error = openAcceptor({asio::ip::tcp::v4(), options_.port}, Stack::Single);
        }
        where = "port " + std::to_string(options_.port);
    } else {
        const auto address = asio::ip::make_address(options_.bindAddress, error);
        if (!error) {
            error = openAcceptor({address, options_.port}, Stack::Single);
        }
        where = options_.bindAddress + " port " + std::to_string(options_.port);
    }
    if (error) {
        return "cannot listen on " + where + ": " + error.message();
    }
    return std::nullopt;
}

uint16_t CameraServer::port() const {
    std::error_code error;
    return acceptor_.local_endpoint(error).port();
}

void CameraServer::start() { acceptNext(); }

void CameraServer::stop() {
    stopped_ = true;
    std::error_code ignored;
    acceptor_.close(ignored);
    acceptRetryTimer_.cancel();
    ++alarmGeneration_;
    alarmTimerRunning_ = false;
    alarmTimer_.cancel();
    // Closing ones too: a client that does not read would hold their last writes up forever.
    std::vector<std::shared_ptr<CameraConnection>> all;
    for (const auto& [number, connection] : connections_) {
        all.push_back(connection);
    }
    for (const auto& connection : all) {
        connection->close(CameraConnection::CloseMode::Now);
    }
}

void CameraServer::acceptNext() {
    if (stopped_) {
        return;
    }
    acceptor_.async_accept(
        [weak = weak_from_this()](const std::error_code& error, asio::ip::tcp::socket socket) {
            if (const auto self = weak.lock()) {
                self->accepted(error, std::move(socket));
            }
        });
}

void CameraServer::accepted(const std::error_code& error, asio::ip::tcp::socket socket) {
    if (stopped_ || error == asio::error::operation_aborted) {
        return;
    }
    if (error) {
        printCameraLine("accept error " + error.message());
        acceptRetryTimer_.expires_after(kAcceptRetryDelay);
        acceptRetryTimer_.async_wait([weak = weak_from_this()](const std::error_code& waited) {
            const auto self = weak.lock();
            if (self && !waited) {
                self->acceptNext();
            }
        });
        return;
    }
    const int number = nextConnectionNumber_++;
    auto connection =
        std::make_shared<CameraConnection>(std::move(socket), number, identity_, weak_from_this());
    connections_.emplace(number, connection);
    connection->start();
    acceptNext();
}

std::vector<std::shared_ptr<CameraConnection>> CameraServer::openConnections() const {
    std::vector<std::shared_ptr<CameraConnection>> open;
    for (const auto& [number, connection] : connections_) {
        if (connection->isOpen()) {
            open.push_back(connection);
        }
    }
    return open;
}

void CameraServer::broadcast(const Bytes& message) {
    for (const auto& connection : openConnections()) {
        connection->sendMessage(message);
    }
}

void CameraServer::sendAlarm() { broadcast(makeMessage(CmdAlarm)); }

void CameraServer::sendStatus() { broadcast(state_.statusMessage()); }

void CameraServer::sendRaw(const Bytes& bytes) {
    for (const auto& connection : openConnections()) {
        connection->sendRaw(bytes);
    }
}

void CameraServer::closeConnections() {
    for (const auto& connection : openConnections()) {
        connection->close();
    }
}

void CameraServer::closeMidBody() {
    for (const auto& connection : openConnections()) {
        connection->closeMidBody();
    }
}

void CameraServer::challengeAgain() {
    for (const auto& connection : openConnections()) {
        connection->challenge();
    }
}

void CameraServer::restartStreams() { streamSource_->restartStreams(); }

void CameraServer::clientVerified(CameraConnection& connection) {
    connection.sendMessage(state_.statusMessage());
}

void CameraServer::cameraCommand(CameraConnection& connection, const CommandHeader& header) {
    if (header.command == CmdRequestStream) {
        printConnectionLine(connection.number(), "stream requested");
        if (!connection.verified()) {
            printConnectionLine(connection.number(), "stream refused not-verified");
            return;
        }
        streamSource_->streamRequested(connection.shared_from_this());
        return;
    }
    if (state_.apply(header.command)) {
        // Every client shows the camera's state, so every client hears of the change.
        sendStatus();
        updateAlarmTimer();
    }
}

void CameraServer::intercomAudio(CameraConnection& connection, ByteView packet) {
    if (!connection.verified()) {
        printConnectionLine(connection.number(), "intercom refused not-verified");
        return;
    }
    streamSource_->intercomAudio(connection, packet);
}

void CameraServer::connectionClosed(CameraConnection& connection) {
    streamSource_->connectionClosed(connection);
    connections_.erase(connection.number());
}

void CameraServer::updateAlarmTimer() {
    if (options_.alarmEverySeconds <= 0 || stopped_) {
        return;
    }
    if (state_.guarding() && !alarmTimerRunning_) {
        alarmTimerRunning_ = true;
        ++alarmGeneration_;
        startAlarmTimer();
    } else if (!state_.guarding() && alarmTimerRunning_) {
        alarmTimerRunning_ = false;
        ++alarmGeneration_;
        alarmTimer_.cancel();
    }
}

void CameraServer::startAlarmTimer() {
    alarmTimer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options_.alarmEverySeconds)));
    alarmTimer_.async_wait(
        [weak = weak_from_this(), generation = alarmGeneration_](const std::error_code& error) {
            const auto self = weak.lock();
            if (!self || error || generation != self->alarmGeneration_) {
                return;
            }
            self->sendAlarm();
            self->startAlarmTimer();
        });
}

}  // namespace vistamo::camera
