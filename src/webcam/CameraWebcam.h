#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "webcam/PipeWireConnection.h"
#include "webcam/WebcamSoundNode.h"
#include "webcam/WebcamVideoNode.h"

namespace vistamo {

// The names one camera's nodes show to other programs. The node names come from the camera's
// identity alone (letters, digits, '-' and '_' kept, anything else as '_'), so the same camera
// is the same device in every run; the descriptions are for people.
WebcamNodeNames webcamVideoNames(std::string_view identity, std::string_view cameraName);
WebcamNodeNames webcamMicrophoneNames(std::string_view identity, std::string_view cameraName);

// One camera used as a webcam: its picture as a PipeWire camera and its sound as a microphone,
// from the moment this is made until it is released. The camera's sessions come and go (a
// window connecting again) while the nodes stay: each session gets the two sinks when it is
// attached and loses them when it is detached.
//
// Threads: made and released on any thread but the PipeWire loop's; the sinks are called as
// their classes say.
class CameraWebcam {
public:
    CameraWebcam(std::shared_ptr<PipeWireConnection> connection, std::string_view identity,
                 std::string_view cameraName, WebcamVideoNode::QueuedObserver observer = {});

    const std::shared_ptr<WebcamVideoNode>& video() const { return video_; }
    const std::shared_ptr<WebcamSoundNode>& microphone() const { return microphone_; }

private:
    // Set once in the constructor.
    std::shared_ptr<WebcamVideoNode> video_;
    std::shared_ptr<WebcamSoundNode> microphone_;
};

}  // namespace vistamo
