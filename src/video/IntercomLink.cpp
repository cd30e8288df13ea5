#include "video/IntercomLink.h"

#include "media/OpusCodec.h"
#include "media/PCMRecorder.h"
#include "session/CameraSession.h"

namespace vistamo {

IntercomLink::IntercomLink() : opus(std::make_shared<OpusCodec>(AudioEndpoint::none)) {}

IntercomLink::~IntercomLink() = default;

void IntercomLink::attach(const std::shared_ptr<IntercomLink>& link, PCMRecorder& recorder) {
    recorder.setDelegate(link);
    link->opus->setDelegate(link);
}

void IntercomLink::setSocket(std::weak_ptr<CameraSession> session) {
    std::lock_guard guard(lock_);
    socket_ = std::move(session);
}

std::shared_ptr<CameraSession> IntercomLink::socket() const {
    std::lock_guard guard(lock_);
    return socket_.lock();
}

void IntercomLink::getPCMData(Bytes chunk) { opus->encodePCMData(chunk); }

void IntercomLink::getOpusData(Bytes packet) {
    if (auto session = socket()) {
        session->sendOpus(packet);
    }
}

}  // namespace vistamo
