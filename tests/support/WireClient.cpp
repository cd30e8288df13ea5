#include "support/WireClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>

namespace vistamo::test {

namespace {
constexpr std::array<uint8_t, 16> kKey = {0x3e, 0xa1, 0x5c, 0x07, 0xd2, 0x94, 0x6b, 0xf0,
                                          0x18, 0xc7, 0x2d, 0x83, 0x59, 0xe6, 0x0a, 0xb4};

void putLe(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}
}  // namespace

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

Bytes wireHeader(uint32_t command, uint64_t length, uint32_t type) {
    Bytes out;
    putLe(out, length, 8);
    putLe(out, type, 4);
    putLe(out, command, 4);
    putLe(out, 0, 8);
    return out;
}

Bytes wireMessage(uint32_t command, ByteView body) {
    Bytes out = wireHeader(command, 24 + body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes challengeResponse(const WireMessage& challenge, std::string_view password) {
    Bytes body(16);
    for (size_t i = 0; i < 16 && i < challenge.body.size(); ++i) {
        body[i] = challenge.body[i] ^ kKey[i];
    }
    body.insert(body.end(), password.begin(), password.end());
    return wireMessage(30, body);
}

WireClient::WireClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

WireClient::~WireClient() { ::close(fd_); }

bool WireClient::send(ByteView bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

void WireClient::setTimeout(Timeout timeout) {
    const timeval limit{timeout.count() / 1000, static_cast<long>(timeout.count() % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

Bytes WireClient::readBytes(size_t count, Timeout timeout) {
    setTimeout(timeout);
    Bytes bytes(count);
    size_t got = 0;
    for (ssize_t n; got < count && (n = ::recv(fd_, bytes.data() + got, count - got, 0)) > 0;) {
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

std::optional<Bytes> WireClient::readMessageBytes(Timeout timeout) {
    Bytes message = readBytes(24, timeout);
    if (message.size() < 24) {
        return std::nullopt;
    }
    const uint64_t length = le32(&message[0]) | uint64_t(le32(&message[4])) << 32;
    if (length > 24 && length <= 0x400000) {
        const Bytes body = readBytes(length - 24, timeout);
        if (body.size() != length - 24) {
            return std::nullopt;
        }
        message.insert(message.end(), body.begin(), body.end());
    }
    return message;
}

std::optional<WireMessage> WireClient::read(Timeout timeout) {
    const auto bytes = readMessageBytes(timeout);
    if (!bytes) {
        return std::nullopt;
    }
    const uint8_t* head = bytes->data();
    WireMessage m{le32(head) | uint64_t(le32(head + 4)) << 32,
                  le32(head + 8),
                  le32(head + 12),
                  le32(head + 16),
                  le32(head + 20),
                  Bytes(bytes->begin() + 24, bytes->end())};
    const bool whole = m.length >= 24 && m.length <= 0x400000 && m.length == bytes->size();
    return m.type == 1 && whole ? std::optional(m) : std::nullopt;
}

bool WireClient::closedByPeer() {
    setTimeout(kTimeout);
    uint8_t sink[4096];
    ssize_t n;
    while ((n = ::recv(fd_, sink, sizeof sink, 0)) > 0) {
    }
    return n == 0;
}

std::optional<WireMessage> WireClient::verify(std::string_view password) {
    const auto challenge = read();
    const auto request = read();
    if (!challenge || challenge->command != 1 || challenge->body.size() < 16 || !request ||
        request->command != 50) {
        return std::nullopt;
    }
    send(challengeResponse(*challenge, password));
    const auto verified = read();
    auto status = read();
    if (!verified || verified->command != 9 || verified->body.empty() || !status ||
        status->command != 18) {
        return std::nullopt;
    }
    return status;
}

WireListener::WireListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd_, 4) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
}

WireListener::~WireListener() { ::close(fd_); }

std::unique_ptr<WireClient> WireListener::accept() {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(WireClient::kTimeout.count())) != 1) {
        return nullptr;
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? nullptr : std::unique_ptr<WireClient>(new WireClient(fd, true));
}

}  // namespace vistamo::test
