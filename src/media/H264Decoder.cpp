#include "media/H264Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "media/AvcodecH264Session.h"
#include "media/H264ParameterSets.h"
#include "media/NalUnit.h"
#include "media/SnapshotFile.h"

namespace vistamo {

namespace {

constexpr int kNalSliceNonIdr = 1;
// nal_ref_idc 0, type 1: a slice that no other picture refers to.
constexpr uint8_t kNonReferenceSliceHeader = 0x01;

using SharedPacket = std::shared_ptr<AVPacket>;

// A slice as the camera sends it: the prefix and at least the NAL unit header byte, of a type
// that carries a picture.
bool isSlice(ByteView unit) {
    if (unit.size() <= kNalPrefixBytes || unit.size() - kNalPrefixBytes > UINT32_MAX) {
        return false;
    }
    const int type = unit[kNalPrefixBytes] & 0x1f;
    return type == kNalSliceNonIdr || type == kNalSliceIdr;
}

int32_t frameTypeOf(ByteView firstSlice) {
    return firstSlice[kNalPrefixBytes] == kNonReferenceSliceHeader
               ? H264Decoder::kFrameTypeNonReference
               : H264Decoder::kFrameTypeReference;
}

// Writes `slice` at `out`, its prefix overwritten with the unit's length in 4 big-endian bytes.
void putSlice(uint8_t* out, ByteView slice) {
    const size_t length = slice.size() - kNalPrefixBytes;
    out[0] = static_cast<uint8_t>(length >> 24);
    out[1] = static_cast<uint8_t>(length >> 16);
    out[2] = static_cast<uint8_t>(length >> 8);
    out[3] = static_cast<uint8_t>(length);
    std::memcpy(out + kNalPrefixBytes, slice.data() + kNalPrefixBytes, length);
}

// The one copy of a slice: a packet with libavcodec's zeroed padding holding `slice`, with
// `room` more bytes allocated after it for a slice that follows (its size counts only `slice`).
SharedPacket makeSample(ByteView slice, size_t room = 0) {
    constexpr size_t kMost = INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE;
    if (slice.size() > kMost) {
        return nullptr;
    }
    room = std::min(room, kMost - slice.size());
    SharedPacket packet(av_packet_alloc(), AVPacketDeleter());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(slice.size() + room)) < 0) {
        return nullptr;
    }
    putSlice(packet->data, slice);
    av_shrink_packet(packet.get(), static_cast<int>(slice.size()));
    return packet;
}

