// The webcam's cost: one 720p30 camera through the real session, decoder and codec, first
// without and then with its webcam nodes read by a GStreamer reader, in the same run against a
// private PipeWire (dbus-daemon, pipewire, wireplumber in a temporary runtime folder). The camera
// streams a stored loop (--loop), so its own encoding costs nothing while this process is
// measured.
//
//   webcam [seconds per phase]     default 10
//
// Prints, for the phase with the webcam, the time from a picture's decoding to its buffer being
// queued in PipeWire (p50, p99, max), and for both phases this process's CPU time as a share of
// one core; the difference is the webcam's cost. The reader and the daemons are other processes
// and are not counted.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraBench.h"
#include "discovery/CameraRecord.h"
#include "media/H264Decoder.h"
#include "media/OpusCodec.h"
#include "session/CameraSession.h"
#include "session/SessionScanner.h"
#include "support/CameraProcess.h"
#include "support/ChildProcess.h"
#include "support/LoopbackSession.h"
#include "support/PipeWireDaemons.h"
#include "support/Wait.h"
#include "webcam/CameraWebcam.h"

using namespace vistamo;
using Clock = std::chrono::steady_clock;

namespace {

struct QuietScanner : SessionScanner {};

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// This process's CPU time over `seconds` of wall time, as a share of one core.
double cpuShare(int seconds) {
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    return (cpuSeconds() - cpuBefore) / wall;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(share * static_cast<double>(values.size() - 1));
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    test::PipeWireDaemons daemons;
    auto connection = PipeWireConnection::open();
    if (!connection) {
        std::fprintf(stderr, "no PipeWire\n");
        return 1;
    }
    test::CameraProcess camera(
        {"--port", "0", "--control", "--size", "1280x720", "--fps", "30", "--loop", "2"});
    auto renderer = std::make_shared<bench::CountingRenderer>();
    auto scanner = std::make_shared<QuietScanner>();
    SessionParts parts;
    parts.makeDecoder = [] { return std::make_shared<H264Decoder>(); };
    parts.makeCodec = [] { return std::make_shared<OpusCodec>(AudioEndpoint::none); };
    auto session = test::makeLoopbackSession(std::move(parts), scanner, nullptr, renderer);
    auto device = test::loopbackCamera(camera.port());
    session->connectToServer(nullptr, device);
    if (!test::waitUntil([&] { return renderer->shown >= 30; }, std::chrono::seconds(30))) {
        std::fprintf(stderr, "no pictures from the camera\n");
        return 1;
    }

    const uint64_t shownBefore = renderer->shown;
    const double without = cpuShare(seconds);
    const uint64_t shownWithout = renderer->shown - shownBefore;

    std::mutex lock;
    std::vector<double> delays;
    CameraWebcam webcam(
        connection, "uuid:BENCH", "Bench Camera", [&](std::chrono::nanoseconds delay) {
            std::lock_guard guard(lock);
            delays.push_back(std::chrono::duration<double, std::milli>(delay).count());
        });
    session->addPictureSink(webcam.video());
    session->addSoundSink(webcam.microphone());
    const std::string node = webcamVideoNames("uuid:BENCH", "Bench Camera").nodeName;
    if (!test::waitUntil(
            [&] { return test::PipeWireDaemons::nodeProperties(daemons.dump(), node).has_value(); },
            std::chrono::seconds(30))) {
        std::fprintf(stderr, "the webcam node did not appear\n");
        return 1;
    }
    test::ChildProcess reader({"gst-launch-1.0", "-q", "pipewiresrc", "target-object=" + node, "!",
                               "video/x-raw,format=I420", "!", "fakesink", "sync=false"},
                              test::SpawnOptions{.errorsToOutput = true});
    if (!test::waitUntil([&] { return webcam.video()->queued() >= 30; },
                         std::chrono::seconds(30))) {
        std::fprintf(stderr, "the webcam's reader got nothing: %s\n", reader.transcript().c_str());
        return 1;
    }
    {
        std::lock_guard guard(lock);
        delays.clear();
    }
    const uint64_t queuedBefore = webcam.video()->queued();
    const uint64_t shownBeforeWith = renderer->shown;
    const double with = cpuShare(seconds);
    const uint64_t queued = webcam.video()->queued() - queuedBefore;
    const uint64_t shownWith = renderer->shown - shownBeforeWith;
    std::vector<double> measured;
    {
        std::lock_guard guard(lock);
        measured = delays;
    }

    std::printf("720p30 camera, %d s per phase\n", seconds);
    std::printf(
        "decoded -> queued in PipeWire: p50 %.3f ms  p99 %.3f ms  max %.3f ms  (%zu pictures, "
        "%llu queued, %llu replaced)\n",
        percentile(measured, 0.5), percentile(measured, 0.99),
        measured.empty() ? 0.0 : *std::max_element(measured.begin(), measured.end()),
        measured.size(), static_cast<unsigned long long>(queued),
        static_cast<unsigned long long>(webcam.video()->replaced()));
    std::printf(
        "CPU of this process: without webcam %.1f %% of one core (%llu pictures), with "
        "webcam %.1f %% (%llu pictures): the webcam costs %.1f %%\n",
        without * 100, static_cast<unsigned long long>(shownWithout), with * 100,
        static_cast<unsigned long long>(shownWith), (with - without) * 100);
    session->disconnect();
    return 0;
}
