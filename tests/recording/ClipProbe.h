#pragma once

#include <filesystem>
#include <vector>

namespace vistamo::test {

// What a player finds in a recording: read through libavformat, every picture decoded with
// libavcodec's H.264 decoder.
struct ClipProbe {
    bool opened = false;
    bool hasVideo = false;
    bool hasOpus = false;
    int width = 0;
    int videoPackets = 0;
    int audioPackets = 0;
    bool firstIsKey = false;
    bool decodeTimesIncrease = true;
    // Pictures out of the decoder (in display order), those it flagged as damaged, and the
    // frame numbers drawn into them.
    int decoded = 0;
    int damaged = 0;
    bool presentationTimesIncrease = true;
    std::vector<int> frameNumbers;
    // From the first picture's presentation to the last one's end, in seconds.
    double videoSeconds = 0;
    double firstVideoSeconds = 0;
};

ClipProbe probeClip(const std::filesystem::path& path);

// Expects what a player needs: the file opens with a video and an Opus stream, begins on a key
// frame, its time stamps increase, and every picture decodes undamaged.
void expectPlayable(const ClipProbe& probe);

}  // namespace vistamo::test
