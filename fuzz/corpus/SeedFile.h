#pragma once

// For the hand-built programs that write seed files.
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace vistamo::fuzz {

// The seed folder, the program's only argument; none (after the usage line) otherwise.
inline std::optional<std::string> seedFolder(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return std::nullopt;
    }
    return std::string(argv[1]);
}

// Writes `bytes` to `path` and says how many.
inline void writeSeed(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
}

}  // namespace vistamo::fuzz
