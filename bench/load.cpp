// Several cameras at once: N = 1, 2, 4, 8 sessions of 720p at 30 pictures per second with sound,
// each from its own looping test camera (--loop, so the cameras' encoders cost nothing), with
// the real decoder and codec. Headless, a renderer only counts the pictures; windowed (built
// with the Qt side, needs an X display), every camera has its own view and renderer, as a
// camera window does; grid, every camera is a tile of one camera grid view (one context for all
// of them), as the Camera Grid window shows them. Sound plays through SDL's disk driver, which
// takes it at the real rate, so that the players' rings starve when sound comes late.
//
//   load [seconds per round] [headless|windowed|grid|all]     default 5 all (headless without Qt)
//
// Prints per N: pictures shown per second over all cameras, pictures dropped (decoder), sound
// buffers the players filled with silence, this process's CPU use (100 = one core) and its
// resident memory.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "video/CameraGridView.h"
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

enum class Mode { Headless, Windowed, Grid };

const char* nameOf(Mode mode) {
    switch (mode) {
        case Mode::Headless:
            return "headless";
        case Mode::Windowed:
            return "windowed";
        case Mode::Grid:
            return "grid";
    }
    return "";
}

struct Camera {
    std::unique_ptr<test::CameraProcess> process;
    std::shared_ptr<H264Decoder> decoder;
    std::shared_ptr<OpusCodec> codec;
    std::shared_ptr<CountingRenderer> renderer = std::make_shared<CountingRenderer>();
    std::shared_ptr<CameraSession> session;
#ifdef VISTAMO_BENCH_WINDOWS
    std::unique_ptr<VideoView> view;
    std::shared_ptr<VideoRenderer> video;
#endif

    uint64_t shown() const {
#ifdef VISTAMO_BENCH_WINDOWS
        if (video) {
            return video->uploadedFrames();
        }
#endif
        return renderer->shown;
    }
    uint64_t dropped() const {
        uint64_t count = decoder->droppedPictures();
#ifdef VISTAMO_BENCH_WINDOWS
        if (video) {
            count += video->droppedFrames();
        }
#endif
        return count;
    }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runRound(int count, int seconds, Mode mode) {
    const bool windowed = mode != Mode::Headless;
    std::vector<Camera> cameras(static_cast<size_t>(count));
#ifdef VISTAMO_BENCH_WINDOWS
    // The grid's window is as large as four of the camera views side by side.
    std::unique_ptr<CameraGridView> grid;
    if (mode == Mode::Grid) {
        grid = std::make_unique<CameraGridView>();
        grid->resize(960, 540);
        grid->show();
    }
#endif
    for (Camera& camera : cameras) {
        camera.process = std::make_unique<test::CameraProcess>(std::vector<std::string>{
            "--port", "0", "--size", "1280x720", "--fps", "30", "--gop", "25", "--loop", "2"});
        SessionParts parts;
        parts.makeDecoder = [&camera] { return camera.decoder = std::make_shared<H264Decoder>(); };
        parts.makeCodec = [&camera] { return camera.codec = std::make_shared<OpusCodec>(); };
        parts.hasLocalAddress = [] { return true; };
        camera.session = CameraSession::init(std::move(parts));
        camera.session->addPictureSink(camera.renderer);
#ifdef VISTAMO_BENCH_WINDOWS
        if (mode == Mode::Windowed) {
            camera.view = std::make_unique<VideoView>();
            camera.view->resize(480, 270);
            camera.video = std::make_shared<VideoRenderer>();
            camera.view->setVideo(camera.video);
            camera.view->show();
        } else if (mode == Mode::Grid) {
            camera.video = grid->addTile("camera-" + std::to_string(&camera - cameras.data()),
                                         QStringLiteral("Camera"));
        }
        if (camera.video) {
            camera.session->removePictureSink(camera.renderer.get());
            camera.session->addPictureSink(camera.video);
        }
#endif
        auto device = std::make_shared<CameraRecord>();
        device->setAddress("127.0.0.1");
        device->setPort(camera.process->port());
        camera.session->connectToServer(nullptr, device);
    }
    // Settling: connections, the first key frames, the players' first blocks.
    pause(std::chrono::seconds(2), windowed);

    const auto sum = [&](auto value) {
        uint64_t total = 0;
        for (const Camera& camera : cameras) {
            total += value(camera);
        }
        return total;
    };
    const auto shown = [](const Camera& c) { return c.shown(); };
    const auto dropped = [](const Camera& c) { return c.dropped(); };
    const auto starved = [](const Camera& c) { return c.codec->player().starvedBuffers(); };
    const uint64_t shownBefore = sum(shown);
    const uint64_t droppedBefore = sum(dropped);
    const uint64_t starvedBefore = sum(starved);
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    pause(std::chrono::seconds(seconds), windowed);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf(
        "load %s cameras=%d shown_fps=%.1f dropped=%llu audio_gaps=%llu "
        "cpu_pct=%.0f rss_mb=%.0f\n",
        nameOf(mode), count, static_cast<double>(sum(shown) - shownBefore) / wall,
        static_cast<unsigned long long>(sum(dropped) - droppedBefore),
        static_cast<unsigned long long>(sum(starved) - starvedBefore), 100 * cpu / wall,
        static_cast<double>(ProcessResources::residentKilobytes()) / 1024.0);
    std::fflush(stdout);
    for (Camera& camera : cameras) {
        camera.session->disconnect();
    }
    pause(std::chrono::milliseconds(500), windowed);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 5;
    const std::string modes = argc > 2 ? argv[2] : "all";
#ifdef VISTAMO_BENCH_WINDOWS
    QApplication app(argc, argv);
    dispatch::setMainQueue(QtMainQueue::create());
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const auto folder = std::filesystem::temp_directory_path() / "vistamo-load-audio.raw";
    ::setenv("SDL_AUDIODRIVER", "disk", 0);
    ::setenv("SDL_DISKAUDIOFILE", folder.c_str(), 0);
    for (const Mode mode : {Mode::Headless, Mode::Windowed, Mode::Grid}) {
        const bool wanted = modes == "all" || modes == nameOf(mode);
        if (!wanted || (mode != Mode::Headless && !windows)) {
            continue;
        }
        for (const int count : {1, 2, 4, 8}) {
            runRound(count, seconds, mode);
        }
    }
    std::error_code ignored;
    std::filesystem::remove(folder, ignored);
    return 0;
}
