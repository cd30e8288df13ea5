// Writes the seeds of fuzz/corpus/decoder_input: small libx264 streams in the fuzz target's
// record format. Built by hand against the test support library, for example:
//   g++ -std=c++20 -Isrc -Itests fuzz/corpus/make_decoder_input_seeds.cpp \
//       tests/support/TestStream.cpp $(pkg-config --cflags --libs libavcodec libavutil)
//   ./a.out fuzz/corpus/decoder_input
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/TestStream.h"

namespace {

using vistamo::Bytes;
using namespace vistamo::test;

void record(Bytes& out, uint8_t kind, const Bytes& body) {
    if (body.size() > 0xffff) {
        std::fprintf(stderr, "a unit of %zu bytes does not fit a record\n", body.size());
        std::exit(1);
    }
    out.push_back(kind);
    out.push_back(static_cast<uint8_t>(body.size()));
    out.push_back(static_cast<uint8_t>(body.size() >> 8));
    out.insert(out.end(), body.begin(), body.end());
}

Bytes parameterSets(const TestStream& stream) {
    Bytes body = {static_cast<uint8_t>(stream.sps.size())};
    body.insert(body.end(), stream.sps.begin(), stream.sps.end());
    body.insert(body.end(), stream.pps.begin(), stream.pps.end());
    return body;
}

Bytes seedOf(const TestStream& stream) {
    Bytes out;
    record(out, 0, parameterSets(stream));
    for (const auto& picture : stream.pictures) {
        for (const auto& slice : picture.slices) {
            record(out, picture.slices.size() == 1 ? 1 : 2, slice);
        }
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
    TestStreamOptions options;
    options.width = 48;
    options.height = 32;
    options.frames = 5;
    options.bFrames = true;
    write(folder + "/ipb", seedOf(encodeTestStream(options)));

    options.slices = 2;
    options.scalingMatrices = true;
    write(folder + "/two_slices", seedOf(encodeTestStream(options)));

    options.slices = 1;
    options.scalingMatrices = false;
    options.bFrames = false;
    options.frames = 3;
    const TestStream first = encodeTestStream(options);
    options.width = 64;
    const TestStream second = encodeTestStream(options);
    Bytes both = seedOf(first);
    const Bytes next = seedOf(second);
    both.insert(both.end(), next.begin(), next.end());
    write(folder + "/new_sets", both);

    // Camera-sized pictures that decode: 720p and 1080p, with B pictures, in two slices, so
    // that mutations start from the decoder's real work.
    options.bFrames = true;
    options.slices = 2;
    options.width = 1280;
    options.height = 720;
    options.frames = 4;
    write(folder + "/hd720_ipb_two_slices", seedOf(encodeTestStream(options)));
    options.width = 1920;
    options.height = 1080;
    options.frames = 3;
    // (A 1080p picture in one slice is larger than a record holds.)
    write(folder + "/hd1080_ipb_two_slices", seedOf(encodeTestStream(options)));
    return 0;
}
