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

class QtDeviceButton;
struct DeviceButtonSpec;

// The product's web page: the status line's link and the Help menu's page.
inline constexpr const char* kProductWebPage = "https://vistamo.example.org/";

// The scanner window as discovery meets it: it puts each camera button discovery asks for at a
// random place of the scanner view, keeps the buttons until discovery takes them away, writes
// the status line in the user's language, and hands out the store of accepted passwords.
//
// Owned by the scanner controller, which gives discovery a weak reference to it. Main thread
// only.
class ScannerDiscoveryHost final : public DiscoveryHost {
public:
    // Localisation keys of the status line, with the texts shown where the table has none.
    static constexpr const char* kConnectToCamera = "CONNECT_TO_CAMERA";
    static constexpr const char* kConnectToCameraText = "Click a camera to watch it";
    static constexpr const char* kScanningCamera = "SCANNING_CAMERA";
    static constexpr const char* kScanningCameraText = "Looking for cameras on this network…";

    // What the host asks of the scanner controller; any field may be left empty.
    struct Hooks {
        // A click on a camera button; not after the host is gone.
        std::function<void(QtDeviceButton&)> clicked;
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
    std::shared_ptr<DeviceButton> makeDeviceButton(const std::string& title, int64_t tag) override;
    void showStatus(DiscoveryStatus status) override;
    PasswordStore* config() override { return config_; }

    // The button of `spec` on the view, moved in until it fits whole; none without a view.
    std::shared_ptr<QtDeviceButton> makeButton(const DeviceButtonSpec& spec);

    // The status line: plain text.
    void setInfomationText(const std::string& text);
    // The status line: `text` as one link over its whole length to the product's web page,
    // selectable and clickable.
    void setInfomationLink(const std::string& text);

    // The camera buttons on the view, in the order they were made.
    const std::vector<std::shared_ptr<QtDeviceButton>>& buttons() const { return buttons_; }
    // The buttons again at their places from the bottom of a view `viewHeight` high.
    void placeButtons(int viewHeight);
    // Lets go of every button, without telling discovery; at the end of the scanner.
    void dropButtons() { buttons_.clear(); }

    // A button's origin on one axis of a view `extent` points long: from 5 to extent - 66.
    int randomOrigin(double extent);

private:
    void removeButton(QtDeviceButton& button);

    // Set once at construction.
    PasswordStore* const config_;
    const Hooks hooks_;

    QPointer<QWidget> view_;
    QPointer<QLabel> statusLine_;
    std::vector<std::shared_ptr<QtDeviceButton>> buttons_;
    std::mt19937 random_{std::random_device{}()};
    // Expires with the host: buttons that outlive it no longer report their removal.
    const std::shared_ptr<void> alive_ = std::make_shared<int>(0);
};

}  // namespace vistamo
