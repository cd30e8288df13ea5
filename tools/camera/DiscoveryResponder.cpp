#include "DiscoveryResponder.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio/ip/multicast.hpp>
#include <asio/ip/v6_only.hpp>
#include <cstring>
#include <optional>

#include "CameraLog.h"
#include "discovery/DiscoveryMessages.h"

namespace vistamo::camera {

namespace {

using asio::ip::udp;

// Lets this socket share its port with the viewer's, which asks for the same.
using ReusePort = asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;

std::string endpointText(const udp::endpoint& endpoint) {
    const std::string address = endpoint.address().to_string();
    const std::string port = std::to_string(endpoint.port());
    return endpoint.address().is_v6() ? "[" + address + "]:" + port : address + ":" + port;
}

bool sameAddress(const asio::ip::address& a, const asio::ip::address& b) {
    if (a.is_v6() && b.is_v6()) {
        return a.to_v6().to_bytes() == b.to_v6().to_bytes();
    }
    return a == b;
}

// One address per interface and IP version, of every interface that is up and either
// multicast-capable or loopback; only the one holding `only` when given. IPv6 addresses carry
// their interface's index as scope.
std::vector<asio::ip::address> discoveryInterfaces(const std::optional<asio::ip::address>& only) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    std::vector<asio::ip::address> found;
    std::vector<std::pair<unsigned, bool>> taken;  // interface index, IPv6
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr ||
            (entry->ifa_flags & IFF_UP) == 0 ||
            (entry->ifa_flags & (IFF_MULTICAST | IFF_LOOPBACK)) == 0) {
            continue;
        }
        const unsigned index = ::if_nametoindex(entry->ifa_name);
        asio::ip::address address;
        if (entry->ifa_addr->sa_family == AF_INET) {
            sockaddr_in raw{};
            std::memcpy(&raw, entry->ifa_addr, sizeof raw);
            address = asio::ip::address_v4(ntohl(raw.sin_addr.s_addr));
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            sockaddr_in6 raw{};
            std::memcpy(&raw, entry->ifa_addr, sizeof raw);
            asio::ip::address_v6::bytes_type bytes;
            std::memcpy(bytes.data(), &raw.sin6_addr, bytes.size());
            address = asio::ip::address_v6(bytes, index);
        } else {
            continue;
        }
        if (only && !sameAddress(address, *only)) {
            continue;
        }
        const std::pair<unsigned, bool> key{index, address.is_v6()};
        if (std::find(taken.begin(), taken.end(), key) == taken.end()) {
            taken.push_back(key);
            found.push_back(address);
        }
    }
    return found;
}

}  // namespace

DiscoveryResponder::DiscoveryResponder(asio::io_context& context, const CameraOptions& options,
                                       uint16_t tcpPort)
    : uuid_(options.uuid),
      name_(options.name),
      bindAddress_(options.bindAddress),
      answerKind_(options.discovery.answerKind),
      tcpPort_(tcpPort),
      ipv4_(context),
      ipv6_(context) {}

DiscoveryResponder::~DiscoveryResponder() { stop(); }

void DiscoveryResponder::start() {
    if (uuid_.size() > kMaxDiscoveryUUIDBytes) {
        printCameraLine("discovery error --uuid is longer than 127 bytes, so discovery is off");
        return;
    }
    std::optional<asio::ip::address> only;
    if (!bindAddress_.empty()) {
        std::error_code error;
        only = asio::ip::make_address(bindAddress_, error);
    }
    for (const auto& address : discoveryInterfaces(only)) {
        (address.is_v6() ? ipv6_ : ipv4_).interfaces.push_back(address);
    }
    std::error_code error;
    const bool open4 = !ipv4_.interfaces.empty() &&
                       open(ipv4_, asio::ip::make_address(kDiscoveryGroupIPv4, error));
    const bool open6 = !ipv6_.interfaces.empty() &&
                       open(ipv6_, asio::ip::make_address(kDiscoveryGroupIPv6, error));
    if (!open4 && !open6) {
        printCameraLine("discovery error no interface to take part in discovery on");
        return;
    }
    running_ = true;
    if (open4) {
        receiveNext(ipv4_);
    }
    if (open6) {
        receiveNext(ipv6_);
    }
    if (sendToGroup(makePeerIdentity(PeerCommand::IAmIn, tcpPort_, uuid_, name_))) {
        printCameraLine("discovery announce");
    }
}

void DiscoveryResponder::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    if (sendToGroup(makePeerIdentity(PeerCommand::IAmOut, tcpPort_, uuid_, name_))) {
        printCameraLine("discovery leave");
    }
    for (Family* family : {&ipv4_, &ipv6_}) {
        std::error_code ignored;
        family->receiver.close(ignored);
        family->sender.close(ignored);
    }
}

