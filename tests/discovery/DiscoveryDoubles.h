#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/DeviceButton.h"
#include "discovery/DiscoveryHost.h"
#include "discovery/NewDeviceReceiver.h"
#include "discovery/ZDeviceInfo.h"
#include "dispatch/MainQueue.h"
#include "platform/Bytes.h"

namespace vistamo::test {

// Runs `work` on the main queue and returns what it returns: the scanner's list and buttons
// live there.
template <typename F>
auto onMain(F&& work) {
    return dispatch::mainQueue().syncResult(std::forward<F>(work));
}

// A button that remembers what it was made with and asked to do. Main thread only.
class RecordingButton : public DeviceButton {
public:
    RecordingButton(std::string madeTitle, int64_t tag) : title(std::move(madeTitle)), tag_(tag) {}

    int64_t tag() const override { return tag_; }
    void setTag(int64_t tag) override { tag_ = tag; }
    bool isHidden() const override { return hidden_; }
    void setHidden(bool hidden) override { hidden_ = hidden; }
    void removeFromSuperview() override { removed = true; }

    const std::string title;
    bool removed = false;

private:
    int64_t tag_;
    bool hidden_ = false;
};

// The scanner window as discovery sees it: it keeps every button made on it (removed ones too,
// flagged), and the status shown, in order ("found" or "searching"). Main thread only.
class RecordingHost : public DiscoveryHost {
public:
    std::shared_ptr<DeviceButton> makeDeviceButton(const std::string& title, int64_t tag) override {
        if (!makesButtons) {
            return nullptr;
        }
        buttons.push_back(std::make_shared<RecordingButton>(title, tag));
        return buttons.back();
    }
    void showStatus(DiscoveryStatus shown) override {
        status.push_back(shown == DiscoveryStatus::CamerasFound ? "found" : "searching");
    }
    ZConfig* config() override { return store; }

    bool makesButtons = true;
    ZConfig* store = nullptr;
    std::vector<std::shared_ptr<RecordingButton>> buttons;
    std::vector<std::string> status;
};

class RecordingDialog : public NewDeviceReceiver {
public:
    void setNewDevBtn(const std::shared_ptr<DeviceButton>& button) override {
        handed.push_back(button);
    }
    std::vector<std::shared_ptr<DeviceButton>> handed;  // main thread only
};

inline std::shared_ptr<RecordingButton> buttonOf(const std::shared_ptr<ZDeviceInfo>& record) {
    return std::dynamic_pointer_cast<RecordingButton>(record->button().lock());
}

// A socket address as the UDP socket hands it over.
inline Bytes socketAddress(const std::string& host, uint16_t port) {
    sockaddr_in6 address6{};
    if (::inet_pton(AF_INET6, host.c_str(), &address6.sin6_addr) == 1) {
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address6);
        return Bytes(bytes, bytes + sizeof address6);
    }
    sockaddr_in address4{};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &address4.sin_addr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&address4);
    return Bytes(bytes, bytes + sizeof address4);
}

}  // namespace vistamo::test
