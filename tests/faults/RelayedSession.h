#pragma once

// A real session with the real decoder and sound path, connected to a test camera through the
// fault relay.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/ZDeviceInfo.h"
#include "media/ZH264Decoder.h"
#include "media/opusCodec.h"
#include "session/SessionDoubles.h"
#include "session/clientSocket.h"
#include "support/CameraProcess.h"
#include "support/CountingCodec.h"
#include "support/FaultRelay.h"
#include "support/ProcessResources.h"
#include "support/TestStream.h"
#include "support/Wait.h"

namespace vistamo::test {

// A sanitizer's shadow memory and slower threads make resident sizes and long soaks say
// nothing about this code.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Keeps the frame number drawn in every delivered picture, with the time it came.
class NumberingRenderer : public SessionRenderer {
public:
    using Clock = std::chrono::steady_clock;
    struct Shown {
        int number;
        Clock::time_point at;
    };
    void getframeWithVideoframe(const PixelBuffer& frame) override {
        const int number =
            readFrameNumber(frame->plane(0), frame->stride(0), frame->width(), frame->height());
        std::lock_guard guard(lock_);
        shown_.push_back({number, Clock::now()});
    }
    std::vector<Shown> shown() const {
        std::lock_guard guard(lock_);
        return shown_;
    }
    size_t count() const {
        std::lock_guard guard(lock_);
        return shown_.size();
    }

private:
    mutable std::mutex lock_;
    std::vector<Shown> shown_;
};

// One session through the relay. Sound goes to SDL's disk driver (at the real rate) in a
// temporary folder, or to no device at all.
class RelayedSession {
public:
    struct Options {
        std::vector<std::string> camera;
        AudioEndpoint sound = AudioEndpoint::systemDefault;
        double silenceSeconds = kStreamSilenceSeconds;
    };

    explicit RelayedSession(Options options) : silenceSeconds_(options.silenceSeconds) {
        std::vector<std::string> arguments = {"--port", "0", "--control"};
        arguments.insert(arguments.end(), options.camera.begin(), options.camera.end());
        camera = std::make_unique<CameraProcess>(arguments);
        relay = std::make_unique<FaultRelay>(camera->port());
        connect(options.sound);
    }

    // A new session (and decoder and codec) through the same relay to the same camera.
    void connect(AudioEndpoint sound = AudioEndpoint::systemDefault) {
        SessionParts parts;
        parts.hasLocalAddress = [] { return true; };
        parts.streamSilenceSeconds = silenceSeconds_;
        parts.makeDecoder = [this] { return decoder = std::make_shared<ZH264Decoder>(); };
        parts.makeCodec = [this, sound] { return codec = std::make_shared<CountingCodec>(sound); };
        renderer = std::make_shared<NumberingRenderer>();
        scanner = std::make_shared<RecordingScanner>();
        view = std::make_shared<RecordingView>();
        session = clientSocket::init(std::move(parts));
        session->setVideo(renderer);
        session->setMScanner(scanner);
        session->setGlv(view);
        device = std::make_shared<ZDeviceInfo>();
        device->setMDeviceIP("127.0.0.1");
        device->setMPort(relay->port());
        session->connectToServer(nullptr, device);
    }

    // Ends the session from this side and releases it with its parts; true once its end was
    // handled.
    bool close() {
        if (!session) {
            return true;
        }
        session->disconnect();
        const bool ended = waitUntil([&] { return scanner->devicesDown > 0; });
        release();
        return ended;
    }

    // Lets go of the session, waiting for the decoder to finish what it was given.
    void release() {
        if (decoder) {
            decoder->waitForAsynchronousFrames();
        }
        session.reset();
        decoder.reset();
        codec.reset();
    }

    std::unique_ptr<CameraProcess> camera;
    std::unique_ptr<FaultRelay> relay;
    std::shared_ptr<clientSocket> session;
    std::shared_ptr<ZH264Decoder> decoder;
    std::shared_ptr<CountingCodec> codec;
    std::shared_ptr<NumberingRenderer> renderer;
    std::shared_ptr<RecordingScanner> scanner;
    std::shared_ptr<RecordingView> view;
    std::shared_ptr<ZDeviceInfo> device;

private:
    double silenceSeconds_;
};

// Each test in a temporary folder that SDL's disk driver plays into.
class DiskSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "vistamo-faults-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", (folder / "played.raw").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::filesystem::path played() const { return folder / "played.raw"; }
    // Samples of the played file from byte `from` on that are not silence.
    size_t soundingSamplesAfter(uint64_t from) const {
        std::ifstream in(played(), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(from));
        size_t sounding = 0;
        int16_t sample;
        while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
            sounding += sample != 0;
        }
        return sounding;
    }
    uint64_t playedBytes() const {
        std::error_code error;
        const auto size = std::filesystem::file_size(played(), error);
        return error ? 0 : size;
    }

    std::filesystem::path folder;
};

}  // namespace vistamo::test
