// One camera streaming 1080p at 30 pictures per second with sound for a long time, through the
// real session, decoder and codec, its sound played through SDL's disk driver at the real rate.
// Windowed (built with the Qt side, needs an X display) the pictures go to a camera view and its
// renderer, as in a camera window; headless a renderer only counts them.
//
//   soak [minutes] [headless|windowed]     default 30 windowed (headless without Qt)
//
// Prints every minute this process's resident memory, open descriptors and threads, with the
// pictures shown and dropped and the sound buffers filled with silence in that minute; at the
// end the slope of each (least squares over the minutes after the first, per hour).
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CameraBench.h"
#include "discovery/CameraRecord.h"
#include "media/H264Decoder.h"
#include "media/OpusCodec.h"
#include "session/CameraSession.h"
#include "support/CameraProcess.h"
#include "support/ProcessResources.h"

#ifdef VISTAMO_BENCH_WINDOWS
#include <QApplication>

#include "dispatch/MainQueue.h"
#include "support/qt/QtWait.h"
#include "video/QtMainQueue.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"
#endif

using namespace vistamo;
using Clock = std::chrono::steady_clock;
using bench::CountingRenderer;
using bench::pause;
using test::ProcessResources;

namespace {

// Least-squares slope of `values` against their index.
double slope(const std::vector<double>& values) {
    const auto n = static_cast<double>(values.size());
    if (values.size() < 2) {
        return 0;
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        const auto x = static_cast<double>(i);
        sx += x;
        sy += values[i];
        sxx += x * x;
        sxy += x * values[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const std::string mode = argc > 2 ? argv[2] : "windowed";
#ifdef VISTAMO_BENCH_WINDOWS
    QApplication app(argc, argv);
    dispatch::setMainQueue(QtMainQueue::create());
    const bool windowed = mode != "headless";
#else
    const bool windowed = false;
#endif
    // Paced as a sound card would take it, and kept nowhere.
    ::setenv("SDL_AUDIODRIVER", "disk", 0);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);

    // A looping camera: its pictures are encoded once, so its encoder costs nothing.
    test::CameraProcess camera(std::vector<std::string>{
        "--port", "0", "--size", "1920x1080", "--fps", "30", "--gop", "25", "--loop", "4"});
    std::shared_ptr<H264Decoder> decoder;
    std::shared_ptr<OpusCodec> codec;
    SessionParts parts;
    parts.makeDecoder = [&] { return decoder = std::make_shared<H264Decoder>(); };
    parts.makeCodec = [&] { return codec = std::make_shared<OpusCodec>(); };
    parts.hasLocalAddress = [] { return true; };
    auto session = CameraSession::init(std::move(parts));
    auto renderer = std::make_shared<CountingRenderer>();
    session->addPictureSink(renderer);
#ifdef VISTAMO_BENCH_WINDOWS
    std::unique_ptr<VideoView> view;
    std::shared_ptr<VideoRenderer> video;
    if (windowed) {
        view = std::make_unique<VideoView>();
        view->resize(960, 540);
        video = std::make_shared<VideoRenderer>();
        view->setVideo(video);
        view->show();
        session->removePictureSink(renderer.get());
        session->addPictureSink(video);
    }
#endif
    const auto shown = [&]() -> uint64_t {
#ifdef VISTAMO_BENCH_WINDOWS
        if (video) {
            return video->uploadedFrames();
        }
#endif
        return renderer->shown;
    };
    const auto dropped = [&]() -> uint64_t {
        uint64_t count = decoder ? decoder->droppedPictures() : 0;
#ifdef VISTAMO_BENCH_WINDOWS
        if (video) {
            count += video->droppedFrames();
        }
#endif
        return count;
    };
    auto device = std::make_shared<CameraRecord>();
    device->setAddress("127.0.0.1");
    device->setPort(camera.port());
    session->connectToServer(nullptr, device);
    // Settling: the connection, the first key frame, the player's first blocks.
    pause(std::chrono::seconds(3), windowed);
    if (!decoder || !codec || shown() == 0) {
        std::fprintf(stderr, "soak: the camera's stream did not start\n");
        return 1;
    }
    // The camera logs every message it sends; kept, those lines would be this process's
    // growth, not the viewer's.
    camera.forgetLines();

    std::printf("soak %s 1920x1080 30 fps with sound, %d minutes\n",
                windowed ? "windowed" : "headless", minutes);
    std::vector<double> resident, descriptors, threads;
    uint64_t shownBefore = shown(), droppedBefore = dropped();
    uint64_t starvedBefore = codec->player().starvedBuffers();
    const auto start = Clock::now();
    for (int minute = 1; minute <= minutes; ++minute) {
        const auto until = start + std::chrono::minutes(minute);
        pause(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()),
              windowed);
        const ProcessResources counted = ProcessResources::now();
        resident.push_back(static_cast<double>(ProcessResources::residentKilobytes()) / 1024.0);
        descriptors.push_back(static_cast<double>(counted.descriptors));
        threads.push_back(static_cast<double>(counted.threads));
        const uint64_t starved = codec ? codec->player().starvedBuffers() : 0;
        std::printf(
            "minute %d: rss_mb=%.1f fds=%.0f threads=%.0f shown=%llu dropped=%llu "
            "audio_gaps=%llu\n",
            minute, resident.back(), descriptors.back(), threads.back(),
            static_cast<unsigned long long>(shown() - shownBefore),
            static_cast<unsigned long long>(dropped() - droppedBefore),
            static_cast<unsigned long long>(starved - starvedBefore));
        std::fflush(stdout);
        shownBefore = shown();
        droppedBefore = dropped();
        starvedBefore = starved;
    }
    // The first minute holds the warm-up; the slope is over the rest when there is a rest.
    const auto steady = [](const std::vector<double>& values) {
        return values.size() > 2 ? std::vector<double>(values.begin() + 1, values.end()) : values;
    };
    std::printf("slope per hour: rss_mb=%.2f fds=%.2f threads=%.2f\n", 60 * slope(steady(resident)),
                60 * slope(steady(descriptors)), 60 * slope(steady(threads)));
    session->disconnect();
    pause(std::chrono::milliseconds(500), windowed);
    return 0;
}
