#pragma once

#include <QImage>
#include <atomic>
#include <optional>
#include <string>

namespace vistamo {

// Where the local camera preview takes its pictures from: the webcam, or a stand-in in tests.
//
// `open` is called once, on the main thread, before anything else. `readFrame` is then called
// over and over on the preview's reader thread, never at the same time as another operation;
// the source is destroyed on the main thread after the reader thread has ended.
class PreviewFrameSource {
public:
    virtual ~PreviewFrameSource() = default;

    // Opens the camera; the reason as text when it cannot be opened.
    virtual std::optional<std::string> open() = 0;

    // Waits for the next picture and returns it as RGBA (QImage::Format_RGBA8888), or none
    // when the source has ended or failed for good. Must return soon (within a few
    // milliseconds) once `stopping` is true; what it returns then is dropped.
    virtual std::optional<QImage> readFrame(const std::atomic<bool>& stopping) = 0;
};

}  // namespace vistamo
