#include "discovery/LocalInterfaces.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/socket.h>

namespace vistamo {
namespace {

using Strings = std::vector<std::string>;

// "address ipType", starting from an IP type that neither version uses, so "left untouched"
// shows as 7.
std::string choose(const Strings& ipv4, const Strings& ipv6, bool ipv4HasPriority) {
    int32_t ipType = 7;
    const auto address = LocalInterfaces::getValidIP(ipv4, ipv6, ipv4HasPriority, ipType);
    return address.value_or("none") + " " + std::to_string(ipType);
}

TEST(LocalInterfacesTest, GetValidIPWithIPv4Priority) {
    EXPECT_EQ(choose({"169.254.3.4", "192.168.0.7"}, {}, true), "192.168.0.7 0");
    EXPECT_EQ(choose({"192.168.0.7"}, {"2001:db8::1", "2001:db8::2", "2001:db8::3"}, true),
              "192.168.0.7 0");
    // Two IPv6 addresses are not more than two: the link-local IPv4 address wins.
    EXPECT_EQ(choose({"169.254.3.4"}, {"2001:db8::1", "2001:db8::2"}, true), "169.254.3.4 0");
    EXPECT_EQ(choose({}, {"fe80::1", "fe80::2", "2001:db8::5"}, true), "2001:db8::5 1");
    // A counting IPv6 list without a usable address ends the search, IP type untouched, even
    // when a link-local IPv4 address would do.
    EXPECT_EQ(choose({}, {"fe80::1", "fe80::2", "fe80::3"}, true), "none 7");
    EXPECT_EQ(choose({"169.254.1.1"}, {"fe80::1", "fe80::2", "fe80::3"}, true), "none 7");
    // Otherwise IPv4 it is, found or not.
    EXPECT_EQ(choose({}, {"2001:db8::1", "2001:db8::2"}, true), "none 0");
    EXPECT_EQ(choose({}, {}, true), "none 0");

    // fe80::/10 through the first up to four hex digits masked with 0xFFC0, in either case.
    EXPECT_EQ(choose({}, {"febf::1", "FE80::2", "fec0::3"}, true), "fec0::3 1");
    // "fe8:" reads as 0x0fe8: not link-local, although fe8:: would be written fe80 in full.
    EXPECT_EQ(choose({}, {"fe8::1", "fe80::2", "fe80::3"}, true), "fe8::1 1");
    EXPECT_EQ(choose({}, {"fe80::1", "fe80::2", "::1"}, true), "::1 1");
    // IPv4 by the text "169.254." only.
    EXPECT_EQ(choose({"169.254.9.9", "169.25.4.1"}, {}, true), "169.25.4.1 0");
}

TEST(LocalInterfacesTest, GetValidIPWithoutPriority) {
    // A counting IPv6 list decides.
    EXPECT_EQ(choose({"192.168.0.7"}, {"fe80::1", "2001:db8::2", "2001:db8::3"}, false),
              "2001:db8::2 1");
    EXPECT_EQ(choose({"192.168.0.7"}, {"fe80::1", "fe80::2", "fe80::3"}, false), "none 7");
    EXPECT_EQ(choose({"169.254.3.4", "192.168.0.7"}, {"2001:db8::1", "2001:db8::2"}, false),
              "192.168.0.7 0");
    // No usable IPv4 address: the first IPv6 address, link-local or not, as IPv6.
    EXPECT_EQ(choose({"169.254.3.4"}, {"fe80::9", "2001:db8::2"}, false), "fe80::9 1");
    EXPECT_EQ(choose({"169.254.3.4"}, {}, false), "none 1");
}

TEST(LocalInterfacesTest, GathersUsableInterfacesDefaultRouteFirst) {
    const unsigned usable = IFF_UP | IFF_RUNNING | IFF_MULTICAST;
    const std::vector<LocalInterfaces::InterfaceAddress> entries = {
        {"lo", usable | IFF_LOOPBACK, AF_INET, "127.0.0.1"},
        {"enp1s0", usable, AF_INET, "192.168.1.5"},
        {"enp1s0", usable, AF_INET6, "fe80::1"},
        {"docker0", usable, AF_INET, "172.17.0.1"},
        {"eth2", IFF_UP | IFF_MULTICAST, AF_INET, "10.9.9.9"},  // no carrier
        {"eth3", IFF_UP | IFF_RUNNING, AF_INET, "10.8.8.8"},    // no multicast
        {"wlan0", usable, AF_PACKET, ""},
        {"wlan0", usable, AF_INET, "10.0.0.5"},
        {"wlan0", usable, AF_INET6, "2001:db8::9"},
        {"en5", usable, AF_PACKET, ""},  // usable, but without addresses
    };
    EXPECT_EQ(LocalInterfaces::usableInterfaceNames(entries, "wlan0"),
              (Strings{"wlan0", "enp1s0", "en5"}));
    EXPECT_EQ(LocalInterfaces::usableInterfaceNames(entries, "docker0"),
              (Strings{"enp1s0", "wlan0", "en5"}));

    Strings ipv4{"kept"};
    EXPECT_EQ(LocalInterfaces::collectAddresses(entries, "wlan0", 4, ipv4), "192.168.1.5");
    EXPECT_EQ(ipv4, (Strings{"kept", "10.0.0.5", "192.168.1.5"}));
    Strings ipv6;
    EXPECT_EQ(LocalInterfaces::collectAddresses(entries, "", 6, ipv6), "2001:db8::9");
    EXPECT_EQ(ipv6, (Strings{"fe80::1", "2001:db8::9"}));
    Strings other;
    EXPECT_EQ(LocalInterfaces::collectAddresses(entries, "", 5, other), std::nullopt);
    EXPECT_TRUE(other.empty());
}

}  // namespace
}  // namespace vistamo
