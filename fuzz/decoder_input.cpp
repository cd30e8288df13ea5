// Feeds arbitrary parameter-set and frame message bodies to the H.264 decoder, decodes them all
// and reads every row of every picture it shows.
//
// Input: records of [kind][length, 2 bytes little-endian][body]; a length past the end takes
// what is left. Kind 0 mod 3: parameter sets, the body's first byte giving the size of the
// sequence set (both sets with their 4-byte prefixes follow); 1: a one-slice picture; 2: one of
// the two slices of a picture.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Pictures.h"
#include "media/H264Decoder.h"

namespace {

using namespace vistamo;

// Reads every picture the decoder shows.
class TouchingRenderer : public PictureSink {
public:
    void pictureDecoded(const PixelBuffer& frame) override { sum += fuzz::touchPicture(frame); }
    unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::quietDecoder();
    auto renderer = std::make_shared<TouchingRenderer>();
    H264Decoder decoder;
    decoder.addPictureSink(renderer);
    decoder.start();

    size_t offset = 0;
    while (size - offset >= 3) {
        const uint8_t kind = data[offset];
        size_t length = data[offset + 1] | size_t{data[offset + 2]} << 8;
        offset += 3;
        if (length > size - offset) {
            length = size - offset;
        }
        const ByteView body(data + offset, length);
        offset += length;
        switch (kind % 3) {
            case 0: {
                if (body.empty()) {
                    decoder.acceptFormatDesc({}, {});
                    break;
                }
                const size_t spsSize = body[0] < body.size() ? body[0] : body.size() - 1;
                decoder.acceptFormatDesc(body.subspan(1, spsSize), body.subspan(1 + spsSize));
                break;
            }
            case 1:
                decoder.decodeFrame(body);
                break;
            default:
                decoder.decodeTwoSlicePicture(body);
                break;
        }
    }
    decoder.waitForAsynchronousFrames();
    return 0;
}
