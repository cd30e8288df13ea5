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

extern "C" {
#include <libavutil/log.h>
}

#include "media/ZH264Decoder.h"

namespace {

using namespace vistamo;

// Touches the first and last byte of every row of every plane, so that a picture whose planes
// or strides are wrong shows up under ASan.
class TouchingRenderer : public ZH264DecoderDelegate {
public:
    void render(const PixelBuffer& frame) override {
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
    auto renderer = std::make_shared<TouchingRenderer>();
    ZH264Decoder decoder;
    decoder.setDelegate(renderer);
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
                decoder.decompressFrame(body);
                break;
            default:
                decoder.decodeFrameWidthMultipleSlice(body);
                break;
        }
    }
    decoder.waitForAsynchronousFrames();
    return 0;
}