// Appends the second slice of a picture to the packet holding its first. Within the room the
// first was given, nothing already in the packet moves; beyond it the buffer is reallocated.
bool appendSlice(AVPacket& packet, ByteView slice) {
    if (slice.size() > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    const int at = packet.size;
    if (av_grow_packet(&packet, static_cast<int>(slice.size())) < 0) {
        return false;
    }
    putSlice(packet.data + at, slice);
    return true;
}

// The decode order after `order`. Past the largest 32-bit value it goes on from a smaller
// number that addresses the same ring slot, so that a group that never ends stays in step.
int32_t nextDecodeOrder(int32_t order) {
    const int64_t next = int64_t{order} + 1;
    if (next <= INT32_MAX) {
        return static_cast<int32_t>(next);
    }
    return static_cast<int32_t>(H264Decoder::kRingSlots + (next - 1) % H264Decoder::kRingSlots + 1);
}

// The ring slot of the picture with decode order `order`: slot i holds decode order i + 1,
// and orders past the ring's end wrap around.
int slotOf(int64_t order) {
    const int64_t slots = H264Decoder::kRingSlots;
    return static_cast<int>(((order - 1) % slots + slots) % slots);
}

bool sameBytes(ByteView a, const Bytes& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

struct H264Decoder::FrameRecord {
    int32_t decodeOrder;
    int32_t frameType;
    bool idr;
};

// One item of work for the decoder's thread: new parameter sets, or one picture.
struct H264Decoder::Work {
    std::shared_ptr<const H264ParameterSets> format;
    SharedPacket sample;
    FrameRecord record{};
};

// Shared between the decoder object and the work on the decoder's thread, so that work running
// when the object goes finishes on state that is still there.
struct H264Decoder::State {
    // Any thread.
    std::atomic<bool> isRunning{false};
    std::atomic<int32_t> frame_width{0};
    std::atomic<int32_t> frame_height{0};
    // Set by takePicture (pictureID first), cleared by the delivery that serves it.
    std::atomic<bool> takePhoto{false};
    std::atomic<uint64_t> pictureID{0};
    std::atomic<int32_t> holdDepth{0};
    std::atomic<uint64_t> droppedPictures{0};
    std::atomic<uint64_t> shownPictures{0};
    std::atomic<uint64_t> receivedBytes{0};
    std::atomic<double> decodeMilliseconds{0};

    // Guarded by sinksLock.
    std::mutex sinksLock;
    std::vector<std::weak_ptr<PictureSink>> sinks;

    // The sinks that still exist, in the order they were added; the list drops the others.
    std::vector<std::shared_ptr<PictureSink>> liveSinks() {
        std::vector<std::shared_ptr<PictureSink>> live;
        std::lock_guard lock(sinksLock);
        std::erase_if(sinks, [&live](const std::weak_ptr<PictureSink>& weak) {
            if (auto sink = weak.lock()) {
                live.push_back(std::move(sink));
                return false;
            }
            return true;
        });
        return live;
    }

    // Guarded by formatLock: made on the input thread, released on the decoder's thread.
    std::mutex formatLock;
    Bytes mSPS;
    Bytes mPPS;
    std::shared_ptr<const H264ParameterSets> formatDesc;

    // Input thread only.
    int32_t decoder_order = 0;
    int32_t mBSlice = 0;
    // The packet being built from the first slice of a two-slice picture, until its second
    // arrives, and the size of the last second slice (the room the next first slice is given).
    // Slices pair up even when a first one could not be kept (then the pair is lost).
    bool firstSliceSeen = false;
    SharedPacket firstSlice;
    size_t lastSecondSlice = 0;

    // Guarded by pendingLock: work handed to the decoder's thread and not yet started, whether
    // a drain of it is queued, whether pictures are skipped until the next IDR picture, and
    // whether the decoder object is gone (then waiting work is dropped).
    std::mutex pendingLock;
    std::deque<Work> pending;
    size_t pendingPictures = 0;
    bool drainQueued = false;
    bool skipToIdr = false;
    bool closing = false;

    // Decoder's thread only.
    std::unique_ptr<AvcodecH264Session> decompressionSession;
    std::array<PixelBuffer, kRingSlots> img;
    // Whether the hold depth came from the sequence set (then a non-reference picture does not
    // change it).
    bool holdFromSequence = false;
    // Decode orders of the current group: the last one stored, the last one shown (0: none).
    int64_t lastOrder = 0;
    int64_t shownThrough = 0;

    // Input thread, pendingLock held: queues `work`, dropping pictures when the decoder's
    // thread has fallen behind. True when a drain must be queued.
    bool enqueue(Work work) {
        if (work.sample) {
            if (work.record.idr) {
                skipToIdr = false;
            } else if (skipToIdr) {
                ++droppedPictures;
                return false;
            }
            ++pendingPictures;
        }
        pending.push_back(std::move(work));
        if (pendingPictures > kMaxWaitingPictures) {
            // Nothing refers to a non-reference picture: those go first.
            dropPending(
                [](const Work& w, size_t) { return w.record.frameType == kFrameTypeNonReference; });
        }
        if (pendingPictures > kMaxWaitingPictures) {
            // The pictures before the last waiting IDR picture: nothing from it on refers to
            // them.
            const auto idr = std::find_if(pending.rbegin(), pending.rend(),
                                          [](const Work& w) { return w.sample && w.record.idr; });
            if (idr != pending.rend()) {
                const auto firstKept = static_cast<size_t>(pending.rend() - idr) - 1;
                dropPending([firstKept](const Work&, size_t index) { return index < firstKept; });
            }
        }
        if (pendingPictures > kMaxWaitingPictures) {
            // Every later picture up to the next IDR picture may refer to a dropped one.
            dropPending([](const Work&, size_t) { return true; });
            skipToIdr = true;
        }
        if (drainQueued) {
            return false;
        }
        drainQueued = true;
        return true;
    }

    // pendingLock held: drops the waiting pictures that `which` picks (given each item and its
    // place in the queue); parameter sets stay.
    template <typename Which>
    void dropPending(Which which) {
        std::deque<Work> kept;
        for (size_t index = 0; index < pending.size(); ++index) {
            Work& work = pending[index];
            if (work.sample && which(work, index)) {
                --pendingPictures;
                ++droppedPictures;
            } else {
                kept.push_back(std::move(work));
            }
        }
        pending = std::move(kept);
    }

    // Decoder's thread: runs the waiting work in order until none is left.
    void drain() {
        for (;;) {
            Work work;
            {
                std::lock_guard lock(pendingLock);
                if (pending.empty() || closing) {
                    pending.clear();
                    pendingPictures = 0;
                    drainQueued = false;
                    return;
                }
                work = std::move(pending.front());
                pending.pop_front();
                if (work.sample) {
                    --pendingPictures;
                }
            }
            if (work.sample) {
                decode(*work.sample, work.record);
            } else if (work.format) {
                createDecompSession(*work.format);
            }
        }
    }

    void createDecompSession(const H264ParameterSets& format) {
        decompressionSession.reset();
        decompressionSession = AvcodecH264Session::create(format);
        // A stream that says how far it reorders keeps that hold; one that does not starts
        // with none and holds one picture from its first non-reference picture on.
        if (const auto reorder = format.maxReorderFrames()) {
            holdFromSequence = true;
            holdDepth = std::min<int32_t>(static_cast<int32_t>(*reorder), 1);
        } else {
            holdFromSequence = false;
        }
    }

    void decode(const AVPacket& sample, FrameRecord record) {
        if (!decompressionSession) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        PixelBuffer frame = decompressionSession->decode(sample);
        const double took =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        const double smoothed = decodeMilliseconds;
        decodeMilliseconds = smoothed == 0 ? took : smoothed + (took - smoothed) / 16;
        if (frame) {
            setBuffer(std::move(frame), record.decodeOrder, record.frameType);
        }
    }

    // Hands the picture at decode order `order` of the current group to every sink and empties
    // its slot; an empty slot shows nothing. Without a sink the picture is let go: a sink added
    // later starts with the pictures after it, never with a backlog.
    void deliver(int64_t order, const std::vector<std::shared_ptr<PictureSink>>& receivers) {
        PixelBuffer shown = std::move(img[slotOf(order)]);
        img[slotOf(order)].reset();
        if (!shown) {
            return;
        }
        ++shownPictures;
        for (const auto& receiver : receivers) {
            receiver->pictureDecoded(shown);
        }
        // An empty slot leaves a snapshot request for the next picture that is shown.
        if (takePhoto.exchange(false)) {
            writeSnapshot(*shown, pictureID.load());
        }
    }

    // Shows the pictures of the current group after `shownThrough` up to `order`; at most one
    // ring's worth, which covers every slot once.
    void deliverThrough(int64_t order, const std::vector<std::shared_ptr<PictureSink>>& receivers) {
        for (int64_t next = std::max(shownThrough + 1, order - kRingSlots + 1); next <= order;
             ++next) {
            deliver(next, receivers);
        }
        shownThrough = std::max(shownThrough, order);
    }

    void setBuffer(PixelBuffer frame, int32_t d, int32_t t) {
        const auto receivers = liveSinks();
        // The decode order went back: a new group. What the old one still holds goes first.
        if (d <= lastOrder) {
            deliverThrough(lastOrder, receivers);
            shownThrough = 0;
        }
        lastOrder = d;
        if (t == kFrameTypeNonReference && !holdFromSequence && holdDepth == 0) {
            holdDepth = 1;
        }
        // Pictures older than the one before this one take no part in its slot trade.
        deliverThrough(int64_t{d} - 2, receivers);
        // A non-reference picture trades slots with the picture decoded just before it, which
        // it displays before. Right after new parameter sets there is none, and one already
        // shown (the hold was 0 until now) keeps its place: the picture goes into its own slot.
        if (t == kFrameTypeNonReference && d >= 2 && int64_t{d} - 1 > shownThrough) {
            img[slotOf(d)] = std::move(img[slotOf(int64_t{d} - 1)]);
            img[slotOf(int64_t{d} - 1)] = std::move(frame);
        } else {
            img[slotOf(d)] = std::move(frame);
        }
        deliverThrough(int64_t{d} - holdDepth, receivers);
    }

    void releaseResource() {
        decompressionSession.reset();
        {
            std::lock_guard lock(formatLock);
            formatDesc.reset();
        }
        for (PixelBuffer& slot : img) {
            slot.reset();
        }
    }
};

H264Decoder::H264Decoder()
    : state_(std::make_shared<State>()), queue_(dispatch::SerialQueue::create("H264 Decoder")) {}

H264Decoder::~H264Decoder() {
    {
        std::lock_guard lock(state_->pendingLock);
        state_->closing = true;
    }
    // Runs the waiting work (dropped at once), then joins the thread; on the decoder's own
    // thread the thread instead finishes by itself.
    queue_.reset();
}

void H264Decoder::addPictureSink(std::weak_ptr<PictureSink> sink) {
    std::lock_guard lock(state_->sinksLock);
    const auto shared = sink.lock();
    if (!shared) {
        return;
    }
    for (const auto& known : state_->sinks) {
        if (known.lock() == shared) {
            return;
        }
    }
    state_->sinks.push_back(std::move(sink));
}

void H264Decoder::removePictureSink(const PictureSink* sink) {
    std::lock_guard lock(state_->sinksLock);
    std::erase_if(state_->sinks, [sink](const std::weak_ptr<PictureSink>& weak) {
        const auto known = weak.lock();
        return !known || known.get() == sink;
    });
}

void H264Decoder::streamRestarted() {
    queue_->async([state = std::weak_ptr(state_)] {
        if (auto alive = state.lock()) {
            for (const auto& sink : alive->liveSinks()) {
                sink->streamRestarted();
            }
        }
    });
}

void H264Decoder::start() { state_->isRunning = true; }

void H264Decoder::stop() {
    {
        std::lock_guard lock(state_->pendingLock);
        state_->isRunning = false;
    }
    queue_->after(kReleaseDelaySeconds, [state = state_] { state->releaseResource(); });
}

bool H264Decoder::isRunning() const { return state_->isRunning; }

int32_t H264Decoder::frame_width() const { return state_->frame_width; }

int32_t H264Decoder::frame_height() const { return state_->frame_height; }

int32_t H264Decoder::decoder_order() const { return state_->decoder_order; }

int32_t H264Decoder::holdPictures() const { return state_->holdDepth; }

uint64_t H264Decoder::droppedPictures() const { return state_->droppedPictures; }

uint64_t H264Decoder::shownPictures() const { return state_->shownPictures; }

DecoderStatistics H264Decoder::statistics() const {
    const State& state = *state_;
    return DecoderStatistics{state.shownPictures,      state.droppedPictures, state.receivedBytes,
                             state.decodeMilliseconds, state.holdDepth,       state.frame_width,
                             state.frame_height};
}

void H264Decoder::createFormatDesc(ByteView sps, ByteView pps) { acceptFormatDesc(sps, pps); }

bool H264Decoder::acceptFormatDesc(ByteView sps, ByteView pps) {
    State& state = *state_;
    if (!state.isRunning) {
        return false;
    }
    state.decoder_order = 0;
    std::shared_ptr<const H264ParameterSets> format;
    {
        std::lock_guard lock(state.formatLock);
        if (state.formatDesc && sameBytes(sps, state.mSPS) && sameBytes(pps, state.mPPS)) {
            return true;
        }
        state.mSPS.assign(sps.begin(), sps.end());
        state.mPPS.assign(pps.begin(), pps.end());
        state.formatDesc.reset();
        if (sps.size() < kNalPrefixBytes || pps.size() < kNalPrefixBytes) {
            return false;
        }
        format =
            H264ParameterSets::create(sps.subspan(kNalPrefixBytes), pps.subspan(kNalPrefixBytes));
        if (!format) {
            return false;
        }
        state.formatDesc = format;
    }
    state.frame_width = format->width();
    state.frame_height = format->height();
    hand(Work{std::move(format), nullptr, {}});
    return true;
}

void H264Decoder::decodeFrame(ByteView data) {
    State& state = *state_;
    if (!state.isRunning || !isSlice(data)) {
        return;
    }
    SharedPacket sample = makeSample(data);
    if (!sample) {
        return;
    }
    state.mBSlice = frameTypeOf(data);
    state.decoder_order = nextDecodeOrder(state.decoder_order);
    submit(std::move(sample), state.mBSlice, isIdrSlice(data));
}

void H264Decoder::decodeTwoSlicePicture(ByteView data) {
    State& state = *state_;
    if (!state.isRunning || !isSlice(data)) {
        return;
    }
    state.firstSliceSeen = !state.firstSliceSeen;
    if (state.firstSliceSeen) {
        // The halves of a picture are about the same size; the room (half as much again as the
        // larger of this slice and the last second one, and a page more for tiny pictures) saves
        // moving the first when the second is appended.
        state.firstSlice =
            makeSample(data, std::max(data.size(), state.lastSecondSlice) * 3 / 2 + 4096);
        return;
    }
    SharedPacket sample = std::move(state.firstSlice);
    state.lastSecondSlice = data.size();
    if (!sample || !appendSlice(*sample, data)) {
        return;
    }
    // The packet's first bytes are the first slice's, its prefix now a length.
    const ByteView first(sample->data, kNalPrefixBytes + 1);
    state.mBSlice = frameTypeOf(first);
    state.decoder_order = nextDecodeOrder(state.decoder_order);
    submit(std::move(sample), state.mBSlice, isIdrSlice(first));
}

void H264Decoder::submit(std::shared_ptr<AVPacket> sample, int32_t frameType, bool idr) {
    State& state = *state_;
    {
        // Without a format description a picture cannot be decoded.
        std::lock_guard lock(state.formatLock);
        if (!state.formatDesc) {
            return;
        }
    }
    state.receivedBytes += static_cast<uint64_t>(sample->size);
    hand(Work{nullptr, std::move(sample), FrameRecord{state.decoder_order, frameType, idr}});
}

void H264Decoder::hand(Work work) {
    State& state = *state_;
    bool queueDrain = false;
    {
        std::lock_guard lock(state.pendingLock);
        if (state.closing || !state.isRunning) {
            return;
        }
        queueDrain = state.enqueue(std::move(work));
    }
    if (queueDrain) {
        queue_->async([state = state_] { state->drain(); });
    }
}

void H264Decoder::takePicture(long pictureId) {
    state_->pictureID = static_cast<uint64_t>(pictureId);
    state_->takePhoto = true;
}

void H264Decoder::waitForAsynchronousFrames() {
    queue_->sync([] {});
}

void H264Decoder::releaseResource() {
    queue_->sync([state = state_] { state->releaseResource(); });
}

void H264Decoder::setBuffer(PixelBuffer frame, int32_t decodeOrder, int32_t frameType) {
    state_->setBuffer(std::move(frame), decodeOrder, frameType);
}

}  // namespace vistamo
