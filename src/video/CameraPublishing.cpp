#include "video/CameraPublishing.h"

#include "session/CameraSession.h"
#include "settings/PublishSettings.h"

namespace vistamo {

std::shared_ptr<CameraPublishing> CameraPublishing::create(std::function<void()> changed) {
    return std::make_shared<CameraPublishing>(std::move(changed));
}

CameraPublishing::~CameraPublishing() { detach(); }

std::optional<std::string> CameraPublishing::identity() const {
    const auto session = session_.lock();
    return session ? session->cameraIdentity() : std::nullopt;
}

std::string CameraPublishing::rememberedAddress() const {
    const auto camera = identity();
    if (!camera) {
        return {};
    }
    const auto setting = PublishSettings::load().settingFor(*camera);
    return setting ? setting->address : std::string();
}

void CameraPublishing::remember(const std::string& address, bool publishing) const {
    const auto camera = identity();
    if (!camera) {
        return;
    }
    auto settings = PublishSettings::load();
    settings.set(*camera, {address, publishing});
    settings.save();
}

void CameraPublishing::attach(const std::shared_ptr<CameraSession>& session) {
    detach();
    session_ = session;
    const auto camera = identity();
    if (!camera) {
        return;
    }
    const auto setting = PublishSettings::load().settingFor(*camera);
    if (setting && setting->publishing) {
        if (const auto address = PublishAddress::parse(setting->address)) {
            makePublisher(*address);
        }
    }
}

void CameraPublishing::detach() {
    if (!publisher_) {
        session_.reset();
        return;
    }
    if (const auto session = session_.lock()) {
        session->removeStreamSink(publisher_.get());
    }
    publisher_->stop();
    publisher_.reset();
    session_.reset();
}

void CameraPublishing::makePublisher(const PublishAddress& address) {
    const auto session = session_.lock();
    if (!session) {
        return;
    }
    StreamPublisher::Options options;
    options.cameraName = session->cameraName();
    options.address = address;
    options.onStatus = [weakSelf = weak_from_this()](const StreamPublisher::Status& status) {
        if (const auto self = weakSelf.lock()) {
            self->status_ = status;
            if (self->changed_) {
                self->changed_();
            }
        }
    };
    publisher_ = StreamPublisher::create(std::move(options));
    status_ = publisher_->status();
    session->addStreamSink(publisher_);
}

bool CameraPublishing::start(const std::string& text, std::string* fault) {
    const auto address = PublishAddress::parse(text, fault);
    if (!address) {
        return false;
    }
    if (!session_.lock()) {
        if (fault != nullptr) {
            *fault = "The camera is not connected.";
        }
        return false;
    }
    if (publisher_) {
        const auto session = session_.lock();
        session->removeStreamSink(publisher_.get());
        publisher_->stop();
        publisher_.reset();
    }
    remember(text, true);
    makePublisher(*address);
    if (changed_) {
        changed_();
    }
    return true;
}

void CameraPublishing::stop() {
    if (!publisher_) {
        return;
    }
    remember(rememberedAddress(), false);
    const auto session = session_;
    detach();
    session_ = session;
    if (changed_) {
        changed_();
    }
}

QString CameraPublishing::statusLine() const {
    return publisher_ ? QString::fromStdString(status_.line()) : QString();
}

std::optional<StreamPublisher::Statistics> CameraPublishing::statistics() const {
    if (!publisher_) {
        return std::nullopt;
    }
    return publisher_->statistics();
}

}  // namespace vistamo
