// Camera sound as it arrives: arbitrary bytes cut into Opus packets for the codec, which decodes
// them and queues the sound in its player; the same pieces also go in as microphone PCM of
// irregular sizes. The player is drained as its audio thread would drain it.
//
// Input: records of one length byte and that many bytes (255: the rest of the input). A length
// of 0 stops and restarts playback.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "media/OpusCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vistamo::OpusCodec codec(vistamo::AudioEndpoint::none);
    codec.startPlay();
    std::array<uint8_t, 1024> out;
    size_t at = 0;
    while (at < size) {
        const uint8_t head = data[at++];
        if (head == 0) {
            codec.stopPlay();
            codec.startPlay();
            continue;
        }
        const size_t length = head == 255 ? size - at : std::min<size_t>(head, size - at);
        const vistamo::ByteView piece(data + at, length);
        at += length;
        codec.decodeOpusData(piece);
        codec.encodePCMData(piece);
        // Only with something queued: an empty ring makes the callback wait for a block.
        if (!codec.player().ringState().empty) {
            codec.player().playbackCallback(out.data(), static_cast<int>(out.size()));
        }
    }
    return 0;
}
