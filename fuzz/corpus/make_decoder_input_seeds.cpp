// Writes the seeds of fuzz/corpus/decoder_input: small libx264 streams in the fuzz target's
// record format. Built by hand against the test support library, for example:
//   g++ -std=c++20 -Isrc -Itests fuzz/corpus/make_decoder_input_seeds.cpp \
//       tests/support/TestStream.cpp $(pkg-config --cflags --libs libavcodec libavutil)
//   ./a.out fuzz/corpus/decoder_input
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SeedFile.h"
#include "support/TestStream.h"

namespace {

using vistamo::Bytes;
using vistamo::fuzz::seedFolder;
using vistamo::fuzz::writeSeed;
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

}  // namespace

int main(int argc, char** argv) {
    const auto given = seedFolder(argc, argv);
    if (!given) {
        return 2;
    }
    const std::string& folder = *given;
    TestStreamOptions options;
    options.width = 48;
    options.height = 32;
    options.frames = 5;
    options.bFrames = true;
    writeSeed(folder + "/ipb", seedOf(encodeTestStream(options)));

    options.slices = 2;
    options.scalingMatrices = true;
    writeSeed(folder + "/two_slices", seedOf(encodeTestStream(options)));

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
    writeSeed(folder + "/new_sets", both);

    // Camera-sized pictures that decode: 720p and 1080p, with B pictures, in two slices, so
    // that mutations start from the decoder's real work.
    options.bFrames = true;
    options.slices = 2;
    options.width = 1280;
    options.height = 720;
    options.frames = 4;
    writeSeed(folder + "/hd720_ipb_two_slices", seedOf(encodeTestStream(options)));
    options.width = 1920;
    options.height = 1080;
    options.frames = 3;
    // (A 1080p picture in one slice is larger than a record holds.)
    writeSeed(folder + "/hd1080_ipb_two_slices", seedOf(encodeTestStream(options)));
    return 0;
}
