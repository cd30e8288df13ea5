// Writes the seeds of fuzz/corpus/session_whole: what a test camera sends a client that has
// passed its challenge and asked for the stream, recorded from the wire, message by message
// as they came, and cut after a few pictures and sound packets. Built by hand against the test
// support library, for example:
//   g++ -std=c++20 -Isrc -Itests fuzz/corpus/make_session_whole_seeds.cpp \
//       tests/support/CameraProcess.cpp tests/support/WireClient.cpp \
//       -DVISTAMO_CAMERA_PATH=\"$PWD/build/debug/tools/camera/vistamo-camera\" -pthread
//   ./a.out fuzz/corpus/session_whole
#include <cstdio>
#include <string>
#include <vector>

#include "SeedFile.h"
#include "support/CameraProcess.h"
#include "support/WireClient.h"

namespace {

using vistamo::Bytes;
using vistamo::fuzz::seedFolder;
using vistamo::fuzz::writeSeed;
using namespace vistamo::test;

// The camera's messages after the challenge: its status, the stream's parameters, then
// `pictures` video messages (every slice counts) and whatever sound came between them.
Bytes record(const std::vector<std::string>& options, int pictures) {
    std::vector<std::string> arguments = {"--port", "0"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    CameraProcess camera(arguments);
    WireClient client(camera.port());
    Bytes out;
    const auto status = client.verify();
    if (!status) {
        std::fprintf(stderr, "the camera did not verify\n");
        return out;
    }
    const Bytes statusBytes = wireHeader(status->command, status->length, status->type);
    out.insert(out.end(), statusBytes.begin(), statusBytes.end());
    // The status' flags in `details`, as the camera sent them.
    for (int i = 0; i < 4; ++i) {
        out[16 + i] = static_cast<uint8_t>(status->details >> (8 * i));
    }
    client.send(wireMessage(16));
    int videoMessages = 0;
    while (videoMessages < pictures) {
        const auto message = client.readMessageBytes();
        if (!message || message->size() < 24) {
            break;
        }
        videoMessages += le32(message->data() + 12) == 102;
        out.insert(out.end(), message->begin(), message->end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const auto given = seedFolder(argc, argv);
    if (!given) {
        return 2;
    }
    const std::string& folder = *given;
    writeSeed(folder + "/camera_ipb",
              record({"--size", "320x240", "--fps", "30", "--gop", "10", "--bframes"}, 6));
    writeSeed(
        folder + "/camera_two_slices",
        record({"--size", "192x64", "--fps", "30", "--gop", "5", "--two-slices", "--bframes"}, 12));
    writeSeed(folder + "/camera_720p",
              record({"--size", "1280x720", "--fps", "30", "--bframes"}, 3));
    return 0;
}
