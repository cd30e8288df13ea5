// Several cameras at once: N = 1, 2, 4, 8 sessions of 720p at 30 pictures per second with sound,
// each from its own looping test camera (--loop, so the cameras' encoders cost nothing), with
// the real decoder and codec and a renderer that only counts (headless). Sound plays through
// SDL's disk driver, which takes it at the real rate, so that the players' rings starve when
// sound comes late.
//
//   load [seconds per round]     default 5
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
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/ZDeviceInfo.h"
#include "media/ZH264Decoder.h"
#include "media/opusCodec.h"
#include "session/clientSocket.h"
#include "support/CameraProcess.h"

using namespace vistamo;
using Clock = std::chrono::steady_clock;

namespace {

class CountingRenderer : public SessionRenderer {
public:
    void getframeWithVideoframe(const PixelBuffer&) override { ++shown; }
    std::atomic<uint64_t> shown{0};
};

struct Camera {
    std::unique_ptr<test::CameraProcess> process;
    std::shared_ptr<ZH264Decoder> decoder;
    std::shared_ptr<opusCodec> codec;
    std::shared_ptr<CountingRenderer> renderer = std::make_shared<CountingRenderer>();
    std::shared_ptr<clientSocket> session;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
    }
    return 0;
}

void runRound(int count, int seconds) {
    std::vector<Camera> cameras(static_cast<size_t>(count));
    for (Camera& camera : cameras) {
        camera.process = std::make_unique<test::CameraProcess>(std::vector<std::string>{
            "--port", "0", "--size", "1280x720", "--fps", "30", "--gop", "25", "--loop", "2"});
        SessionParts parts;
        parts.makeDecoder = [&camera] { return camera.decoder = std::make_shared<ZH264Decoder>(); };
        parts.makeCodec = [&camera] { return camera.codec = std::make_shared<opusCodec>(); };
        parts.hasLocalAddress = [] { return true; };
        camera.session = clientSocket::init(std::move(parts));
        camera.session->setVideo(camera.renderer);
        auto device = std::make_shared<ZDeviceInfo>();
        device->setMDeviceIP("127.0.0.1");
        device->setMPort(camera.process->port());
        camera.session->connectToServer(nullptr, device);
    }
    // Settling: connections, the first key frames, the players' first blocks.
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const auto sum = [&](auto value) {
        uint64_t total = 0;
        for (const Camera& camera : cameras) {
            total += value(camera);
        }
        return total;
    };
    const auto shown = [](const Camera& c) { return c.renderer->shown.load(); };
    const auto dropped = [](const Camera& c) { return c.decoder->droppedPictures(); };
    const auto starved = [](const Camera& c) { return c.codec->player().starvedBuffers(); };
    const uint64_t shownBefore = sum(shown);
    const uint64_t droppedBefore = sum(dropped);
    const uint64_t starvedBefore = sum(starved);
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf(
        "load headless cameras=%d shown_fps=%.1f dropped=%llu audio_gaps=%llu "
        "cpu_pct=%.0f rss_mb=%.0f\n",
        count, static_cast<double>(sum(shown) - shownBefore) / wall,
        static_cast<unsigned long long>(sum(dropped) - droppedBefore),
        static_cast<unsigned long long>(sum(starved) - starvedBefore), 100 * cpu / wall,
        residentMegabytes());
    std::fflush(stdout);
    for (Camera& camera : cameras) {
        camera.session->disconnect();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 5;
    const auto folder = std::filesystem::temp_directory_path() / "vistamo-load-audio.raw";
    ::setenv("SDL_AUDIODRIVER", "disk", 0);
    ::setenv("SDL_DISKAUDIOFILE", folder.c_str(), 0);
    for (const int count : {1, 2, 4, 8}) {
        runRound(count, seconds);
    }
    std::error_code ignored;
    std::filesystem::remove(folder, ignored);
    return 0;
}
