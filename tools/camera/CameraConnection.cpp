#include "CameraConnection.h"

#include <asio/read.hpp>
#include <asio/write.hpp>
#include <string>

#include "CameraLog.h"
#include "session/SessionMessages.h"

namespace vistamo::camera {

namespace {

// The bodies of 9 and 50 are not inspected by clients; one byte says "present".
const Bytes kTokenBody = {0x01};

// The byte count announced by closeMidBody, and how much of it is really sent.
constexpr size_t kMidBodyAnnounced = 100;
constexpr size_t kMidBodySent = 10;

// Past this much unwritten output a client counts as gone.
constexpr size_t kMaxQueuedBytes = 64 << 20;

// Whether the camera acts on a client's code in the given form. Anything else is read and
// ignored, as a receiver treats a message in the wrong form.
bool actsOn(uint32_t command, bool hasBody) {
    switch (command) {
        case CmdChallenge:
        case CmdChallengeResponse:
        case CmdOpusAudio:
            return hasBody;
        case CmdStartMonitor:
        case CmdStopMonitor:
        case CmdRequestStream:
        case CmdTapFocus:
        case CmdFlashSwitch:
        case CmdScreenSwitch:
        case CmdSwitchCamera:
        case CmdRequestCameraInfo:
        case CmdNewPassword:
        case CmdIntercomStart:
        case CmdIntercomStop:
        case CmdDisconnect:
            return !hasBody;
        default:
            return false;
    }
}

std::string describePeer(const asio::ip::tcp::socket& socket) {
    std::error_code error;
    const auto peer = socket.remote_endpoint(error);
    if (error) {
        return "unknown";
    }
    auto address = peer.address();
    // A dual-stack socket reports IPv4 clients as mapped IPv6 addresses.
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    if (address.is_v6()) {
        return "[" + address.to_string() + "]:" + std::to_string(peer.port());
    }
    return address.to_string() + ":" + std::to_string(peer.port());
}

bool isPeerClose(const std::error_code& error) {
    return error == asio::error::eof || error == asio::error::connection_reset ||
           error == asio::error::broken_pipe;
}

}  // namespace

CameraConnection::CameraConnection(asio::ip::tcp::socket socket, int number,
                                   CameraIdentity identity, std::weak_ptr<Delegate> delegate)
    : number_(number),
      identity_(std::move(identity)),
      delegate_(std::move(delegate)),
      socket_(std::move(socket)) {}

void CameraConnection::start() {
    printConnectionLine(number_, "connected from " + describePeer(socket_));
    challenge();
    readHeader();
}

void CameraConnection::challenge() {
    if (phase_ != Phase::Open) {
        return;
    }
    challenge_ = std::make_unique<SessionChallenge>();
    sendMessage(buildChallengeMessage(challenge_->getPlaintext(), identity_.uuid, identity_.name));
    sendMessage(makeMessage(CmdChallengeRequest, 0, 0, kTokenBody));
}

void CameraConnection::sendMessage(Bytes message) {
    if (phase_ != Phase::Open) {
        return;
    }
    if (const auto header = decodeHeader(message)) {
        printConnectionLine(number_, messageLine("send", *header, message));
    }
    queue(std::move(message));
}

void CameraConnection::sendRaw(Bytes bytes) {
    if (phase_ != Phase::Open) {
        return;
    }
    printConnectionLine(number_, "send raw bytes=" + hexBytes(bytes));
    queue(std::move(bytes));
}

void CameraConnection::closeMidBody() {
    if (phase_ != Phase::Open) {
        return;
    }
    CommandHeader header;
    header.length = kHeaderSize + kMidBodyAnnounced;
    header.command = CmdVideoFrame;
    const auto head = encodeHeader(header);
    Bytes bytes(head.begin(), head.end());
    bytes.resize(kHeaderSize + kMidBodySent, 0xA5);
    printConnectionLine(number_, messageLine("send", header, bytes));
    queue(std::move(bytes));
    close();
}

void CameraConnection::close(CloseMode mode) {
    if (phase_ == Phase::Closed || (phase_ == Phase::Closing && mode != CloseMode::Now)) {
        return;
    }
    phase_ = Phase::Closing;
    if (!writing_ || mode == CloseMode::Now) {
        finishClose(Closer::Camera);
    }
}

void CameraConnection::queue(Bytes bytes) {
    if (queuedBytes_ + bytes.size() > kMaxQueuedBytes) {
        // A client that stops reading must not make the camera grow without end.
        printConnectionLine(number_, "connection error client does not read");
        finishClose(Closer::Peer);
        return;
    }
    queuedBytes_ += bytes.size();
    writeQueue_.push_back(std::move(bytes));
    if (!writing_) {
        writeNext();
    }
}

void CameraConnection::writeNext() {
    if (writeQueue_.empty()) {
        if (phase_ == Phase::Closing) {
            finishClose(Closer::Camera);
        }
        return;
    }
    writing_ = true;
    // The deque keeps its elements in place while others are added behind them.
    asio::async_write(socket_, asio::buffer(writeQueue_.front()),
                      [self = shared_from_this()](const std::error_code& error, size_t) {
                          self->writing_ = false;
                          if (self->phase_ == Phase::Closed) {
                              return;
                          }
                          if (error) {
                              self->failed(error);
                              return;
                          }
                          self->queuedBytes_ -= self->writeQueue_.front().size();
                          self->writeQueue_.pop_front();
                          self->writeNext();
                      });
}

void CameraConnection::readHeader() {
    readBuffer_.assign(kHeaderSize, 0);
    asio::async_read(socket_, asio::buffer(readBuffer_),
                     [self = shared_from_this()](const std::error_code& error, size_t) {
                         self->headerRead(error);
                     });
}

void CameraConnection::headerRead(const std::error_code& error) {
    if (phase_ == Phase::Closed) {
        return;
    }
    if (error) {
        failed(error);
        return;
    }
    const CommandHeader header = *decodeHeader(readBuffer_);
    const char* garbage = nullptr;
    if (header.type != kMessageType) {
        garbage = "bad-type";
    } else if (header.length < kHeaderSize) {
        garbage = "short-length";
    } else if (header.length > kMaxMessageLength) {
        garbage = "long-length";
    }
    if (garbage) {
        printConnectionLine(number_,
                            messageLine("skip", header, readBuffer_) + " reason=" + garbage);
        readHeader();
        return;
    }
    if (header.length == kHeaderSize) {
        handleMessage(header);
        return;
    }
    // At most 0x400000 bytes, checked above.
    readBuffer_.resize(static_cast<size_t>(header.length));
    asio::async_read(
        socket_, asio::buffer(readBuffer_.data() + kHeaderSize, readBuffer_.size() - kHeaderSize),
        [self = shared_from_this()](const std::error_code& error, size_t) {
            self->bodyRead(error);
        });
}

void CameraConnection::bodyRead(const std::error_code& error) {
    if (phase_ == Phase::Closed) {
        return;
    }
    if (error) {
        failed(error);
        return;
    }
    handleMessage(*decodeHeader(readBuffer_));
}

void CameraConnection::handleMessage(const CommandHeader& header) {
    printConnectionLine(number_, messageLine("recv", header, readBuffer_));
    if (phase_ != Phase::Open) {
        // Closing: what the client still sends is shown but not acted on.
        readHeader();
        return;
    }
    const bool hasBody = header.length > kHeaderSize;
    if (!actsOn(header.command, hasBody)) {
        printConnectionLine(number_, "ignored " + commandName(header.command));
        readHeader();
        return;
    }
    switch (header.command) {
        case CmdChallengeResponse:
            checkResponse();
            break;
        case CmdNewPassword:
            challenge();
            break;
        case CmdChallenge:
            readClientChallenge();
            break;
        case CmdDisconnect:
            printConnectionLine(number_, "disconnect requested");
            close();
            break;
        case CmdStartMonitor:
        case CmdStopMonitor:
        case CmdRequestStream:
        case CmdFlashSwitch:
        case CmdScreenSwitch:
        case CmdSwitchCamera:
            if (const auto delegate = delegate_.lock()) {
                delegate->cameraCommand(*this, header);
            }
            break;
        case CmdOpusAudio:
            if (const auto delegate = delegate_.lock()) {
                delegate->intercomAudio(*this, ByteView(readBuffer_).subspan(kHeaderSize));
            }
            break;
        default:
            // Tap focus, camera info, intercom on and off: nothing to do for a test camera.
            break;
    }
    if (phase_ != Phase::Closed) {
        readHeader();
    }
}

void CameraConnection::checkResponse() {
    challenge_->setBuffer(readBuffer_);
    if (!challenge_->verifyData(identity_.password)) {
        printConnectionLine(number_, "password rejected");
        verified_ = false;
        sendMessage(makeMessage(CmdPasswordError));
        return;
    }
    printConnectionLine(number_, "verified");
    verified_ = true;
    sendMessage(makeMessage(CmdVerified, 0, 0, kTokenBody));
    if (const auto delegate = delegate_.lock()) {
        delegate->clientVerified(*this);
    }
}

void CameraConnection::readClientChallenge() {
    const auto parsed = parseChallengeMessage(readBuffer_);
    if (!parsed) {
        printConnectionLine(number_, "client identity unreadable");
        return;
    }
    printConnectionLine(number_, std::string("client challenge check=") +
                                     (challengeBlockChecks(parsed->block) ? "ok" : "bad"));
    if (!parsed->identityReadable) {
        printConnectionLine(number_, "client identity unreadable");
        return;
    }
    // identityReadable promises that the identity lies within the message.
    const ByteView message(readBuffer_);
    const size_t n = message[kIdentityLengthOffset];
    printConnectionLine(number_, "client identity " +
                                     escapeText(message.subspan(kIdentityOffset, n)) + " name " +
                                     escapeText(message.subspan(kIdentityOffset + n)));
}

void CameraConnection::failed(const std::error_code& error) {
    if (phase_ == Phase::Closed) {
        return;
    }
    if (isPeerClose(error)) {
        printConnectionLine(number_, "closed by peer");
    } else {
        printConnectionLine(number_, "connection error " + error.message());
    }
    // A write may still be outstanding on the queue's front; the queue goes with the object.
    finishClose(Closer::Peer);
}

void CameraConnection::finishClose(Closer closer) {
    if (phase_ == Phase::Closed) {
        return;
    }
    // The delegate drops its reference; this call finishes on ours.
    const auto keepAlive = shared_from_this();
    phase_ = Phase::Closed;
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (closer == Closer::Camera) {
        printConnectionLine(number_, "closed");
    }
    if (const auto delegate = delegate_.lock()) {
        delegate->connectionClosed(*this);
    }
}

}  // namespace vistamo::camera
