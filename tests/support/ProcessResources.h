#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace vistamo::test {

// The number of threads and open descriptors of this process, to compare before and after, and
// its resident memory.
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
    // This process's resident memory in kB; 0 when /proc does not say.
    static size_t residentKilobytes() {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("VmRSS:")) {
                return std::stoul(line.substr(6));
            }
        }
        return 0;
    }
    bool operator==(const ProcessResources&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ProcessResources& counted) {
        return out << counted.threads << " threads, " << counted.descriptors << " descriptors";
    }
};

}  // namespace vistamo::test
