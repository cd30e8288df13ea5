#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

#include "support/TempHome.h"

namespace vistamo::test {

// Each test in a temporary home (TempHomeTest) with SDL's disk audio driver: output devices
// play into `played()` at the real rate, capture devices record from `microphone()`.
class DiskSoundTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setVariable("SDL_AUDIODRIVER", "disk");
        setVariable("SDL_DISKAUDIOFILE", played().string());
        setVariable("SDL_DISKAUDIOFILEIN", microphone().string());
    }

    std::filesystem::path played() const { return home_ / "played.raw"; }
    std::filesystem::path microphone() const { return home_ / "microphone.raw"; }

    // What the microphone will record: 48 kHz samples of one channel.
    void setMicrophone(std::span<const int16_t> samples) const {
        std::ofstream(microphone(), std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size_bytes()));
    }

    uint64_t playedBytes() const {
        std::error_code error;
        const auto size = std::filesystem::file_size(played(), error);
        return error ? 0 : size;
    }
    // Samples played from byte `from` on that are not silence.
    size_t soundingSamplesAfter(uint64_t from) const {
        std::ifstream in(played(), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(from));
        size_t sounding = 0;
        int16_t sample;
        while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
            sounding += sample != 0;
        }
        return sounding;
    }
};

}  // namespace vistamo::test
