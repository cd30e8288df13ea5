// Feeds arbitrary bytes to a session as its camera would send them, cut into messages by the
// socket's message reader (a 24-byte header, then the body it announces), through every handler.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "CameraBytes.h"
#include "discovery/CameraRecord.h"
#include "media/SessionDecoder.h"
#include "session/CameraSession.h"

namespace {

using namespace vistamo;

// Touches every byte it is handed, so that a view past the message shows up under ASan.
class TouchingDecoder : public SessionDecoder {
public:
    void addPictureSink(std::weak_ptr<PictureSink>) override {}
    void removePictureSink(const PictureSink*) override {}
    void start() override {}
    void createFormatDesc(ByteView sps, ByteView pps) override { touch(sps), touch(pps); }
    void decodeFrame(ByteView data) override { touch(data); }
    void decodeTwoSlicePicture(ByteView data) override { touch(data); }
    void takePicture(long) override {}
    unsigned sum = 0;

private:
    void touch(ByteView bytes) {
        for (uint8_t b : bytes) {
            sum += b;
        }
    }
};

std::shared_ptr<CameraSession> makeSession() {
    SessionParts parts;
    parts.hasLocalAddress = [] { return false; };
    parts.makeDecoder = [] { return std::make_shared<TouchingDecoder>(); };
    parts.deviceIdentity = [] { return std::string(32, 'f'); };
    auto session = CameraSession::init(parts);
    // Without a socket the connect only records the camera, whose password the answers carry.
    static auto device = std::make_shared<CameraRecord>();
    device->setPassword("pw\xc3\xa9");
    session->connectToServer(nullptr, device);
    return session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::shared_ptr<CameraSession> session = makeSession();
    fuzz::feedAsTheCamera(*session, data, size);
    return 0;
}
