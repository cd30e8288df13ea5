// Feeds arbitrary bytes to a whole session as its camera would send them (cut into messages by
// the socket's message reader) with the real H.264 decoder, whose pictures are read
// row by row, and the real Opus codec, whose player's ring takes the sound without an output
// device. Every input gets a session of its own, so that no state carries over.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "CameraBytes.h"
#include "Pictures.h"
#include "discovery/CameraRecord.h"
#include "dispatch/MainQueue.h"
#include "media/H264Decoder.h"
#include "media/OpusCodec.h"
#include "session/CameraSession.h"

namespace {

using namespace vistamo;

// Reads every picture the session hands on.
class TouchingRenderer : public PictureSink {
public:
    void pictureDecoded(const PixelBuffer& frame) override { sum += fuzz::touchPicture(frame); }
    unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::quietDecoder();
    static auto device = [] {
        auto camera = std::make_shared<CameraRecord>();
        camera->setPassword("pw");
        return camera;
    }();

    std::shared_ptr<H264Decoder> decoder;
    SessionParts parts;
    parts.hasLocalAddress = [] { return false; };
    parts.deviceIdentity = [] { return std::string(32, 'f'); };
    parts.makeDecoder = [&decoder] { return decoder = std::make_shared<H264Decoder>(); };
    parts.makeCodec = [] { return std::make_shared<OpusCodec>(AudioEndpoint::none); };
    auto renderer = std::make_shared<TouchingRenderer>();
    {
        auto session = CameraSession::init(parts);
        session->addPictureSink(renderer);
        // Without a socket the connect only records the camera, whose password answers carry.
        session->connectToServer(nullptr, device);
        fuzz::feedAsTheCamera(*session, data, size);
        if (decoder) {
            decoder->waitForAsynchronousFrames();
        }
    }
    // What the session handed to the main queue (the camera's state, the end of its connection) has
    // run before the next input: libFuzzer's leak check after each input would otherwise catch
    // that work on its way between threads and report it as lost.
    dispatch::mainQueue().sync([] {});
    return 0;
}
