#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CameraOptions.h"
#include "platform/Bytes.h"

namespace vistamo::camera {

// The camera's side of discovery on UDP port 10221: it answers every scan request, announces
// the camera once at start (an I-am-in to the group) and says goodbye (an I-am-out) at stop.
//
// A viewer may run on the same machine and share port 10221, so the sockets are split by what
// they must receive: the receiving socket of each IP version is bound to the discovery group's
// address and so gets only the group's datagrams (scan requests, every sharer gets a copy),
// never a unicast one; the viewer binds the port on every address and so is the only one that
// unicast answers reach. Answers and announcements leave by a second socket bound to a UDP port
// equal to the camera's TCP port, which a response needs as its source port (another port when
// that one is taken, with an error line).
//
// The group is joined on every interface that is up and multicast-capable, and on loopback;
// with --bind only on the interface that has that address. Problems are printed as "discovery
// error" lines and the camera goes on without discovery (or without the IP version that failed).
//
// Lifecycle: construct, start, stop; after stop nothing of it waits on the io_context.
// Threads: the io_context's one thread only.
class DiscoveryResponder {
public:
    DiscoveryResponder(asio::io_context& context, const CameraOptions& options, uint16_t tcpPort);
    ~DiscoveryResponder();

    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    void start();
    // Sends the I-am-out, then closes every socket. Further calls do nothing.
    void stop();

private:
    // One IP version: its receiving and sending sockets and the interfaces it joined on.
    struct Family {
        explicit Family(asio::io_context& context) : receiver(context), sender(context) {}
        asio::ip::udp::socket receiver;
        asio::ip::udp::socket sender;
        std::vector<asio::ip::address>
            interfaces;  // IPv4: an address; IPv6: the scope is the index
        asio::ip::udp::endpoint from;
        std::array<uint8_t, 9216> buffer{};
    };

    bool open(Family& family, const asio::ip::address& group);
    void receiveNext(Family& family);
    void answer(Family& family, ByteView request);
    // Sends `datagram` to the group on every joined interface; true when one send went out.
    bool sendToGroup(const Bytes& datagram);
    Bytes answerDatagram() const;

    // Set once at construction.
    const std::string uuid_;
    const std::string name_;
    const std::string bindAddress_;
    const DiscoveryAnswerKind answerKind_;
    const uint16_t tcpPort_;

    // The io_context's thread only.
    Family ipv4_;
    Family ipv6_;
    bool running_ = false;
};

}  // namespace vistamo::camera
