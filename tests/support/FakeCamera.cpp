#include "support/FakeCamera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "session/CommandHeader.h"

namespace vistamo::test {

namespace {
constexpr int kWaitMilliseconds = 10000;

bool waitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, kWaitMilliseconds) == 1;
}
}  // namespace

FakeCamera::FakeCamera() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

FakeCamera::~FakeCamera() {
    close();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

bool FakeCamera::accept() {
    if (!waitReadable(listener_)) {
        return false;
    }
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return connection_ >= 0;
}

void FakeCamera::send(ByteView bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

std::optional<Bytes> FakeCamera::read(size_t count) {
    Bytes bytes(count);
    size_t done = 0;
    while (done < count) {
        if (!waitReadable(connection_)) {
            return std::nullopt;
        }
        const ssize_t n = ::recv(connection_, bytes.data() + done, count - done, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        done += static_cast<size_t>(n);
    }
    return bytes;
}

std::optional<Bytes> FakeCamera::readMessage() {
    auto head = read(kHeaderSize);
    if (!head) {
        return std::nullopt;
    }
    const uint64_t length = decodeHeader(*head)->length;
    if (length <= kHeaderSize || length > kMaxMessageLength) {
        return head;
    }
    auto body = read(length - kHeaderSize);
    if (!body) {
        return std::nullopt;
    }
    head->insert(head->end(), body->begin(), body->end());
    return head;
}

bool FakeCamera::waitForClose() {
    uint8_t byte;
    while (waitReadable(connection_)) {
        const ssize_t n = ::recv(connection_, &byte, 1, 0);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            return true;
        }
    }
    return false;
}

void FakeCamera::close() {
    if (connection_ >= 0) {
        ::close(connection_);
        connection_ = -1;
    }
}

}  // namespace vistamo::test
