#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "discovery/DiscoveryHost.h"

class QLabel;
class QWidget;

namespace vistamo {

class CameraRecord;
class PasswordStore;
class QtDeviceButton;
struct DeviceButtonSpec;

// The product's web page: the status line's link and the Help menu's page.
inline constexpr const char* kProductWebPage = "https://vistamo.example.org/";

// The scanner window as discovery meets it: it shows each camera discovery lists as a button at
// a random place of the scanner view, hides it while the camera is gone, takes it away when the
// camera leaves the list, maps a click on it to the camera's record, and writes the status line
// in the user's language. A camera it hears of first gets the password the store of accepted
// passwords holds for its identity.
//
// Owned by the scanner controller, which gives discovery a weak reference to it. Main thread
// only: discovery reports there, and the buttons' widgets live there.
class ScannerDiscoveryHost final : public DiscoveryHost {
public:
    // Localisation keys of the status line, with the texts shown where the table has none.
    static constexpr const char* kConnectToCamera = "CONNECT_TO_CAMERA";
    static constexpr const char* kConnectToCameraText = "Click a camera to watch it";
    static constexpr const char* kScanningCamera = "SCANNING_CAMERA";
    static constexpr const char* kScanningCameraText = "Looking for cameras on this network…";

    // What the host asks of the scanner controller; any field may be left empty.
    struct Hooks {
        // A click on the button of `camera`; not after the host is gone. `camera` is none when
        // the record has gone from everywhere while its button stayed.
        std::function<void(const std::shared_ptr<CameraRecord>& camera, QtDeviceButton& button)>
            clicked;
        // The view new buttons go under (the local camera preview while it runs); none for the
        // top of the view.
        std::function<QWidget*()> cover;
    };

    ScannerDiscoveryHost(PasswordStore* config, Hooks hooks);
    ~ScannerDiscoveryHost() override;

    ScannerDiscoveryHost(const ScannerDiscoveryHost&) = delete;
    ScannerDiscoveryHost& operator=(const ScannerDiscoveryHost&) = delete;

    // The view the buttons go on and its status line; until then no button is made and the
    // status line is not written.
    void attach(QWidget* view, QLabel* statusLine);

    // ---- DiscoveryHost ----
    // A button titled with the camera's name, at a random place.
    void cameraAdded(const std::shared_ptr<CameraRecord>& camera) override;
    // The camera's button shows again; one is made when it has none. Its title stays.
    void cameraChanged(const std::shared_ptr<CameraRecord>& camera) override;
    void cameraGone(const std::shared_ptr<CameraRecord>& camera) override;
    void cameraRemoved(const std::shared_ptr<CameraRecord>& camera) override;
    void showStatus(DiscoveryStatus status) override;

    // The button of `camera` as `spec` says, moved in until it fits whole; none without a view.
    std::shared_ptr<QtDeviceButton> makeButton(const DeviceButtonSpec& spec,
                                               const std::shared_ptr<CameraRecord>& camera);
    // The button showing `camera`; none when it has none.
    std::shared_ptr<QtDeviceButton> buttonOf(const std::shared_ptr<CameraRecord>& camera) const;
    // Takes `button` off the view.
    void removeButton(const QtDeviceButton& button);

    // The status line: plain text.
    void setInfomationText(const std::string& text);
    // The status line: `text` as one link over its whole length to the product's web page,
    // selectable and clickable.
    void setInfomationLink(const std::string& text);

    // The camera buttons on the view, in the order they were made.
    std::vector<std::shared_ptr<QtDeviceButton>> buttons() const;
    // The buttons again at their places from the bottom of a view `viewHeight` high.
    void placeButtons(int viewHeight);
    // Lets go of every button; at the end of the scanner.
    void dropButtons() { shown_.clear(); }

    // A button's origin on one axis of a view `extent` points long: from 5 to extent - 66.
    int randomOrigin(double extent);

private:
    // A camera's button; the record is held weakly, as discovery's list owns it.
    struct ShownCamera {
        std::weak_ptr<CameraRecord> camera;
        std::shared_ptr<QtDeviceButton> button;
    };

    void makeButtonAtRandomPlace(const std::shared_ptr<CameraRecord>& camera);

    // Set once at construction.
    PasswordStore* const config_;
    const Hooks hooks_;

    // Main thread only.
    QPointer<QWidget> view_;
    QPointer<QLabel> statusLine_;
    std::vector<ShownCamera> shown_;
    std::mt19937 random_{std::random_device{}()};
    // Expires with the host: a click on a button that outlives it is not reported.
    const std::shared_ptr<void> alive_ = std::make_shared<int>(0);
};

}  // namespace vistamo