bool DiscoveryResponder::open(Family& family, const asio::ip::address& group) {
    const udp protocol = group.is_v6() ? udp::v6() : udp::v4();
    const std::string version = group.is_v6() ? "IPv6" : "IPv4";
    const auto fail = [&](const std::string& what, const std::error_code& error) {
        printCameraLine("discovery error " + version + " " + what + ": " + error.message());
        std::error_code ignored;
        family.receiver.close(ignored);
        family.sender.close(ignored);
        return false;
    };
    std::error_code error;
    family.receiver.open(protocol, error);
    if (!error && group.is_v6()) {
        family.receiver.set_option(asio::ip::v6_only(true), error);
    }
    if (!error) {
        family.receiver.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (!error) {
        family.receiver.set_option(ReusePort(true), error);
    }
    if (!error) {
        family.receiver.bind({group, kDiscoveryPort}, error);
    }
    if (error) {
        return fail("cannot receive on port " + std::to_string(kDiscoveryPort), error);
    }
    // An interface may refuse (IPv6 on loopback, say); the others still count.
    size_t joined = 0;
    std::error_code joinError;
    for (const auto& address : family.interfaces) {
        if (group.is_v6()) {
            family.receiver.set_option(
                asio::ip::multicast::join_group(group.to_v6(), address.to_v6().scope_id()),
                joinError);
        } else {
            family.receiver.set_option(
                asio::ip::multicast::join_group(group.to_v4(), address.to_v4()), joinError);
        }
        joined += joinError ? 0 : 1;
    }
    if (joined == 0) {
        return fail("cannot join " + group.to_string(), joinError);
    }

    family.sender.open(protocol, error);
    if (!error && group.is_v6()) {
        family.sender.set_option(asio::ip::v6_only(true), error);
    }
    if (error) {
        return fail("cannot open a socket to answer from", error);
    }
    asio::ip::address local = group.is_v6() ? asio::ip::address(asio::ip::address_v6::any())
                                            : asio::ip::address(asio::ip::address_v4::any());
    if (!bindAddress_.empty()) {
        local = asio::ip::make_address(bindAddress_, error);
    }
    family.sender.bind({local, tcpPort_}, error);
    if (error) {
        printCameraLine("discovery error " + version + " cannot answer from UDP port " +
                        std::to_string(tcpPort_) + ": " + error.message());
        family.sender.bind({local, 0}, error);
        if (error) {
            return fail("cannot bind a socket to answer from", error);
        }
    }
    return true;
}

void DiscoveryResponder::receiveNext(Family& family) {
    family.receiver.async_receive_from(
        asio::buffer(family.buffer), family.from,
        [this, &family](const std::error_code& error, size_t size) {
            if (!running_ || error == asio::error::operation_aborted) {
                return;
            }
            if (error) {
                printCameraLine("discovery error receive: " + error.message());
                return;
            }
            answer(family, ByteView(family.buffer.data(), size));
            receiveNext(family);
        });
}

Bytes DiscoveryResponder::answerDatagram() const {
    return answerKind_ == DiscoveryAnswerKind::IAmIn
               ? makePeerIdentity(PeerCommand::IAmIn, tcpPort_, uuid_, name_)
               : makeResponse(uuid_, name_);
}

void DiscoveryResponder::answer(Family& family, ByteView request) {
    // Everything else on the group (announcements and answers of other cameras, this camera's
    // own) is for viewers.
    const auto header = readDiscoveryHeader(request);
    if (!header || header->kind != DiscoveryKind::Peer ||
        header->command != static_cast<uint8_t>(PeerCommand::ScanRequest)) {
        return;
    }
    const std::string fromText = endpointText(family.from);
    printCameraLine("discovery request from " + fromText);
    udp::endpoint to = family.from;
    if (to.address().is_v6()) {
        // Over IPv6 the answer goes to the address the request carries.
        const std::string carried = readScanRequestAddress(request);
        std::error_code error;
        auto address = asio::ip::make_address_v6(carried, error);
        if (error || carried.find('\0') != std::string::npos) {
            printCameraLine("discovery unanswered request from " + fromText +
                            ": it carries no address");
            return;
        }
        if (address.is_link_local() && address.scope_id() == 0) {
            address.scope_id(family.from.address().to_v6().scope_id());
        }
        to = udp::endpoint(address, family.from.port());
    }
    std::error_code error;
    family.sender.send_to(asio::buffer(answerDatagram()), to, 0, error);
    if (error) {
        printCameraLine("discovery error answer to " + endpointText(to) + ": " + error.message());
        return;
    }
    printCameraLine("discovery answer " + std::string(answerKindName(answerKind_)) + " to " +
                    endpointText(to));
}

bool DiscoveryResponder::sendToGroup(const Bytes& datagram) {
    bool sent = false;
    std::error_code error;
    for (Family* family : {&ipv4_, &ipv6_}) {
        if (!family->sender.is_open()) {
            continue;
        }
        const bool v6 = family == &ipv6_;
        const udp::endpoint group(
            asio::ip::make_address(v6 ? kDiscoveryGroupIPv6 : kDiscoveryGroupIPv4, error),
            kDiscoveryPort);
        for (const auto& address : family->interfaces) {
            std::error_code sendError;
            if (v6) {
                family->sender.set_option(asio::ip::multicast::outbound_interface(
                                              static_cast<unsigned>(address.to_v6().scope_id())),
                                          sendError);
            } else {
                family->sender.set_option(asio::ip::multicast::outbound_interface(address.to_v4()),
                                          sendError);
            }
            if (!sendError) {
                family->sender.send_to(asio::buffer(datagram), group, 0, sendError);
            }
            sent = sent || !sendError;
        }
    }
    if (!sent) {
        printCameraLine("discovery error nothing reached the discovery group");
    }
    return sent;
}

}  // namespace vistamo::camera
