#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Bytes.h"

namespace vistamo::camera {

// One line of control input, parsed.
struct ControlCommand {
    enum class Kind { Alarm, Status, Send, Close, CloseMidBody, Challenge, RestartStream, Quit };
    Kind kind = Kind::Status;
    Bytes bytes;  // for Send
};

// A blank line parses to std::monostate and is passed over; a line that is no command gives an
// error text for people.
struct ControlError {
    std::string message;
};
using ParsedControl = std::variant<std::monostate, ControlCommand, ControlError>;
ParsedControl parseControlCommand(std::string_view line);

// Reads control commands from a descriptor (standard input), one per line, on the camera's
// io_context and hands each line's parse to `onLine`. `onEnd` runs once when the input closes
// or fails. A line longer than kMaxLineBytes is dropped, with an error.
//
// Lifecycle: create with std::make_shared, start, stop. After stop no handler is left on the
// context and neither callback runs again. Threads: the io_context's thread only; both
// callbacks run there.
class ControlInput : public std::enable_shared_from_this<ControlInput> {
public:
    static constexpr size_t kMaxLineBytes = 1 << 20;

    ControlInput(asio::io_context& context, int descriptor,
                 std::function<void(const ParsedControl&, std::string_view line)> onLine,
                 std::function<void()> onEnd);

    void start();
    void stop();

private:
    void readMore();
    void readDone(const std::error_code& error, size_t count);
    // Splits the chunk's `count` bytes into lines.
    void received(size_t count);
    void deliverPending();

    // Set once at construction.
    const std::function<void(const ParsedControl&, std::string_view)> onLine_;
    const std::function<void()> onEnd_;

    // The io_context's thread only.
    asio::posix::stream_descriptor input_;
    std::array<char, 4096> chunk_{};
    std::string pending_;
    bool discarding_ = false;  // within an overlong line, until its end
    bool stopped_ = false;
};

}  // namespace vistamo::camera
