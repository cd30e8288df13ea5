#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "media/DecodedFrame.h"
#include "media/PictureSink.h"
#include "media/SessionDecoder.h"
#include "platform/Bytes.h"

extern "C" {
struct AVPacket;
}

namespace vistamo {

namespace dispatch {
class SerialQueue;
}

// Decodes one camera's H.264 stream and hands its pictures to its sinks in display order;
// writes the next shown picture as a snapshot on request.
//
// Input is one NAL unit per call, each with a 4-byte prefix whose content is ignored: the
// parameter sets (createFormatDesc), then the slices of each picture (decodeFrame for a
// picture of one slice, decodeTwoSlicePicture twice for a picture of two). Each
// picture is copied once into a length-prefixed sample and given a decode order that counts
// from 1 after every parameter-set message; the decode order addresses a 25-slot reorder ring.
// Decode orders past the ring's end (a group longer than 25 pictures) wrap around it, so long
// groups keep their order; a non-reference picture with no picture before it in its group
// keeps its own slot.
//
// Hold: a picture is shown as soon as the stream allows. The hold is 0 pictures (each picture
// is shown as it is decoded) for a stream without reordering and 1 for a stream with one
// non-reference picture between reference pictures (a reference picture waits for the
// non-reference picture shown before it). It comes from the sequence set's VUI
// (max_num_reorder_frames, at most 1) when the VUI carries it, otherwise it is 0 until the
// first non-reference picture and 1 from then on; at that change the reference picture already
// shown keeps its place, so no picture is skipped or shown twice.
//
// Falling behind: pictures wait for the decoder's thread in a queue; once more than
// kMaxWaitingPictures wait, the waiting non-reference pictures are dropped, and if that is not
// enough every waiting picture is dropped and so is every later one up to the next IDR picture,
// so that no picture is decoded against a missing reference. droppedPictures counts them.
//
// Threads:
// - Input comes from one thread at a time (the session's "Client Queue"). A call frames and
//   copies the picture, hands it to the decoder's thread and returns; it never waits.
// - The decoder's own thread (a serial queue labelled "H264 Decoder") decodes, runs setBuffer,
//   the sinks' pictureDecoded and snapshot writing. A sink must not wait for other threads.
// - takePicture, start, stop, the sink list and the counters may come from any thread.
//
// Lifecycle: the constructor starts the decoder's thread, idle; `start` lets input in; `stop`
// shuts input out at once and, 0.8 s later on the decoder's thread, releases the libavcodec
// decoder, the format description and the frames in the ring. Destruction drops the input not
// yet decoded, lets the picture being decoded or rendered finish, joins the thread and
// releases the ring's frames; it never leaves a thread behind. When the last reference goes
// during render on the decoder's own thread, that thread finishes the picture and exits by
// itself.
class H264Decoder final : public SessionDecoder {
public:
    static constexpr int kRingSlots = 25;
    static constexpr double kReleaseDelaySeconds = 0.8;
    static constexpr size_t kMaxWaitingPictures = 8;

    // Frame types carried with each picture: a picture whose first slice is non-reference
    // (NAL header byte 0x01), shown before the reference picture decoded just before it; any
    // other picture.
    static constexpr int32_t kFrameTypeNonReference = 1;
    static constexpr int32_t kFrameTypeReference = 2;

    H264Decoder();
    ~H264Decoder() override;

    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    void addPictureSink(std::weak_ptr<PictureSink> sink) override;
    void removePictureSink(const PictureSink* sink) override;
    void streamRestarted() override;
    void start() override;
    void stop();
    bool isRunning() const;

    // Parameter sets, each with its prefix: restarts the decode order; makes a new format
    // description and decoder unless both sets equal the last ones and those made a format
    // description that is still held (not released by stop).
    void createFormatDesc(ByteView sps, ByteView pps) override;
    // createFormatDesc with its outcome: true when the decoder is ready for the stream, false
    // when not running or when the sets make no format description (frames are then dropped
    // until sets are accepted).
    bool acceptFormatDesc(ByteView sps, ByteView pps);
    void decodeFrame(ByteView data) override;
    void decodeTwoSlicePicture(ByteView data) override;

    // The next picture handed to the sinks is also written as snapshot `pictureId`
    // (negative numbers are taken modulo 2^64). A delivery that finds its slot empty shows
    // nothing and leaves the request for the next picture; a file that cannot be written
    // still uses the request up.
    void takePicture(long pictureId) override;

    // The picture size of the last accepted parameter sets; 0 before any. Any thread.
    int32_t frame_width() const;
    int32_t frame_height() const;

    // Pictures submitted since the last parameter-set message; the input thread reads it.
    int32_t decoder_order() const;

    // Pictures held back for reordering (0 or 1), pictures dropped undecoded because the
    // decoder fell behind, and pictures handed to the sinks. Any thread.
    int32_t holdPictures() const;
    uint64_t droppedPictures() const;
    uint64_t shownPictures() const;
    DecoderStatistics statistics() const override;

    // Returns once everything handed in before the call has been decoded and delivered. Not
    // from render, nor from a thread that render waits for.
    void waitForAsynchronousFrames();

    // Releases the decoder, the format description and the ring's frames, on the decoder's
    // thread after the work already handed to it; returns when done.
    void releaseResource();

    // The reordering and delivery step for one decoded picture. The decoder's thread calls it;
    // another thread may call it only while no input is being decoded.
    void setBuffer(PixelBuffer frame, int32_t decodeOrder, int32_t frameType);

private:
    struct State;
    struct FrameRecord;
    struct Work;

    void submit(std::shared_ptr<AVPacket> sample, int32_t frameType, bool idr);
    void hand(Work work);

    std::shared_ptr<State> state_;
    std::shared_ptr<dispatch::SerialQueue> queue_;
};

}  // namespace vistamo
