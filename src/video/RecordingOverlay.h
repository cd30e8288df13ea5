#pragma once

#include <QRectF>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

class QPaintDevice;
class QPainter;

namespace vistamo {

struct VideoViewport;

// What a camera window draws over its picture about recording and publishing: a red dot with
// the running time while the camera records (top right of the picture), the last notice about
// it for a while (one line along the picture's top), and while the camera publishes a small
// line saying how (top right, below the red dot). Never over the control bar: everything stays
// inside the picture's rectangle.
//
// Main thread only.
class RecordingOverlay {
public:
    using Clock = std::chrono::steady_clock;
    // How long a notice stays up.
    static constexpr std::chrono::seconds kNoticeTime{10};

    // Seconds since recording began, or none while the camera is not recording.
    void setRecordingSource(std::function<std::optional<double>()> source) {
        source_ = std::move(source);
    }
    void showNotice(const QString& text, Clock::time_point now = Clock::now());
    // The publishing line, empty while the camera does not publish.
    void setPublishingSource(std::function<QString()> source) { publishing_ = std::move(source); }

    // Draws over the picture that fills `viewport` (backing pixels, origin at the bottom left)
    // of `device`, whose size is in points; paints nothing when there is nothing to show.
    void paintOver(QPaintDevice& device, const VideoViewport& viewport, double scale);
    // Draws over `picture` (the video's rectangle, in points, origin at the top left).
    void paint(QPainter& painter, const QRectF& picture, Clock::time_point now = Clock::now());

    // The running time as the window shows it: "0:07", "12:30", "1:02:03".
    static QString runningTime(double seconds);

    bool hasSomethingToShow(Clock::time_point now) const {
        return isRecording() || (!notice_.isEmpty() && now < noticeUntil_) ||
               !publishingLine().isEmpty();
    }
    QString publishingLine() const { return publishing_ ? publishing_() : QString(); }
    bool isRecording() const { return source_ && source_().has_value(); }
    const QString& notice() const { return notice_; }

private:
    std::function<std::optional<double>()> source_;
    std::function<QString()> publishing_;
    QString notice_;
    Clock::time_point noticeUntil_{};
};

}  // namespace vistamo
