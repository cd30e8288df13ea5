// Time from the test camera sending a picture to the frame swap that first shows it, through the
// real session, decoder, renderer and view, over loopback and under an X display (Xvfb: Mesa's
// llvmpipe draws in software). The camera streams a stored loop (--loop), so its own encoder
// costs nothing while pictures are measured.
//
//   latency [seconds per stream]     default 6
//
// Each picture is recognised by the frame number drawn into it. The camera sends one picture
// per tick in decode order; the picture handed to the decoder k-th was sent at tick k, at
// t0 + k / fps, where t0 is taken as the earliest (hand-in time - k / fps): loopback transit
// and the session's handling count from the fastest picture on, so the first stage is a lower
// bound. With one B picture between reference pictures (groups of 25, odd), picture n of a
// group (n counted from its key frame) goes out at tick n for n = 0, n + 1 for odd n (a B
// picture) and n - 1 for even n (the reference picture sent before it).
//
// Stages: camera to the socket's completed read of the picture's (last) video message (loopback
// transit, from the estimate above: a lower bound), socket to session (the read's completion on
// the socket's queue to the session's handling of it on "Client Queue", seen through the
// session's video observer), session to the decoder's hand-in, decoding (with the wait in the
// decoder's queue, up to the picture's making), the reorder hold (made to handed on), waiting
// for the main thread (the one-picture mailbox), and upload and draw up to the frame swap that
// first showed the picture. A picture replaced in the mailbox or uploaded but never
// swapped counts as dropped, as do the decoder's own drops.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/CameraRecord.h"
#include "dispatch/MainQueue.h"
#include "media/DecodedFrame.h"
#include "media/FrameMailbox.h"
#include "media/H264Decoder.h"
#include "session/CameraSession.h"
#include "support/CameraProcess.h"
#include "support/TestStream.h"
#include "support/qt/QtWait.h"
#include "video/QtMainQueue.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"

using namespace vistamo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFps = 30;
constexpr int kGop = 25;
constexpr int kLoopSeconds = 2;
constexpr int kLoopPictures = (kLoopSeconds * kFps + kGop - 1) / kGop * kGop;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int frameNumberOf(const DecodedFrame& frame) {
    return test::readFrameNumber(frame.plane(0), frame.stride(0), frame.width(), frame.height());
}

// When a picture's last video message was read on the socket's queue, handled by the session
// and handed to the decoder.
struct Arrival {
    Clock::time_point read;
    Clock::time_point handled;
    Clock::time_point handedIn;
};

// The session's decoder, noting when each picture is handed in, with the times the session's
// video observer gave for the message that completed it.
class TimingDecoder : public SessionDecoder {
public:
    // "Client Queue", as the session begins handling a video message.
    void observe(Clock::time_point bodyRead) {
        const auto now = Clock::now();
        std::lock_guard lock(lock_);
        lastRead_ = bodyRead;
        lastHandled_ = now;
    }

    void addPictureSink(std::weak_ptr<PictureSink> sink) override {
        real->addPictureSink(std::move(sink));
    }
    void removePictureSink(const PictureSink* sink) override { real->removePictureSink(sink); }
    void streamRestarted() override { real->streamRestarted(); }
    void start() override { real->start(); }
    void createFormatDesc(ByteView sps, ByteView pps) override { real->createFormatDesc(sps, pps); }
    void decodeFrame(ByteView data) override {
        note();
        real->decodeFrame(data);
    }
    void decodeTwoSlicePicture(ByteView data) override {
        if (secondSlice_) {
            note();
        }
        secondSlice_ = !secondSlice_;
        real->decodeTwoSlicePicture(data);
    }
    void takePicture(long id) override { real->takePicture(id); }

    std::vector<Arrival> handedIn() {
        std::lock_guard lock(lock_);
        return handedIn_;
    }

