#include "video/IntercomLink.h"

#include "media/PCMRecorder.h"
#include "media/opusCodec.h"
#include "session/clientSocket.h"

namespace vistamo {

IntercomLink::IntercomLink() : opus(std::make_shared<opusCodec>(AudioEndpoint::none)) {}

IntercomLink::~IntercomLink() = default;

void IntercomLink::attach(const std::shared_ptr<IntercomLink>& link, PCMRecorder& recorder) {
    recorder.setDelegate(link);
    link->opus->setDelegate(link);
}

void IntercomLink::setSocket(std::weak_ptr<clientSocket> session) {
    std::lock_guard guard(lock_);
    socket_ = std::move(session);
}

std::shared_ptr<clientSocket> IntercomLink::socket() const {
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
