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

void IntercomLink::setSession(std::weak_ptr<CameraSession> session) {
    std::lock_guard guard(lock_);
    session_ = std::move(session);
}

void IntercomLink::getPCMData(Bytes chunk) { opus->encodePCMData(chunk); }

void IntercomLink::getOpusData(Bytes packet) {
    std::shared_ptr<CameraSession> session;
    {
        std::lock_guard guard(lock_);
        session = session_.lock();
    }
    if (session) {
        session->sendOpus(packet);
    }
}

}  // namespace vistamo
