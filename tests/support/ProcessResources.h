#pragma once

#include <filesystem>
#include <iterator>
#include <ostream>

namespace vistamo::test {

// The number of threads and open descriptors of this process, to compare before and after.
struct ProcessResources {
    size_t threads = 0;
    size_t descriptors = 0;

    static ProcessResources now() {
        const auto entries = [](const char* folder) {
            return static_cast<size_t>(
                std::distance(std::filesystem::directory_iterator(folder), {}));
        };
        return {entries("/proc/self/task"), entries("/proc/self/fd")};
    }
    bool operator==(const ProcessResources&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ProcessResources& counted) {
        return out << counted.threads << " threads, " << counted.descriptors << " descriptors";
    }
};

}  // namespace vistamo::test