    std::shared_ptr<H264Decoder> real = std::make_shared<H264Decoder>();

private:
    void note() {
        const auto now = Clock::now();
        std::lock_guard lock(lock_);
        handedIn_.push_back({lastRead_, lastHandled_, now});
    }
    std::mutex lock_;
    Clock::time_point lastRead_{};
    Clock::time_point lastHandled_{};
    std::vector<Arrival> handedIn_;
    bool secondSlice_ = false;
};

struct PictureTimes {
    Clock::time_point decoded{};
    Clock::time_point delivered{};
    Clock::time_point uploadStart{};
    Clock::time_point swapped{};
    bool uploaded = false;
    bool shown = false;
};

// Between the session and the camera view's renderer: notes when the decoder delivers each
// picture, hands it to the main thread through the same one-picture mailbox the renderer uses,
// and uploads it there; the view's frame swap then marks the last uploaded picture as shown.
class TimingRenderer : public PictureSink {
public:
    explicit TimingRenderer(std::shared_ptr<VideoRenderer> video) : video_(std::move(video)) {}

    void streamRestarted() override { video_->streamRestarted(); }

    void pictureDecoded(const PixelBuffer& frame) override {
        const auto now = Clock::now();
        const int number = frameNumberOf(*frame);
        {
            std::lock_guard lock(lock_);
            if (number < lastDelivered_) {
                ++loop_;
            }
            lastDelivered_ = number;
            times_[id(number)].delivered = now;
            times_[id(number)].decoded = frame->madeAt();
        }
        mailbox_->post(frame);
    }

    // Main thread, after the view's frame swap.
    void swapped() {
        const auto now = Clock::now();
        std::lock_guard lock(lock_);
        if (lastUploaded_ >= 0 && !times_[lastUploaded_].shown) {
            times_[lastUploaded_].swapped = now;
            times_[lastUploaded_].shown = true;
        }
    }

    std::map<int64_t, PictureTimes> times() {
        std::lock_guard lock(lock_);
        return times_;
    }

private:
    // Pictures counted across loops; lock_ held.
    int64_t id(int number) const { return loop_ * kLoopPictures + number; }

    void upload(const PixelBuffer& frame) {
        const auto start = Clock::now();
        const int number = frameNumberOf(*frame);
        {
            std::lock_guard lock(lock_);
            int64_t picture = id(number);
            // Delivered in the loop before the one being delivered now.
            if (number > lastDelivered_) {
                picture -= kLoopPictures;
            }
            times_[picture].uploadStart = start;
            times_[picture].uploaded = true;
            lastUploaded_ = picture;
        }
        video_->pictureDecoded(frame);  // on the main thread: uploads at once
    }

    std::shared_ptr<VideoRenderer> video_;
    std::shared_ptr<FrameMailbox> mailbox_ = FrameMailbox::create(
        dispatch::mainQueue(), [this](const PixelBuffer& frame) { upload(frame); });
    std::mutex lock_;
    std::map<int64_t, PictureTimes> times_;
    int64_t loop_ = 0;
    int lastDelivered_ = -1;
    int64_t lastUploaded_ = -1;
};

int64_t sendTick(int64_t picture, bool bFrames) {
    const int64_t loop = picture / kLoopPictures;
    const int64_t n = picture % kLoopPictures;
    const int64_t r = n % kGop;
    int64_t tick = n;
    if (bFrames && r != 0) {
        tick = r % 2 == 1 ? n + 1 : n - 1;
    }
    return loop * kLoopPictures + tick;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<size_t>(p * static_cast<double>(values.size())))];
}

