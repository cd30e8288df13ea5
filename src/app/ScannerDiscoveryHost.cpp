#include "app/ScannerDiscoveryHost.h"

#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cmath>

#include "app/QtDeviceButton.h"
#include "discovery/CameraRecord.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "settings/PasswordStore.h"

namespace vistamo {

namespace {

// A button's origin is drawn from [0, extent - kButtonReach) and moved kButtonMargin in from the
// edge: it lies from 5 to extent - 66 on each axis.
constexpr int kButtonMargin = 5;
constexpr int kButtonReach = 70;

}  // namespace

ScannerDiscoveryHost::ScannerDiscoveryHost(PasswordStore* config, Hooks hooks)
    : config_(config), hooks_(std::move(hooks)) {}

ScannerDiscoveryHost::~ScannerDiscoveryHost() = default;

void ScannerDiscoveryHost::attach(QWidget* view, QLabel* statusLine) {
    view_ = view;
    statusLine_ = statusLine;
}

int ScannerDiscoveryHost::randomOrigin(double extent) {
    // The extent goes through single precision and is truncated, as the view reports it.
    const float single = static_cast<float>(extent);
    const int whole = std::isfinite(single) && single > 0
                          ? static_cast<int>(std::min(single, static_cast<float>(INT_MAX / 2)))
                          : 0;
    const int span = whole - kButtonReach;
    // A view too small to hold a button gets it at the margin.
    if (span <= 0) {
        return kButtonMargin;
    }
    return std::uniform_int_distribution<int>(0, span - 1)(random_) + kButtonMargin;
}

void ScannerDiscoveryHost::cameraAdded(const std::shared_ptr<CameraRecord>& camera) {
    if (const auto uuid = camera->uuid(); uuid && config_ != nullptr) {
        camera->setPassword(config_->getPassword(*uuid));
    }
    makeButtonAtRandomPlace(camera);
}

void ScannerDiscoveryHost::cameraChanged(const std::shared_ptr<CameraRecord>& camera) {
    if (const auto button = buttonOf(camera)) {
        button->setButtonHidden(false);
    } else {
        // The view was not there when the camera was added.
        makeButtonAtRandomPlace(camera);
    }
}

void ScannerDiscoveryHost::cameraGone(const std::shared_ptr<CameraRecord>& camera) {
    if (const auto button = buttonOf(camera)) {
        button->setButtonHidden(true);
    }
}

void ScannerDiscoveryHost::cameraRemoved(const std::shared_ptr<CameraRecord>& camera) {
    if (const auto button = buttonOf(camera)) {
        removeButton(*button);
    }
}

void ScannerDiscoveryHost::makeButtonAtRandomPlace(const std::shared_ptr<CameraRecord>& camera) {
    if (!view_) {
        return;
    }
    DeviceButtonSpec spec;
    spec.x = randomOrigin(view_->width());
    spec.y = randomOrigin(view_->height());
    spec.title = camera->name().value_or("");
    makeButton(spec, camera);
}

std::shared_ptr<QtDeviceButton> ScannerDiscoveryHost::makeButton(
    const DeviceButtonSpec& spec, const std::shared_ptr<CameraRecord>& camera) {
    if (!view_) {
        return nullptr;
    }
    // The random place may leave part of a wider button outside the view: it is moved in until
    // it fits whole.
    DeviceButtonSpec placed = spec;
    placed.x = std::clamp(placed.x, 0, std::max(0, view_->width() - placed.width));
    placed.y = std::clamp(placed.y, 0, std::max(0, view_->height() - placed.height));
    auto button = std::make_shared<QtDeviceButton>(
        view_.data(), placed,
        [clicked = hooks_.clicked, alive = std::weak_ptr<void>(alive_),
         weakCamera = std::weak_ptr<CameraRecord>(camera)](QtDeviceButton& button) {
            if (clicked && !alive.expired()) {
                clicked(weakCamera.lock(), button);
            }
        });
    // Above the radar and the centre button, below the preview when it runs.
    if (QWidget* cover = hooks_.cover ? hooks_.cover() : nullptr) {
        button->widget()->stackUnder(cover);
    }
    shown_.push_back({camera, button});
    // Where the button went, in the scanner window's coordinates (origin top left): the
    // buttons are placed at random, and this is how a person or a test finds one.
    const QPoint centre = button->widget()->geometry().center();
    const QPoint inWindow =
        view_->window() != nullptr ? view_->mapTo(view_->window(), centre) : centre;
    debugLine("camera \"" + spec.title + "\" found; its button is at " +
              std::to_string(inWindow.x()) + "," + std::to_string(inWindow.y()) +
              " in the scanner window");
    return button;
}

std::shared_ptr<QtDeviceButton> ScannerDiscoveryHost::buttonOf(
    const std::shared_ptr<CameraRecord>& camera) const {
    const auto found = std::find_if(shown_.begin(), shown_.end(), [&](const ShownCamera& entry) {
        return camera && entry.camera.lock() == camera;
    });
    return found != shown_.end() ? found->button : nullptr;
}

void ScannerDiscoveryHost::removeButton(const QtDeviceButton& button) {
    // The erased entry may be the last owner of `button`: nothing touches it afterwards.
    std::erase_if(shown_, [&](const ShownCamera& entry) { return entry.button.get() == &button; });
}

std::vector<std::shared_ptr<QtDeviceButton>> ScannerDiscoveryHost::buttons() const {
    std::vector<std::shared_ptr<QtDeviceButton>> buttons;
    buttons.reserve(shown_.size());
    for (const auto& entry : shown_) {
        buttons.push_back(entry.button);
    }
    return buttons;
}

void ScannerDiscoveryHost::placeButtons(int viewHeight) {
    for (const auto& entry : shown_) {
        entry.button->place(viewHeight);
    }
}

void ScannerDiscoveryHost::showStatus(DiscoveryStatus status) {
    switch (status) {
        case DiscoveryStatus::CamerasFound:
            setInfomationText(localizedString(kConnectToCamera, kConnectToCameraText));
            break;
        case DiscoveryStatus::Searching:
            setInfomationLink(localizedString(kScanningCamera, kScanningCameraText));
            break;
    }
}

void ScannerDiscoveryHost::setInfomationText(const std::string& text) {
    if (!statusLine_) {
        return;
    }
    statusLine_->setTextFormat(Qt::PlainText);
    statusLine_->setTextInteractionFlags(Qt::NoTextInteraction);
    statusLine_->setText(QString::fromStdString(text));
}

void ScannerDiscoveryHost::setInfomationLink(const std::string& text) {
    if (!statusLine_) {
        return;
    }
    statusLine_->setTextFormat(Qt::RichText);
    statusLine_->setText(
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(QString::fromUtf8(kProductWebPage), QString::fromStdString(text).toHtmlEscaped()));
    statusLine_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    statusLine_->setOpenExternalLinks(true);
}

}  // namespace vistamo
