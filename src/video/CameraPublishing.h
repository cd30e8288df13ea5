#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "publish/StreamPublisher.h"

namespace vistamo {

class CameraSession;

// Publishing one camera window's camera to a media server. It remembers for each camera (in
// PublishSettings, by the camera's identity) the server's address and whether the camera
// publishes; while it does, every session the window attaches gets a StreamPublisher of its
// own, so publishing starts again whenever the camera's session is up. It says how publishing
// goes: one line over the picture and the figures of the statistics panel.
//
// Main thread only. The publisher's status comes back through the main queue, to a weak
// reference: `changed` runs there (the view redraws) while this object lives.
class CameraPublishing final : public std::enable_shared_from_this<CameraPublishing> {
public:
    static std::shared_ptr<CameraPublishing> create(std::function<void()> changed);
    explicit CameraPublishing(std::function<void()> changed) : changed_(std::move(changed)) {}
    ~CameraPublishing();

    // Publishes the session's stream when the camera publishes; `detach` lets it go.
    void attach(const std::shared_ptr<CameraSession>& session);
    void detach();

    // Whether the camera publishes (also while its server is unreachable or refused).
    bool isPublishing() const { return publisher_ != nullptr; }
    // The camera's remembered address (for the dialog), empty when there is none.
    std::string rememberedAddress() const;

    // Starts publishing to `address` and remembers it; false, with a reason a user can act on
    // in `*fault`, when the address is malformed or there is no session.
    bool start(const std::string& address, std::string* fault = nullptr);
    // Stops publishing and remembers that the camera does not publish.
    void stop();

    // The line over the picture; empty while not publishing.
    QString statusLine() const;
    // The publisher's figures for the statistics panel; none while not publishing.
    std::optional<StreamPublisher::Statistics> statistics() const;

private:
    std::optional<std::string> identity() const;
    void remember(const std::string& address, bool publishing) const;
    void makePublisher(const PublishAddress& address);

    const std::function<void()> changed_;
    std::weak_ptr<CameraSession> session_;
    std::shared_ptr<StreamPublisher> publisher_;
    StreamPublisher::Status status_;
};

}  // namespace vistamo