void runStream(const char* name, const char* size, bool bFrames, int seconds) {
    std::vector<std::string> options = {"--port",
                                        "0",
                                        "--no-audio",
                                        "--size",
                                        size,
                                        "--fps",
                                        std::to_string(kFps),
                                        "--gop",
                                        std::to_string(kGop),
                                        "--loop",
                                        std::to_string(kLoopSeconds)};
    if (bFrames) {
        options.push_back("--bframes");
    }
    test::CameraProcess camera(options);

    VideoView view;
    view.resize(960, 540);
    auto video = std::make_shared<VideoRenderer>();
    view.setVideo(video);
    view.show();
    if (!test::waitProcessingEvents([&] { return view.context() != nullptr; })) {
        std::fprintf(stderr, "latency: the view got no OpenGL context\n");
        std::exit(1);
    }
    auto timing = std::make_shared<TimingRenderer>(video);
    QObject::connect(&view, &QOpenGLWidget::frameSwapped, [&timing] { timing->swapped(); });

    auto decoder = std::make_shared<TimingDecoder>();
    SessionParts parts;
    parts.makeDecoder = [decoder] { return decoder; };
    parts.hasLocalAddress = [] { return true; };
    parts.videoUnitObserver = [decoder](Clock::time_point bodyRead) { decoder->observe(bodyRead); };
    auto session = CameraSession::init(std::move(parts));
    session->addPictureSink(timing);
    auto device = std::make_shared<CameraRecord>();
    device->setAddress("127.0.0.1");
    device->setPort(camera.port());
    session->connectToServer(nullptr, device);

    const auto until = Clock::now() + std::chrono::seconds(seconds);
    test::waitProcessingEvents([&] { return Clock::now() >= until; },
                               std::chrono::seconds(seconds + 5));
    session->disconnect();
    test::waitProcessingEvents([] { return false; }, std::chrono::milliseconds(200));
    session->removePictureSink(timing.get());

    const auto handedIn = decoder->handedIn();
    const auto times = timing->times();
    if (handedIn.empty() || times.empty()) {
        std::printf("latency %s: no pictures arrived\n", name);
        return;
    }
    Clock::time_point t0 = handedIn[0].handedIn;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / kFps;
    for (size_t k = 0; k < handedIn.size(); ++k) {
        t0 = std::min(t0, handedIn[k].handedIn - period * static_cast<int64_t>(k));
    }
    // The first second settles (the window's first frames, the first key frame).
    const int64_t skip = kFps;
    std::vector<double> transit, toSession, toDecoder, decode, hold, wait, draw, total;
    uint64_t dropped = 0;
    for (const auto& [picture, t] : times) {
        const int64_t k = sendTick(picture, bFrames);
        if (picture < skip || k >= static_cast<int64_t>(handedIn.size())) {
            continue;
        }
        if (!t.shown) {
            ++dropped;
            continue;
        }
        const auto sent = t0 + period * k;
        const Arrival& a = handedIn[static_cast<size_t>(k)];
        transit.push_back(ms(a.read - sent));
        toSession.push_back(ms(a.handled - a.read));
        toDecoder.push_back(ms(a.handedIn - a.handled));
        decode.push_back(ms(t.decoded - a.handedIn));
        hold.push_back(ms(t.delivered - t.decoded));
        wait.push_back(ms(t.uploadStart - t.delivered));
        draw.push_back(ms(t.swapped - t.uploadStart));
        total.push_back(ms(t.swapped - sent));
    }
    const auto line = [](const char* stage, const std::vector<double>& values) {
        std::printf("  %-34s p50 %7.2f ms  p99 %7.2f ms\n", stage, percentile(values, 0.5),
                    percentile(values, 0.99));
    };
    std::printf("%s: %zu pictures shown\n", name, total.size());
    line("camera -> socket", transit);
    line("socket -> session", toSession);
    line("session -> decoder", toDecoder);
    line("decoding (queue included)", decode);
    line("reorder hold", hold);
    line("waiting for upload", wait);
    line("upload and draw -> swap", draw);
    line("total", total);
    std::printf("latency %s p50_ms=%.1f p99_ms=%.1f hold_pictures=%d dropped=%llu\n", name,
                percentile(total, 0.5), percentile(total, 0.99), decoder->real->holdPictures(),
                static_cast<unsigned long long>(dropped + decoder->real->droppedPictures()));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    dispatch::setMainQueue(QtMainQueue::create());
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 6;
    runStream("720p30-ip", "1280x720", false, seconds);
    runStream("720p30-ipb", "1280x720", true, seconds);
    runStream("1080p30-ip", "1920x1080", false, seconds);
    runStream("1080p30-ipb", "1920x1080", true, seconds);
    return 0;
}
