#pragma once

// A real session with the real decoder and sound path, connected to a test camera through the
// fault relay.
#include <memory>
#include <string>
#include <vector>

#include "discovery/CameraRecord.h"
#include "media/H264Decoder.h"
#include "session/CameraSession.h"
#include "session/SessionDoubles.h"
#include "support/CameraProcess.h"
#include "support/CountingCodec.h"
#include "support/DiskSound.h"
#include "support/FaultRelay.h"
#include "support/LoopbackSession.h"
#include "support/NumberingRenderer.h"
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

// One session through the relay. Sound goes to the default device (SDL's disk driver in a
// DiskSoundTest) or to none at all.
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
        parts.streamSilenceSeconds = silenceSeconds_;
        parts.makeDecoder = [this] { return decoder = std::make_shared<H264Decoder>(); };
        parts.makeCodec = [this, sound] { return codec = std::make_shared<CountingCodec>(sound); };
        renderer = std::make_shared<NumberingRenderer>();
        scanner = std::make_shared<RecordingScanner>();
        view = std::make_shared<RecordingView>();
        session = makeLoopbackSession(std::move(parts), scanner, view, renderer);
        device = loopbackCamera(relay->port());
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
    std::shared_ptr<CameraSession> session;
    std::shared_ptr<H264Decoder> decoder;
    std::shared_ptr<CountingCodec> codec;
    std::shared_ptr<NumberingRenderer> renderer;
    std::shared_ptr<RecordingScanner> scanner;
    std::shared_ptr<RecordingView> view;
    std::shared_ptr<CameraRecord> device;

private:
    double silenceSeconds_;
};

}  // namespace vistamo::test
