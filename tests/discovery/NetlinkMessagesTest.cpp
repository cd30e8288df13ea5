#include "discovery/NetlinkMessages.h"

#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cstring>

namespace vistamo {
namespace {

// Datagrams laid out as the kernel lays them out.
template <typename T>
Bytes raw(const T& value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

Bytes aligned(Bytes bytes) {
    bytes.resize(NLMSG_ALIGN(bytes.size()));
    return bytes;
}

Bytes attribute(uint16_t type, const Bytes& payload) {
    rtattr header{static_cast<uint16_t>(RTA_LENGTH(payload.size())), type};
    Bytes bytes = raw(header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return aligned(bytes);
}

Bytes message(uint16_t type, const Bytes& body, uint32_t sequence = 1, uint16_t flags = 0) {
    nlmsghdr header{static_cast<uint32_t>(NLMSG_LENGTH(body.size())), type, flags, sequence, 0};
    Bytes bytes = raw(header);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return aligned(bytes);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes linkMessage(int index, const char* name) {
    ifinfomsg info{};
    info.ifi_index = index;
    info.ifi_flags = IFF_UP | IFF_RUNNING;
    return message(RTM_NEWLINK,
                   raw(info) + attribute(IFLA_IFNAME, Bytes(name, name + std::strlen(name) + 1)));
}

TEST(NetlinkMessagesTest, ReadsADumpAsTheKernelSendsItWithErrorsAndOtherSequences) {
    ifaddrmsg pointToPoint{AF_INET, 32, 0, 0, 5};
    rtmsg route{};
    route.rtm_family = AF_INET6;
    route.rtm_dst_len = 16;
    route.rtm_table = RT_TABLE_COMPAT;
    route.rtm_type = RTN_UNICAST;
    rtnexthop hops[2] = {{sizeof(rtnexthop), 0, 0, 3}, {sizeof(rtnexthop), 0, 0, 5}};
    const Bytes datagram =
        linkMessage(5, "en0") +
        message(RTM_NEWADDR, raw(pointToPoint) + attribute(IFA_ADDRESS, {10, 0, 0, 2}) +
                                 attribute(IFA_LOCAL, {10, 0, 0, 1})) +
        message(RTM_NEWROUTE, raw(route) + attribute(RTA_TABLE, raw(uint32_t{RT_TABLE_MAIN})) +
                                  attribute(RTA_DST, Bytes{0x20, 0x01, 0x0d, 0xb8} + Bytes(12)) +
                                  attribute(RTA_MULTIPATH, raw(hops))) +
        message(RTM_DELLINK, raw(ifinfomsg{})) + message(NLMSG_DONE, raw(0)) +
        linkMessage(9, "after-done");

    NetlinkParse parse;
    parseNetlinkMessages(datagram, 1, parse);
    EXPECT_TRUE(parse.done);
    EXPECT_FALSE(parse.malformed);
    EXPECT_EQ(parse.error, 0);
    EXPECT_EQ(parse.changes, 4u);
    ASSERT_EQ(parse.found.links.size(), 1u);
    EXPECT_EQ(parse.found.links[0].name, "en0");
    EXPECT_EQ(parse.found.links[0].index, 5);
    ASSERT_EQ(parse.found.addresses.size(), 1u);
    EXPECT_EQ(parse.found.addresses[0].address[3], 1) << "this host's side of the link";
    ASSERT_EQ(parse.found.routes.size(), 1u);
    const NetlinkRoute& found = parse.found.routes[0];
    EXPECT_EQ(found.table, static_cast<uint32_t>(RT_TABLE_MAIN));
    EXPECT_EQ(found.destination[1], 0x01);
    EXPECT_EQ(found.outputInterfaces, (std::vector<int32_t>{3, 5}));

    // Other sequences are skipped; errors and inconsistency are reported.
    NetlinkParse other;
    parseNetlinkMessages(
        linkMessage(1, "other") + message(RTM_NEWLINK, raw(ifinfomsg{}), 2, NLM_F_DUMP_INTR) +
            message(NLMSG_ERROR, raw(nlmsgerr{-EBUSY, {}}), 2) + linkMessage(3, "late"),
        2, other);
    EXPECT_EQ(other.found.links.size(), 1u);
    EXPECT_TRUE(other.interrupted);
    EXPECT_EQ(other.error, EBUSY);

    NetlinkParse failed;
    parseNetlinkMessages(message(NLMSG_DONE, raw(-ENOMEM)), std::nullopt, failed);
    EXPECT_TRUE(failed.done);
    EXPECT_EQ(failed.error, ENOMEM);
}

}  // namespace
}  // namespace vistamo
