#include "discovery/DiscoveryMessages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/DiscoveryDoubles.h"

namespace vistamo {
namespace {

TEST(DiscoveryMessages, AnythingButAWholeAnswerOrLeaveIsDropped) {
    const Bytes from = test::socketAddress("10.1.2.3", 5000);
    const Bytes in = makePeerIdentity(PeerCommand::IAmIn, 7341, "abc", "Name");
    // Long enough for its length byte, were that read unsigned.
    Bytes longLength = in;
    longLength.resize(5 + 255, 'x');
    longLength[4] = 128;
    const std::vector<std::pair<std::string, Bytes>> dropped = {
        {"three bytes", {0x01, 0x22, 0x00}},
        {"version 010", {0x01, 0x42, 0x00, 0x00, 0x00}},
        {"version 000", {0x01, 0x02, 0x00, 0x00, 0x00}},
        {"unknown kind", {0x02, 0x22, 0x00, 0x00, 0x00}},
        {"server command", {200, 0x23, 0x01, 0x00, 0x01, 0x41, 0x01, 0x42}},
        {"scan request", makeScanRequest("10.1.2.4")},
        {"peer command 4", {0x01, 0x24, 0x00, 0x00, 0x00}},
        {"no length byte", {0x01, 0x22, 0x00, 0x00}},
        {"identity cut short", Bytes(in.begin(), in.begin() + 7)},
        {"length 128", longLength},
    };
    for (const auto& [what, datagram] : dropped) {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(readDiscoveryEvent(datagram, from)))
            << what;
    }
    // An answer from an address that cannot be read has nowhere to go; a leave needs none.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        readDiscoveryEvent(in, ByteView(from).first(from.size() - 1))));
    EXPECT_EQ(std::get<DiscoveryLeave>(
                  readDiscoveryEvent(makePeerIdentity(PeerCommand::IAmOut, 0, "abc", ""), {}))
                  .uuid,
              "abc");

    // The longest identity fits exactly, and the name runs to the end whatever it holds.
    const std::string longest(kMaxDiscoveryUUIDBytes, 'u');
    Bytes full = makePeerIdentity(PeerCommand::IAmIn, 1, longest, "");
    full.push_back(0x00);
    full.push_back(0xFF);
    const auto answer = std::get<DiscoveryAnswer>(readDiscoveryEvent(full, from));
    EXPECT_EQ(answer.uuid, longest);
    EXPECT_EQ(answer.name, std::string("\0\xFF", 2));
    EXPECT_TRUE(makePeerIdentity(PeerCommand::IAmIn, 1, longest + "u", "").empty());
    EXPECT_TRUE(makeResponse(longest + "u", "").empty());
}

}  // namespace
}  // namespace vistamo
