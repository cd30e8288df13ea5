#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "discovery/CameraRecord.h"
#include "session/CameraSession.h"

namespace vistamo::test {

// The record of a camera on this machine at `port`, as discovery makes it.
inline std::shared_ptr<CameraRecord> loopbackCamera(uint16_t port, const std::string& name = {}) {
    auto device = std::make_shared<CameraRecord>();
    if (!name.empty()) {
        device->setName(name);
    }
    device->setAddress("127.0.0.1");
    device->setPort(port);
    return device;
}

// A session made of `parts` for a camera on this machine (its socket is made whatever
// addresses this machine has), linked to the neighbours given; not yet connected.
inline std::shared_ptr<CameraSession> makeLoopbackSession(
    SessionParts parts, const std::shared_ptr<SessionScanner>& scanner,
    const std::shared_ptr<SessionView>& view = nullptr,
    const std::shared_ptr<PictureSink>& renderer = nullptr) {
    parts.hasLocalAddress = [] { return true; };
    auto session = CameraSession::init(std::move(parts));
    session->setScanner(scanner);
    if (view) {
        session->setView(view);
    }
    if (renderer) {
        session->addPictureSink(renderer);
    }
    return session;
}

}  // namespace vistamo::test
