#include "ControlInput.h"

#include <algorithm>
#include <cctype>

#include "platform/Ascii.h"

namespace vistamo::camera {

namespace {

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Hex digits in pairs; blanks may stand between the pairs.
std::variant<Bytes, ControlError> parseHex(std::string_view text) {
    Bytes bytes;
    int high = -1;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (high >= 0) {
                return ControlError{"send: a blank splits a byte"};
            }
            continue;
        }
        const int value = hexDigitValue(c);
        if (value < 0) {
            return ControlError{"send: not a hex digit: '" + std::string(1, c) + "'"};
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) {
        return ControlError{"send: odd number of hex digits"};
    }
    if (bytes.empty()) {
        return ControlError{"send: no bytes given"};
    }
    return bytes;
}

}  // namespace

ParsedControl parseControlCommand(std::string_view line) {
    line = trim(line);
    if (line.empty()) {
        return std::monostate{};
    }
    const size_t blank = std::min(line.find_first_of(" \t"), line.size());
    const std::string_view word = line.substr(0, blank);
    const std::string_view rest = trim(line.substr(blank));
    using Kind = ControlCommand::Kind;
    if (word == "send") {
        auto bytes = parseHex(rest);
        if (auto* error = std::get_if<ControlError>(&bytes)) {
            return *error;
        }
        return ControlCommand{Kind::Send, std::move(std::get<Bytes>(bytes))};
    }
    static constexpr std::pair<std::string_view, Kind> kWords[] = {
        {"alarm", Kind::Alarm},         {"status", Kind::Status},
        {"close", Kind::Close},         {"close-mid-body", Kind::CloseMidBody},
        {"challenge", Kind::Challenge}, {"restart-stream", Kind::RestartStream},
        {"quit", Kind::Quit},
    };
    for (const auto& [name, kind] : kWords) {
        if (word == name) {
            if (!rest.empty()) {
                return ControlError{std::string(word) + " takes no arguments"};
            }
            return ControlCommand{kind, {}};
        }
    }
    return ControlError{"unknown command '" + std::string(word) + "'"};
}

ControlInput::ControlInput(asio::io_context& context, int descriptor,
                           std::function<void(const ParsedControl&, std::string_view)> onLine,
                           std::function<void()> onEnd)
    : onLine_(std::move(onLine)), onEnd_(std::move(onEnd)), input_(context, descriptor) {}

void ControlInput::start() { readMore(); }

void ControlInput::stop() {
    stopped_ = true;
    std::error_code ignored;
    input_.close(ignored);
}

void ControlInput::readMore() {
    input_.async_read_some(asio::buffer(chunk_),
                           [self = shared_from_this()](const std::error_code& error, size_t count) {
                               self->readDone(error, count);
                           });
}

void ControlInput::readDone(const std::error_code& error, size_t count) {
    if (stopped_) {
        return;
    }
    if (!error) {
        received(count);
        if (!stopped_) {
            readMore();
        }
        return;
    }
    // A last line without its newline still counts.
    if (!pending_.empty() && !discarding_) {
        deliverPending();
    }
    if (!stopped_) {
        stop();
        onEnd_();
    }
}

void ControlInput::received(size_t count) {
    std::string_view data(chunk_.data(), count);
    while (!data.empty() && !stopped_) {
        const size_t newline = data.find('\n');
        if (!discarding_) {
            pending_.append(data.substr(0, newline));
        }
        if (newline == std::string_view::npos) {
            if (pending_.size() > kMaxLineBytes) {
                pending_.clear();
                discarding_ = true;
                onLine_(ControlError{"line too long"}, {});
            }
            return;
        }
        data.remove_prefix(newline + 1);
        if (discarding_) {
            discarding_ = false;
        } else {
            deliverPending();
        }
    }
}

void ControlInput::deliverPending() {
    const std::string line = std::move(pending_);
    pending_.clear();
    onLine_(parseControlCommand(line), trim(line));
}

}  // namespace vistamo::camera
