// Writes the seeds of fuzz/corpus/session_whole: what a test camera sends a client that has
// passed its challenge and asked for the stream, recorded from the wire, message by message
// as they came, and cut after a few pictures and sound packets. Built by hand against the test
// support library, for example:
//   g++ -std=c++20 -Isrc -Itests fuzz/corpus/make_session_whole_seeds.cpp \
//       tests/support/CameraProcess.cpp tests/support/WireClient.cpp \
//       -DVISTAMO_CAMERA_PATH=\"$PWD/build/debug/tools/camera/vistamo-camera\" -pthread
//   ./a.out fuzz/corpus/session_whole
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/CameraProcess.h"
#include "support/WireClient.h"

namespace {

using vistamo::Bytes;
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

void write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    write(folder + "/camera_ipb",
          record({"--size", "320x240", "--fps", "30", "--gop", "10", "--bframes"}, 6));
    write(
        folder + "/camera_two_slices",
        record({"--size", "192x64", "--fps", "30", "--gop", "5", "--two-slices", "--bframes"}, 12));
    write(folder + "/camera_720p", record({"--size", "1280x720", "--fps", "30", "--bframes"}, 3));
    return 0;
}
