// vistamo-camera: a stand-in for a phone camera, for tests and for trying the viewer without a
// phone. `vistamo-camera --help` describes the options, the control commands and every line
// it prints.

#include <unistd.h>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "CameraLog.h"
#include "CameraOptions.h"
#include "CameraServer.h"
#include "ControlInput.h"
#include "DiscoveryResponder.h"
#include "MediaStreamer.h"

namespace {

using namespace vistamo::camera;

void runControl(const ControlCommand& command, CameraServer& server,
                const std::function<void()>& quit) {
    using Kind = ControlCommand::Kind;
    switch (command.kind) {
        case Kind::Alarm:
            server.sendAlarm();
            break;
        case Kind::Status:
            server.sendStatus();
            break;
        case Kind::Send:
            server.sendRaw(command.bytes);
            break;
        case Kind::Close:
            server.closeConnections();
            break;
        case Kind::CloseMidBody:
            server.closeMidBody();
            break;
        case Kind::Challenge:
            server.challengeAgain();
            break;
        case Kind::RestartStream:
            server.restartStreams();
            break;
        case Kind::Quit:
            quit();
            break;
    }
}

int run(const CameraOptions& options) {
    asio::io_context context;
    auto media = std::make_unique<MediaStreamer>(context, options.media);
    if (const auto error = media->prepare()) {
        std::fprintf(stderr, "vistamo-camera: %s\n", error->c_str());
        return 1;
    }
    const auto server = std::make_shared<CameraServer>(context, options, std::move(media));
    if (const auto error = server->listen()) {
        std::fprintf(stderr, "vistamo-camera: %s\n", error->c_str());
        return 1;
    }
    printCameraLine("listening on port " + std::to_string(server->port()));
    std::unique_ptr<DiscoveryResponder> discovery;
    if (options.discovery.enabled) {
        discovery = std::make_unique<DiscoveryResponder>(context, options, server->port());
    }

    asio::signal_set signals(context, SIGINT, SIGTERM);
    std::shared_ptr<ControlInput> control;
    // Ends everything that waits on the context, so that run() returns.
    const std::function<void()> stop = [&] {
        std::error_code ignored;
        signals.cancel(ignored);
        if (control) {
            control->stop();
        }
        server->stop();
        if (discovery) {
            discovery->stop();
        }
    };
    signals.async_wait([&](const std::error_code& error, int) {
        if (!error) {
            stop();
        }
    });
    if (options.control) {
        control = std::make_shared<ControlInput>(
            context, STDIN_FILENO,
            [&](const ParsedControl& parsed, std::string_view line) {
                if (const auto* error = std::get_if<ControlError>(&parsed)) {
                    printCameraLine("control error " + error->message);
                } else if (const auto* command = std::get_if<ControlCommand>(&parsed)) {
                    // Acknowledged first: "quit" stops everything, output included.
                    printCameraLine("control ok " + std::string(line));
                    runControl(*command, *server, stop);
                }
            },
            stop);
        control->start();
    }
    server->start();
    if (discovery) {
        discovery->start();
    }
    context.run();
    printCameraLine("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Writes to a client that went away fail with EPIPE instead of ending the camera.
    std::signal(SIGPIPE, SIG_IGN);
    const auto parsed = parseCameraOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (std::holds_alternative<ShowHelp>(parsed)) {
        std::fputs(cameraHelpText().c_str(), stdout);
        return 0;
    }
    if (const auto* error = std::get_if<OptionError>(&parsed)) {
        std::fprintf(stderr, "vistamo-camera: %s\nTry 'vistamo-camera --help'.\n",
                     error->message.c_str());
        return 2;
    }
    try {
        return run(std::get<CameraOptions>(parsed));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vistamo-camera: %s\n", error.what());
        return 1;
    }
}
