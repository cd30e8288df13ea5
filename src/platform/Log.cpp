#include "platform/Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace vistamo {

namespace {
std::atomic<DebugLineSink> debugSink{nullptr};

std::mutex& outputLock() {
    static std::mutex lock;
    return lock;
}

void writeLine(FILE* stream, std::string_view prefix, std::string_view text) {
    std::string line;
    line.reserve(prefix.size() + text.size() + 1);
    line.append(prefix).append(text).push_back('\n');
    std::lock_guard guard(outputLock());
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}
}  // namespace

void logLine(std::string_view text) { writeLine(stderr, "vistamo: ", text); }

void printLine(std::string_view text) { writeLine(stdout, "", text); }

void debugLine(std::string_view text) {
    if (const DebugLineSink sink = debugSink.load(std::memory_order_acquire)) {
        sink(text);
    }
}

void setDebugLineSink(DebugLineSink sink) { debugSink.store(sink, std::memory_order_release); }

}  // namespace vistamo
