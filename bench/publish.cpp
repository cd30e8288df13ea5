// The cost of publishing a camera: one looping 1920x1080 30 fps test camera with sound through
// the real session, with a publisher sending its stream to a local RTSP receiver (ffmpeg in
// listen mode, writing nowhere) and without one, in alternating phases of the same run. Prints
// this process's CPU time per phase as a share of one core, the publisher thread's own share,
// and the delay from a picture's arrival at the publisher to the end of its write (p50, p99,
// max).
//
// Usage: publish [SECONDS_PER_PHASE] [ROUNDS]   (default 10 s, 3 rounds of off then on)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/CameraRecord.h"
#include "publish/StreamPublisher.h"
#include "session/CameraSession.h"
#include "support/CameraProcess.h"
#include "support/RtspReceiver.h"

namespace {

using namespace vistamo;
using Clock = std::chrono::steady_clock;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of this process's threads whose name begins with `prefix`.
double threadCpuSeconds(const std::string& prefix) {
    double seconds = 0;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t open = line.find('(');
        const size_t close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos ||
            line.compare(open + 1, prefix.size(), prefix) != 0) {
            continue;
        }
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        unsigned long long user = 0, system = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) {
                user = std::stoull(field);
            } else if (i == 15) {
                system = std::stoull(field);
            }
        }
        seconds += static_cast<double>(user + system) / static_cast<double>(ticks);
    }
    return seconds;
}

double steadySeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    const int phaseSeconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    // A looping camera: its pictures are encoded once, so its encoder costs nothing here.
    test::CameraProcess camera(std::vector<std::string>{
        "--port", "0", "--size", "1920x1080", "--fps", "30", "--gop", "15", "--loop", "1"});
    SessionParts parts;
    parts.hasLocalAddress = [] { return true; };
    auto session = CameraSession::init(std::move(parts));
    auto device = std::make_shared<CameraRecord>();
    device->setAddress("127.0.0.1");
    device->setPort(camera.port());
    session->connectToServer(nullptr, device);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    camera.forgetLines();

    std::mutex lock;
    // Guarded by `lock`: the delays of the measured phases.
    std::vector<double> delays;
    bool measuring = false;
    double offCpu = 0;
    double onCpu = 0;
    double publisherCpu = 0;
    uint64_t sent = 0;
    uint64_t dropped = 0;
    const auto folder = std::filesystem::temp_directory_path();
    for (int round = 0; round < rounds; ++round) {
        double start = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(phaseSeconds));
        offCpu += processCpuSeconds() - start;

        const uint16_t port = test::freeLoopbackPort();
        test::RtspReceiver receiver(port, "camera", "/dev/null");
        StreamPublisher::Options options;
        options.cameraName = "bench";
        options.address =
            *PublishAddress::parse("rtsp://127.0.0.1:" + std::to_string(port) + "/camera");
        options.clock = steadySeconds;
        options.pictureSent = [&](double arrival) {
            const double delay = steadySeconds() - arrival;
            std::lock_guard guard(lock);
            if (measuring) {
                delays.push_back(delay);
            }
        };
        auto publisher = StreamPublisher::create(std::move(options));
        session->addStreamSink(publisher);
        // Connecting waits for the next key frame; the phase is measured once it publishes.
        while (publisher->status().state != StreamPublisher::State::publishing) {
            if (publisher->status().state == StreamPublisher::State::refused) {
                std::fprintf(stderr, "publish: %s\n", publisher->status().line().c_str());
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        {
            std::lock_guard guard(lock);
            measuring = true;
        }
        const double threadStart = threadCpuSeconds("publishing");
        start = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(phaseSeconds));
        onCpu += processCpuSeconds() - start;
        publisherCpu += threadCpuSeconds("publishing") - threadStart;
        {
            std::lock_guard guard(lock);
            measuring = false;
        }
        sent += publisher->statistics().picturesSent;
        dropped += publisher->statistics().picturesDropped;
        session->removeStreamSink(publisher.get());
        publisher->stop();
        publisher.reset();
        receiver.waitForEnd(std::chrono::seconds(10));
        camera.forgetLines();
    }
    const double seconds = static_cast<double>(phaseSeconds * rounds);
    std::vector<double> all;
    {
        std::lock_guard guard(lock);
        all = delays;
    }
    std::printf("publish: 1920x1080 30 fps with sound, %d rounds of %d s off and on\n", rounds,
                phaseSeconds);
    std::printf("process CPU, not publishing: %6.2f %% of one core\n", 100 * offCpu / seconds);
    std::printf("process CPU, publishing:     %6.2f %% of one core\n", 100 * onCpu / seconds);
    std::printf("added by publishing:         %6.2f %% (publisher thread %.2f %%)\n",
                100 * (onCpu - offCpu) / seconds, 100 * publisherCpu / seconds);
    std::printf("pictures sent %llu, dropped %llu\n", static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(dropped));
    std::printf("received -> written: p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
                1e3 * percentile(all, 0.5), 1e3 * percentile(all, 0.99),
                1e3 * percentile(all, 1.0));
    session->disconnect();
    return 0;
}
