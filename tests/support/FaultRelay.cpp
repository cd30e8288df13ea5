#include "support/FaultRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace vistamo::test {

namespace {

constexpr size_t kReadSize = 64 * 1024;
constexpr size_t kHeaderSize = 24;
// Lengths past this are not the camera's framing (its receivers refuse them too).
constexpr uint64_t kLargestMessage = 0x400000;
// The loop looks again at least this often, so timers need no exact bookkeeping.
constexpr int kLongestPollMs = 10;

int index(FaultRelay::Direction direction) {
    return direction == FaultRelay::Direction::toCamera ? 0 : 1;
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

void closeWithReset(int fd) {
    if (fd < 0) {
        return;
    }
    linger immediately{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    ::close(fd);
}

void closeOrderly(int fd) {
    if (fd < 0) {
        return;
    }
    ::shutdown(fd, SHUT_WR);
    // What the peer sent and nobody read would turn the close into a reset.
    uint8_t sink[4096];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    ::close(fd);
}

}  // namespace

size_t FaultRelay::Framing::consumeToBoundary(const uint8_t* bytes, size_t size) {
    size_t at = 0;
    while (at < size && !lost) {
        if (bodyLeft > 0) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(bodyLeft, size - at));
            bodyLeft -= take;
            at += take;
        } else {
            if (headerBytes < 8) {
                header[headerBytes] = bytes[at];
            }
            ++headerBytes;
            ++at;
            if (headerBytes == kHeaderSize) {
                uint64_t length = 0;
                for (int i = 7; i >= 0; --i) {
                    length = length << 8 | header[i];
                }
                headerBytes = 0;
                if (length < kHeaderSize || length > kLargestMessage) {
                    lost = true;
                    break;
                }
                bodyLeft = length - kHeaderSize;
            }
        }
        if (atBoundary()) {
            return at;
        }
    }
    return size;
}

FaultRelay::FaultRelay(uint16_t cameraPort, size_t maxQueuedBytes)
    : cameraPort_(cameraPort), maxQueuedBytes_(maxQueuedBytes) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    if (listener_ < 0 || wakeFd_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(listener_);
        ::close(wakeFd_);
        throw std::runtime_error("the fault relay cannot listen on the loopback address");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

FaultRelay::~FaultRelay() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    for (auto& connection : connections_) {
        end(*connection, Cut::reset);
    }
    ::close(listener_);
    ::close(wakeFd_);
}

void FaultRelay::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void FaultRelay::setThrottle(Direction direction, uint64_t bitsPerSecond) {
    {
        std::lock_guard guard(lock_);
        bitsPerSecond_[index(direction)] = bitsPerSecond;
        for (auto& connection : connections_) {
            Pipe& pipe = connection->pipes[index(direction)];
            pipe.tokens = 0;
            pipe.refilled = Clock::now();
        }
    }
    wake();
}

void FaultRelay::stall() {
    std::lock_guard guard(lock_);
    stalledUntil_ = Clock::time_point::max();
}

void FaultRelay::stall(Duration duration) {
    std::lock_guard guard(lock_);
    stalledUntil_ = Clock::now() + duration;
}

void FaultRelay::resume() {
    {
        std::lock_guard guard(lock_);
        stalledUntil_ = Clock::time_point::min();
    }
    wake();
}

void FaultRelay::inject(Direction direction, Bytes bytes) {
    {
        std::lock_guard guard(lock_);
        injections_[index(direction)].push_back(std::move(bytes));
    }
    wake();
}

void FaultRelay::cut(Cut how) {
    {
        std::lock_guard guard(lock_);
        for (auto& connection : connections_) {
            end(*connection, how);
        }
    }
    wake();
}

uint64_t FaultRelay::bytesRelayed(Direction direction) const {
    std::lock_guard guard(lock_);
    return relayed_[index(direction)];
}

size_t FaultRelay::connectionsAccepted() const {
    std::lock_guard guard(lock_);
    return accepted_;
}

size_t FaultRelay::openConnections() const {
    std::lock_guard guard(lock_);
    return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                             [](const auto& each) { return !each->dead; }));
}

size_t FaultRelay::pendingInjections() const {
    std::lock_guard guard(lock_);
    return injections_[0].size() + injections_[1].size();
}

void FaultRelay::end(Connection& connection, Cut how) {
    if (connection.dead) {
        return;
    }
    if (how == Cut::reset) {
        closeWithReset(connection.viewer);
        closeWithReset(connection.camera);
    } else {
        closeOrderly(connection.viewer);
        closeOrderly(connection.camera);
    }
    connection.viewer = connection.camera = -1;
    connection.dead = true;
    for (Pipe& pipe : connection.pipes) {
        pipe.queue.clear();
        pipe.queuedBytes = 0;
    }
}

