// Feeds arbitrary bytes to a whole session as its camera would send them (a 24-byte header read,
// then the body it announces, and so on) with the real H.264 decoder, whose pictures are read
// row by row, and the real Opus codec, whose player's ring takes the sound without an output
// device. Every input gets a session of its own, so that no state carries over.
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/log.h>
}

#include "discovery/ZDeviceInfo.h"
#include "media/ZH264Decoder.h"
#include "media/opusCodec.h"
#include "session/ZUnverifiedClient.h"
#include "session/clientSocket.h"

namespace {

using namespace vistamo;

// Touches the first and last byte of every row of every plane, so that a picture whose planes
// or strides are wrong shows up under ASan.
class TouchingRenderer : public SessionRenderer {
public:
    void getframeWithVideoframe(const PixelBuffer& frame) override {
        if (!frame) {
            return;
        }
        for (int index = 0; index < DecodedFrame::kPlaneCount; ++index) {
            for (int y = 0; y < frame->planeHeight(index); ++y) {
                const uint8_t* row =
                    frame->plane(index) + static_cast<ptrdiff_t>(y) * frame->stride(index);
                sum += row[0] + row[frame->planeWidth(index) - 1];
            }
        }
    }
    unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);  // malformed input makes libavcodec talk a lot
        return true;
    }();
    (void)quiet;
    static auto device = [] {
        auto camera = std::make_shared<ZDeviceInfo>();
        camera->setMPassword("pw");
        return camera;
    }();

    std::shared_ptr<ZH264Decoder> decoder;
    SessionParts parts;
    parts.hasLocalAddress = [] { return false; };
    parts.deviceIdentity = [] { return std::string(32, 'f'); };
    parts.makeDecoder = [&decoder] { return decoder = std::make_shared<ZH264Decoder>(); };
    parts.makeCodec = [] { return std::make_shared<opusCodec>(AudioEndpoint::none); };
    auto renderer = std::make_shared<TouchingRenderer>();
    {
        auto session = clientSocket::init(parts);
        session->setVideo(renderer);
        // Without a socket the connect only records the camera, whose password answers carry.
        session->connectToServer(nullptr, device);
        ZUnverifiedClient client;
        clientSocket::ReadRequest next{kHeaderSize, kReadHeader};
        size_t offset = 0;
        while (size - offset >= next.length) {
            const ByteView chunk(data + offset, static_cast<size_t>(next.length));
            offset += static_cast<size_t>(next.length);
            next = session->consume(nullptr, client, chunk, next.tag);
        }
        if (decoder) {
            decoder->waitForAsynchronousFrames();
        }
    }
    return 0;
}
