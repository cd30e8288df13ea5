#include "webcam/CameraWebcam.h"

namespace vistamo {

namespace {

constexpr size_t kMaxIdentityCharacters = 64;

std::string nodeNameOf(std::string_view identity, std::string_view kind) {
    std::string name = "vistamo.";
    name += kind;
    name += '.';
    if (identity.empty()) {
        name += "unknown";
    }
    for (const char c : identity.substr(0, kMaxIdentityCharacters)) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_';
        name += kept ? c : '_';
    }
    return name;
}

}  // namespace

WebcamNodeNames webcamVideoNames(std::string_view identity, std::string_view cameraName) {
    return {nodeNameOf(identity, "camera"), std::string(cameraName) + " (vistamo)"};
}

WebcamNodeNames webcamMicrophoneNames(std::string_view identity, std::string_view cameraName) {
    return {nodeNameOf(identity, "microphone"), std::string(cameraName) + " microphone (vistamo)"};
}

CameraWebcam::CameraWebcam(std::shared_ptr<PipeWireConnection> connection,
                           std::string_view identity, std::string_view cameraName,
                           WebcamVideoNode::QueuedObserver observer)
    : video_(std::make_shared<WebcamVideoNode>(connection, webcamVideoNames(identity, cameraName),
                                               std::move(observer))),
      microphone_(std::make_shared<WebcamSoundNode>(connection,
                                                    webcamMicrophoneNames(identity, cameraName))) {}

}  // namespace vistamo
