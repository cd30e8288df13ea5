// Many short sessions one after another: connect, see pictures and hear sound, disconnect. What a
// session takes (descriptors, threads, memory) it gives back, so after many of them the process
// holds what it held after the first few.
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>

#include <cstdio>
#include <optional>
#include <thread>

#include "faults/RelayedSession.h"
#include "support/ProcessResources.h"

namespace vistamo::test {
namespace {

using namespace std::chrono_literals;

struct Counts {
    size_t descriptors;
    size_t threads;
    size_t residentKb;
};

Counts countNow() {
    const ProcessResources now = ProcessResources::now();
    return {now.descriptors, now.threads, ProcessResources::residentKilobytes()};
}

// The counts once the last session's end has run its course on the main queue and its decoder
// has let go of its thread: as many as `baseline` when given, or no change for a moment.
Counts settledCounts(std::optional<Counts> baseline = std::nullopt) {
    Counts last = countNow();
    waitUntil([&] {
        const Counts now = countNow();
        const bool settled =
            baseline ? now.descriptors <= baseline->descriptors && now.threads <= baseline->threads
                     : now.descriptors == last.descriptors && now.threads == last.threads;
        last = now;
        if (!baseline && settled) {
            std::this_thread::sleep_for(200ms);
            const Counts again = countNow();
            return again.descriptors == now.descriptors && again.threads == now.threads;
        }
        return settled;
    });
    return countNow();
}

class SoakTest : public DiskSoundTest {};

TEST_F(SoakTest, ManySessionsLeaveNothingBehind) {
    // Every session's threads would otherwise warm up malloc arenas of their own for the first
    // hundreds of sessions, growth that says nothing about leaks.
    ::mallopt(M_ARENA_MAX, 1);
    // A thousand where the resident size is read; under a sanitizer, where only descriptors and
    // threads are, a hundred show a leak of either as well.
    int cycles = kSanitized ? 100 : 1000;
    if (const char* wanted = std::getenv("VISTAMO_SOAK_CYCLES")) {
        cycles = std::max(20, std::atoi(wanted));
    }
    // The camera keeps every line it prints in this process; a fresh camera (and relay) every
    // few cycles keeps that from growing with the count.
    constexpr int kCyclesPerCamera = 25;
    const std::vector<std::string> camera = {"--fps", "60", "--gop", "10", "--loop", "1"};
    std::unique_ptr<RelayedSession> link;
    Counts early{};
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (cycle % kCyclesPerCamera == 1) {
            link.reset();
            link = std::make_unique<RelayedSession>(RelayedSession::Options{camera});
        } else {
            link->connect();
        }
        ASSERT_TRUE(waitUntil([&] { return link->renderer->count() >= 3; }, 30s))
            << "cycle " << cycle;
        ASSERT_TRUE(waitUntil([&] { return link->codec->packets >= 5; }, 30s)) << "cycle " << cycle;
        ASSERT_TRUE(link->close()) << "cycle " << cycle;
        ASSERT_TRUE(waitUntil([&] { return link->relay->openConnections() == 0; }))
            << "cycle " << cycle;
        if (cycle == 10) {
            early = settledCounts();
        }
        if (cycle % 100 == 0) {
            const Counts now = countNow();
            std::printf("cycle %d: %zu descriptors, %zu threads, %zu kB resident\n", cycle,
                        now.descriptors, now.threads, now.residentKb);
            std::fflush(stdout);
        }
    }
    // The same kind of camera as after cycle 10: one that served a few sessions.
    const Counts late = settledCounts(early);
    std::printf("after 10: %zu descriptors, %zu threads, %zu kB; after %d: %zu, %zu, %zu kB\n",
                early.descriptors, early.threads, early.residentKb, cycles, late.descriptors,
                late.threads, late.residentKb);
    EXPECT_LE(late.descriptors, early.descriptors + 2);
    EXPECT_LE(late.threads, early.threads + 1);
    if (!kSanitized) {
        // Allocator caches settle; a leak of even 10 kB a session would show as 10 MB.
        EXPECT_LE(late.residentKb, early.residentKb + 6 * 1024);
    }
}

}  // namespace
}  // namespace vistamo::test