void FaultRelay::acceptOne(Clock::time_point now) {
    const int viewer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (viewer < 0) {
        return;
    }
    ++accepted_;
    // Loopback connects complete at once; a camera that is gone ends the viewer's connection.
    const int camera = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(cameraPort_), {htonl(INADDR_LOOPBACK)}, {}};
    if (camera < 0 || ::connect(camera, reinterpret_cast<sockaddr*>(&address), sizeof address)) {
        ::close(camera);
        closeWithReset(viewer);
        return;
    }
    setNonBlocking(camera);
    const int on = 1;
    ::setsockopt(viewer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(camera, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_unique<Connection>();
    connection->viewer = viewer;
    connection->camera = camera;
    connection->pipes[0].from = viewer;
    connection->pipes[0].to = camera;
    connection->pipes[1].from = camera;
    connection->pipes[1].to = viewer;
    for (Pipe& pipe : connection->pipes) {
        pipe.refilled = now;
    }
    connections_.push_back(std::move(connection));
}

void FaultRelay::enqueue(Pipe& pipe, const uint8_t* bytes, size_t size) {
    if (size == 0) {
        return;
    }
    pipe.queue.push_back({Bytes(bytes, bytes + size), 0});
    pipe.queuedBytes += size;
}

void FaultRelay::placeInjections(Connection& connection, int index) {
    Pipe& pipe = connection.pipes[index];
    auto& waiting = injections_[index];
    while (!waiting.empty() && pipe.framing.atBoundary()) {
        enqueue(pipe, waiting.front().data(), waiting.front().size());
        waiting.erase(waiting.begin());
    }
}

void FaultRelay::readInto(Connection& connection, int index) {
    Pipe& pipe = connection.pipes[index];
    uint8_t buffer[kReadSize];
    const ssize_t got = ::recv(pipe.from, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0) {
        pipe.sourceEnded = true;
        return;
    }
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // The sender's end was reset: so is the other end.
            end(connection, Cut::reset);
        }
        return;
    }
    size_t done = 0;
    const auto size = static_cast<size_t>(got);
    while (done < size) {
        placeInjections(connection, index);
        const size_t step = pipe.framing.consumeToBoundary(buffer + done, size - done);
        enqueue(pipe, buffer + done, step);
        done += step;
    }
    placeInjections(connection, index);
}

void FaultRelay::writeFrom(Connection& connection, int index, Clock::time_point now) {
    Pipe& pipe = connection.pipes[index];
    const uint64_t rate = bitsPerSecond_[index];
    if (rate > 0) {
        const double bytesPerSecond = static_cast<double>(rate) / 8;
        // A bucket of 20 ms (at least one full segment) keeps the rate smooth.
        const double capacity = std::max(1460.0, bytesPerSecond * 0.02);
        pipe.tokens = std::min(
            capacity, pipe.tokens + bytesPerSecond *
                                        std::chrono::duration<double>(now - pipe.refilled).count());
    }
    pipe.refilled = now;
    while (!pipe.queue.empty() && now >= stalledUntil_) {
        Chunk& head = pipe.queue.front();
        size_t size = head.bytes.size() - head.sent;
        if (rate > 0) {
            size = std::min(size, static_cast<size_t>(pipe.tokens));
            if (size == 0) {
                break;
            }
        }
        const ssize_t sent =
            ::send(pipe.to, head.bytes.data() + head.sent, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                end(connection, Cut::reset);
            }
            return;
        }
        head.sent += static_cast<size_t>(sent);
        pipe.queuedBytes -= static_cast<size_t>(sent);
        relayed_[index] += static_cast<uint64_t>(sent);
        if (rate > 0) {
            pipe.tokens -= static_cast<double>(sent);
        }
        if (head.sent == head.bytes.size()) {
            pipe.queue.pop_front();
        } else if (static_cast<size_t>(sent) < size) {
            return;  // the receiver's buffer is full
        }
    }
    if (pipe.queue.empty() && pipe.sourceEnded && !pipe.shutDown) {
        ::shutdown(pipe.to, SHUT_WR);
        pipe.shutDown = true;
    }
}

void FaultRelay::run() {
    std::vector<pollfd> fds;
    // For each polled socket after the wake fd and the listener: its connection and pipe.
    std::vector<std::pair<Connection*, int>> owners;
    std::unique_lock guard(lock_);
    while (!stopping_) {
        const auto now = Clock::now();
        for (auto& connection : connections_) {
            for (int i = 0; i < 2 && !connection->dead; ++i) {
                placeInjections(*connection, i);
                writeFrom(*connection, i, now);
            }
            if (!connection->dead && connection->pipes[0].shutDown &&
                connection->pipes[1].shutDown) {
                end(*connection, Cut::close);
            }
        }
        std::erase_if(connections_, [](const auto& each) { return each->dead; });
        fds.assign({{wakeFd_, POLLIN, 0}, {listener_, POLLIN, 0}});
        owners.clear();
        for (auto& connection : connections_) {
            for (int i = 0; i < 2; ++i) {
                const Pipe& pipe = connection->pipes[i];
                if (!pipe.sourceEnded && pipe.queuedBytes < maxQueuedBytes_) {
                    fds.push_back({pipe.from, POLLIN, 0});
                    owners.emplace_back(connection.get(), i);
                }
            }
        }
        guard.unlock();
        // Waiting bytes, stalls and throttles are served by the loop's short period.
        ::poll(fds.data(), fds.size(), kLongestPollMs);
        guard.lock();
        if (stopping_) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
        }
        if (fds[1].revents & POLLIN) {
            acceptOne(Clock::now());
        }
        // A connection cut meanwhile is marked dead and still held: it is removed only above.
        for (size_t i = 0; i < owners.size(); ++i) {
            auto [connection, pipe] = owners[i];
            if (!connection->dead && fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) {
                readInto(*connection, pipe);
            }
        }
    }
}

}  // namespace vistamo::test
