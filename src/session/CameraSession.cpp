#include "session/CameraSession.h"

#include <sys/socket.h>

#include <algorithm>

#include "discovery/CameraRecord.h"
#include "discovery/LocalInterfaces.h"
#include "dispatch/MainQueue.h"
#include "media/NalUnit.h"
#include "platform/DeviceIdentity.h"
#include "platform/Log.h"
#include "platform/Utf8.h"
#include "session/CommandHeader.h"
#include "session/SessionChallenge.h"
#include "session/SessionMessages.h"
#include "settings/PasswordStore.h"
#include "settings/WindowPlaces.h"

namespace vistamo {

namespace {

// Whether any usable interface of this computer has an address.
bool computerHasLocalAddress() {
    std::vector<std::string> ipv6, ipv4;
    LocalInterfaces::appendUsableAddresses(6, ipv6);
    LocalInterfaces::appendUsableAddresses(4, ipv4);
    return !ipv6.empty() || !ipv4.empty();
}

std::shared_ptr<SessionChallenge> unverifiedClientOf(const std::shared_ptr<TcpStream>& sock) {
    return std::static_pointer_cast<SessionChallenge>(sock->userData());
}

}  // namespace

std::shared_ptr<CameraSession> CameraSession::init(SessionParts parts) {
    auto session = std::shared_ptr<CameraSession>(new CameraSession(std::move(parts)));
    session->setUp();
    return session;
}

CameraSession::CameraSession(SessionParts parts)
    : parts_(std::move(parts)),
      clientQueue_(dispatch::SerialQueue::create("Client Queue", "session")) {}

CameraSession::~CameraSession() = default;

void CameraSession::setUp() {
    const bool hasAddress =
        parts_.hasLocalAddress ? parts_.hasLocalAddress() : computerHasLocalAddress();
    if (hasAddress) {
        socket_ = TcpStream::create(weak_from_this(), clientQueue_);
        socket_->setIPv4PreferredOverIPv6(false);
        // The password alert keeps `clientQueue` waiting for the user: nothing is read past it
        // until handlePasswordError has the answer.
        socket_->setReadingHold([](const CommandHeader& header) {
            return header.command == CmdPasswordError && header.length == kHeaderSize;
        });
    } else {
        logLine("no local network address: the camera session has no socket");
    }

    if (parts_.makeDecoder) {
        decoder_ = parts_.makeDecoder();
    }
    if (decoder_) {
        decoder_->start();
    }

    if (parts_.makeAlarmPlayer) {
        player = parts_.makeAlarmPlayer();
    }
    std::shared_ptr<SessionAudioCodec> codec;
    if (parts_.makeCodec) {
        codec = parts_.makeCodec();
    }
    if (codec) {
        codec->setDelegate(weak_from_this());
        codec->startPlay();
    }
    std::lock_guard guard(linksLock_);
    audioCodec_ = std::move(codec);
}

// ---- links -------------------------------------------------------------------------------

void CameraSession::setScanner(std::weak_ptr<SessionScanner> scanner) {
    std::lock_guard guard(linksLock_);
    scanner_ = std::move(scanner);
}

void CameraSession::setView(std::weak_ptr<SessionView> view) {
    std::lock_guard guard(linksLock_);
    view_ = std::move(view);
}

void CameraSession::addPictureSink(std::weak_ptr<PictureSink> sink) {
    if (decoder_) {
        decoder_->addPictureSink(std::move(sink));
    }
}

void CameraSession::removePictureSink(const PictureSink* sink) {
    if (decoder_) {
        decoder_->removePictureSink(sink);
    }
}

void CameraSession::addStreamSink(std::weak_ptr<StreamSink> sink) {
    clientQueue_->async([weakSelf = weak_from_this(), sink = std::move(sink)] {
        const auto self = weakSelf.lock();
        const auto reader = sink.lock();
        if (!self || !reader) {
            return;
        }
        self->streamSinks_.push_back(sink);
        if (!self->lastSps_.empty() && !self->lastPps_.empty()) {
            reader->parameterSets(self->lastSps_, self->lastPps_);
        }
    });
}

void CameraSession::removeStreamSink(const StreamSink* sink) {
    clientQueue_->async([weakSelf = weak_from_this(), sink] {
        if (const auto self = weakSelf.lock()) {
            std::erase_if(self->streamSinks_, [sink](const std::weak_ptr<StreamSink>& entry) {
                const auto reader = entry.lock();
                return !reader || reader.get() == sink;
            });
        }
    });
}

void CameraSession::addSoundSink(std::weak_ptr<SoundSink> sink) {
    if (auto codec = audioCodec()) {
        codec->addSoundSink(std::move(sink));
    }
}

void CameraSession::removeSoundSink(const SoundSink* sink) {
    if (auto codec = audioCodec()) {
        codec->removeSoundSink(sink);
    }
}

void CameraSession::setIp(std::string ip) {
    std::lock_guard guard(linksLock_);
    ip_ = std::move(ip);
}

std::string CameraSession::ip() const {
    std::lock_guard guard(linksLock_);
    return ip_;
}

std::string CameraSession::cameraName() const {
    const auto device = selectedDevice();
    std::string name = device ? device->name().value_or(ip()) : ip();
    return name.empty() ? "camera" : name;
}

std::optional<std::string> CameraSession::cameraIdentity() const {
    if (const auto device = selectedDevice()) {
        return WindowPlaces::identityFor(device->uuid(), device->address());
    }
    return WindowPlaces::identityFor(std::nullopt, ip());
}

std::shared_ptr<SessionAudioCodec> CameraSession::audioCodec() const {
    std::lock_guard guard(linksLock_);
    return audioCodec_;
}

std::shared_ptr<CameraRecord> CameraSession::selectedDevice() const {
    std::lock_guard guard(linksLock_);
    return selectedDevice_.lock();
}

std::shared_ptr<SessionScanner> CameraSession::scanner() const {
    std::lock_guard guard(linksLock_);
    return scanner_.lock();
}

std::shared_ptr<SessionView> CameraSession::attachedView() const {
    std::lock_guard guard(linksLock_);
    return view_.lock();
}

// ---- connecting --------------------------------------------------------------------------

bool CameraSession::connectToServer(const std::string& ip, bool reportFailure) {
    typedAddress_ = reportFailure;
    setIp(ip);
    if (!socket_) {
        return false;
    }
    Error error;
    // A refused start is not reported: the socket's disconnect callback reports failures.
    return socket_->connectToHost(ip, kDefaultCameraPort, kConnectTimeoutSeconds, &error);
}

bool CameraSession::connectToServer(const void* /*sender*/,
                                    const std::shared_ptr<CameraRecord>& device) {
    {
        std::lock_guard guard(linksLock_);
        selectedDevice_ = device;
    }
    if (!socket_ || !device) {
        return false;
    }
    const auto port = static_cast<uint16_t>(device->port() & 0xFFFF);
    Error error;
    return socket_->connectToHost(device->address().value_or(""), port, kConnectTimeoutSeconds,
                                  &error);
}

void CameraSession::streamConnected(const std::shared_ptr<TcpStream>& sock,
                                    const std::string& /*host*/, uint16_t /*port*/) {
    typedAddress_ = false;
    auto client = std::make_shared<SessionChallenge>();
    client->setDevice(selectedDevice());
    sock->setUserData(client);
    client_ = std::move(client);
    silenceLimitSet_ = false;
    sock->performBlock([sock] {
        const int on = 1;
        if (setsockopt(sock->socketFD(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
            logLine("could not switch on keep-alive for the camera connection");
        }
    });
}

// ---- reading -----------------------------------------------------------------------------

void CameraSession::streamMessage(const std::shared_ptr<TcpStream>& sock,
                                  const CommandHeader& header, Bytes body) {
    // The session's own reference to the user data it set: no trip to the socket's queue.
    const std::shared_ptr<SessionChallenge> client = client_;
    if (!client) {
        return;
    }
    handleMessage(sock, *client, header, body);
    // While the camera streams, silence is a lost connection; before, the camera may well
    // wait (for the password dialog, say).
    if (bRequested && !silenceLimitSet_) {
        silenceLimitSet_ = true;
        sock->setReadSilenceLimit(parts_.streamSilenceSeconds);
    }
}

void CameraSession::handleMessage(const std::shared_ptr<TcpStream>& sock, SessionChallenge& client,
                                  const CommandHeader& header, ByteView body) {
    if (header.length == kHeaderSize) {
        switch (header.command) {
            case CmdAlarm:
                handleAlarm();
                break;
            case CmdPasswordError:
                handlePasswordError();
                break;
            case CmdCameraStatus:
                handleCameraStatus(header);
                break;
            case CmdChallengeResponse:
                // The sinks hear of the new stream on the decoder's thread, before its first
                // picture.
                if (decoder_) {
                    decoder_->streamRestarted();
                }
                lastSps_.clear();
                lastPps_.clear();
                for (const auto& reader : streamReaders()) {
                    reader->streamRestarted();
                }
                break;
            default:
                break;
        }
        return;
    }

    record(header, body);
    switch (header.command) {
        case CmdChallenge: {
            // Answered from the whole message in the user data's buffer.
            const auto headerBytes = encodeHeader(header);
            Bytes& buffer = client.buffer();
            buffer.assign(headerBytes.begin(), headerBytes.end());
            buffer.insert(buffer.end(), body.begin(), body.end());
            answerChallenge(client);
            break;
        }
        case CmdVerified:
            handleVerified();
            break;
        case CmdChallengeRequest:
            sendChallenge(sock);
            break;
        case CmdStreamParameters:
            if (const auto sets = splitStreamParameters(header, body)) {
                if (decoder_) {
                    decoder_->createFormatDesc(sets->sps, sets->pps);
                }
                bRequested = true;
            } else {
                logLine("stream parameters whose SPS size runs past the message: dropped");
            }
            break;
        case CmdVideoFrame:
            if (parts_.videoUnitObserver && sock) {
                parts_.videoUnitObserver(sock->readCompletedAt());
            }
            if (decoder_) {
                if (header.details == 1) {
                    decoder_->decodeTwoSlicePicture(body);
                } else {
                    decoder_->decodeFrame(body);
                }
            }
            break;
        case CmdOpusAudio:
            if (auto codec = audioCodec()) {
                codec->decodeOpusData(body);
            }
            break;
        default:
            break;
    }
}

void CameraSession::handleAlarm() {
    if (auto owner = scanner()) {
        owner->alarmFrom(*this);
    }
}

void CameraSession::handlePasswordError() {
    std::optional<std::string> typed;
    if (parts_.dialogs) {
        dispatch::mainQueue().sync([&] { typed = parts_.dialogs->askPassword(); });
    }
    if (!typed) {
        passwordRefused_ = true;
        disconnect();
        return;
    }
    if (auto device = selectedDevice()) {
        device->setPassword(*typed);
    } else {
        // A camera reached by a typed address has no record to keep the password in; the
        // session keeps it for its next answer, or the camera could never be opened.
        setTypedPassword(*typed);
    }
    sendCommandTCP(CmdNewPassword, 0);
    bNewPassword = true;
    // The socket stopped reading after the password error (see setUp).
    if (socket_) {
        socket_->resumeReading();
    }
}

void CameraSession::handleVerified() {
    verified_ = true;
    if (bNewPassword) {
        bNewPassword = false;
        const auto device = selectedDevice();
        const auto owner = scanner();
        // A camera reached by a typed address has no record and so no identity to store.
        if (device && owner && device->uuid() && device->password()) {
            dispatch::mainQueue().sync([&] {
                if (PasswordStore* store = owner->config()) {
                    store->appendUUID(*device->uuid(), *device->password());
                }
            });
        }
    }
    requestCameraInfo();
}

void CameraSession::handleCameraStatus(const CommandHeader& header) {
    const CameraStatus status = cameraStatusFrom(header);
    bScreen_ = status.screen();
    bFlashing_ = status.flashing();
    bGuarding_ = status.guarding();
    if (auto view = attachedView()) {
        dispatch::mainQueue().async([view, flashing = status.flashing(), screen = status.screen(),
                                     guarding = status.guarding()] {
            view->setFlash(flashing);
            view->setScreen(!screen);
            view->setAlarm(guarding);
        });
    }
    if (!bRequested) {
        sendCommandTCP(CmdRequestStream, 0);
    }
}

// ---- challenge ---------------------------------------------------------------------------

void CameraSession::verifyServer(const std::shared_ptr<TcpStream>& sock) {
    if (auto client = unverifiedClientOf(sock)) {
        answerChallenge(*client);
    }
}

void CameraSession::answerChallenge(SessionChallenge& client) {
    const Bytes message = client.buffer();
    const std::optional<ChallengeMessage> challenge = parseChallengeMessage(message);
    if (!challenge) {
        // Too short to hold a challenge block: nothing to answer.
        logLine("camera challenge without its block: dropped");
        client.buffer().clear();
        return;
    }

    const auto device = selectedDevice();
    const std::string password = device ? device->password().value_or("") : typedPassword();
    const size_t p = utf16Length(password);

    Bytes response = makeMessage(CmdChallengeResponse, 0, 0, Bytes(16 + p, 0));
    uint8_t* block = response.data() + kChallengeBlockOffset;
    std::copy(challenge->block.begin(), challenge->block.end(), block);

    if (!challengeBlockChecks(challenge->block)) {
        // Answer with random words, keeping the camera's check word, and leave in 5 seconds.
        clientQueue_->after(kBadChallengeCloseSeconds, [weakSock = std::weak_ptr(socket_)] {
            if (auto s = weakSock.lock()) {
                s->disconnect();
            }
        });
        ChallengeBlock scrambled = challenge->block;
        for (int i = 0; i < 3; ++i) {
            setChallengeWord(scrambled, i, SessionChallenge::randomWord());
        }
        std::copy(scrambled.begin(), scrambled.end(), block);
    } else {
        SessionChallenge::encryptData(block);
        if (challenge->identityReadable && device) {
            device->setUuid(challenge->identity);
            device->setName(challenge->name);
        }
    }

    // The first p bytes of the password's UTF-8 form, p counted in UTF-16 code units; the rest
    // of the field stays zero when the UTF-8 form is shorter.
    std::copy_n(password.begin(), std::min(p, password.size()),
                response.begin() + kResponsePasswordOffset);
    send(std::move(response), kTagCommand);
    client.buffer().clear();
}

void CameraSession::sendChallenge(const std::shared_ptr<TcpStream>& sock) {
    const auto owner = scanner();
    const std::string name = owner ? owner->serviceName().value_or("") : "";
    const std::string identity = machineIdentity();

    auto client = std::make_shared<SessionChallenge>();
    if (sock) {
        sock->setUserData(client);
        client_ = client;
    }
    send(buildChallengeMessage(client->getPlaintext(), identity, name), kTagCommand);
}

std::string CameraSession::typedPassword() const {
    std::lock_guard guard(linksLock_);
    return typedPassword_;
}

void CameraSession::setTypedPassword(std::string password) {
    std::lock_guard guard(linksLock_);
    typedPassword_ = std::move(password);
}

std::string CameraSession::machineIdentity() const {
    return parts_.deviceIdentity ? parts_.deviceIdentity() : vistamo::machineIdentity();
}

// ---- commands ----------------------------------------------------------------------------

void CameraSession::send(Bytes message, long tag) {
    if (socket_) {
        socket_->writeData(std::move(message), -1, tag);
    }
}

void CameraSession::sendCommandTCP(uint32_t command, uint32_t details) {
    send(makeMessage(command, details), kTagSendCommand);
}

void CameraSession::requestCameraInfo() { send(makeMessage(CmdRequestCameraInfo), kTagCommand); }

void CameraSession::flashSwitch() { send(makeMessage(CmdFlashSwitch), kTagCommand); }

void CameraSession::screenSwitch() { send(makeMessage(CmdScreenSwitch), kTagCommand); }

void CameraSession::switchCamera() { send(makeMessage(CmdSwitchCamera), kTagCommand); }

void CameraSession::startMonitor(bool start) {
    if (auto owner = scanner()) {
        owner->guardSwitched(*this);
    }
    send(makeMessage(start ? CmdStartMonitor : CmdStopMonitor, 1), kTagCommand);
}

void CameraSession::switchGuardOff() { send(makeMessage(CmdStopMonitor, 1), kTagCommand); }

void CameraSession::sendTapFocus(double x, double y) {
    send(makeMessage(CmdTapFocus, floatBits(static_cast<float>(x)),
                     floatBits(static_cast<float>(y))),
         kTagCommand);
}

void CameraSession::sendOpus(ByteView packet) {
    send(makeMessage(CmdOpusAudio, 0, 0, packet), kTagOpus);
}

void CameraSession::disconnect(Farewell farewell) {
    if (!socket_) {
        return;
    }
    if (farewell == Farewell::Send) {
        send(makeMessage(CmdDisconnect, kDisconnectDetails), kTagDisconnect);
    }
    socket_->disconnect();
}

void CameraSession::streamClosed(const std::shared_ptr<TcpStream>& /*sock*/,
                                 const std::optional<Error>& error) {
    if (error && error->domain == kTcpStreamErrorDomain &&
        error->code == static_cast<long>(TcpStreamError::ReadTimeoutError)) {
        logLine("nothing from the camera for " +
                std::to_string(static_cast<int>(parts_.streamSilenceSeconds)) +
                " s while streaming: the connection is lost");
    }
    // The socket reports no error when this side closed it.
    SessionEnd why = SessionEnd::Dropped;
    if (passwordRefused_) {
        why = SessionEnd::PasswordRefused;
    } else if (!error) {
        why = SessionEnd::Closed;
    } else if (!verified_) {
        why = SessionEnd::NeverVerified;
    }
    if (recorder_) {
        recorder_->stop();
    }
    if (typedAddress_.exchange(false) && parts_.dialogs) {
        dispatch::mainQueue().async([dialogs = parts_.dialogs] { dialogs->showConnectError(); });
    }
    if (auto owner = scanner()) {
        owner->cameraWentDown(selectedDevice());
    }
    dispatch::mainQueue().async([self = shared_from_this(), why] {
        if (auto view = self->attachedView()) {
            view->sessionEnded(why);
        }
        std::shared_ptr<SessionAudioCodec> released;
        {
            std::lock_guard guard(self->linksLock_);
            released = std::move(self->audioCodec_);
        }
        // Dropped here, outside the lock: releasing the codec stops its playback.
    });
}

// ---- recording ---------------------------------------------------------------------------

SessionRecorder* CameraSession::makeRecorder() {
    if (recorder_ || !parts_.makeRecorder) {
        return recorder_.get();
    }
    if (!clipSettings_) {
        clipSettings_ = loadClipSettings();
    }
    RecorderSetup setup;
    setup.cameraName = cameraName();
    // Without "Record a clip" no ring of pictures is kept.
    setup.secondsBefore = clipSettings_->recordClip ? clipSettings_->secondsBefore : 0;
    setup.secondsAfter = clipSettings_->secondsAfter;
    setup.onNotice = [weakSelf = weak_from_this()](const std::string& text) {
        if (auto self = weakSelf.lock()) {
            if (auto view = self->attachedView()) {
                view->showNotice(text);
            }
        }
    };
    setup.onFinished = [weakSelf = weak_from_this()](const std::filesystem::path& /*file*/) {
        if (auto self = weakSelf.lock()) {
            if (auto view = self->attachedView()) {
                view->recordingChanged();
            }
        }
    };
    auto recorder = parts_.makeRecorder(std::move(setup));
    std::lock_guard guard(linksLock_);
    recorder_ = std::move(recorder);
    return recorder_.get();
}

std::vector<std::shared_ptr<StreamSink>> CameraSession::streamReaders() {
    std::vector<std::shared_ptr<StreamSink>> readers;
    readers.reserve(streamSinks_.size() + 1);
    if (recorder_) {
        readers.push_back(recorder_);
    }
    bool gone = false;
    for (const auto& entry : streamSinks_) {
        if (auto reader = entry.lock()) {
            readers.push_back(std::move(reader));
        } else {
            gone = true;
        }
    }
    if (gone) {
        std::erase_if(streamSinks_, [](const auto& entry) { return entry.expired(); });
    }
    return readers;
}

void CameraSession::record(const CommandHeader& header, ByteView body) {
    switch (header.command) {
        case CmdStreamParameters:
            if (const auto sets = splitStreamParameters(header, body)) {
                makeRecorder();
                lastSps_.assign(sets->sps.begin(), sets->sps.end());
                lastPps_.assign(sets->pps.begin(), sets->pps.end());
                for (const auto& reader : streamReaders()) {
                    reader->parameterSets(sets->sps, sets->pps);
                }
            }
            break;
        case CmdVideoFrame: {
            if (!recorder_ && streamSinks_.empty()) {
                break;
            }
            std::optional<double> cameraSeconds;
            if (header.details2 != 0) {
                cameraSeconds = floatFromBits(header.details2);
            }
            if (header.details != 1) {
                for (const auto& reader : streamReaders()) {
                    reader->picture({body}, isIdrSlice(body), cameraSeconds);
                }
            } else if (heldSlice_.empty()) {
                heldSlice_.assign(body.begin(), body.end());
            } else {
                const bool keyFrame = isIdrSlice(heldSlice_);
                for (const auto& reader : streamReaders()) {
                    reader->picture({heldSlice_, body}, keyFrame, cameraSeconds);
                }
                heldSlice_.clear();
            }
            break;
        }
        case CmdOpusAudio:
            for (const auto& reader : streamReaders()) {
                reader->sound(body);
            }
            break;
        default:
            break;
    }
}

void CameraSession::toggleRecording() {
    clientQueue_->async([weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        if (SessionRecorder* recorder = self->makeRecorder(); recorder) {
            if (recorder->isRecording()) {
                recorder->stop();
            } else {
                recorder->start();
            }
        }
        if (auto view = self->attachedView()) {
            dispatch::mainQueue().async([view] { view->recordingChanged(); });
        }
    });
}

void CameraSession::stopRecording() {
    clientQueue_->async([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock(); self && self->recorder_) {
            self->recorder_->stop();
        }
    });
}

void CameraSession::setClipSettings(const ClipSettings& settings) {
    clientQueue_->async([weakSelf = weak_from_this(), settings] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        self->clipSettings_ = settings;
        if (self->recorder_) {
            self->recorder_->setClipSeconds(settings.recordClip ? settings.secondsBefore : 0,
                                            settings.secondsAfter);
        }
    });
}

std::shared_ptr<const SessionRecorder> CameraSession::recorder() const {
    std::lock_guard guard(linksLock_);
    return recorder_;
}

void CameraSession::startAlarmClip() {
    if (recorder_) {
        recorder_->alarm();
    }
}

// ---- snapshots and frames ----------------------------------------------------------------

DecoderStatistics CameraSession::videoStatistics() const {
    return decoder_ ? decoder_->statistics() : DecoderStatistics{};
}

double CameraSession::playbackFill() const {
    const auto codec = audioCodec();
    return codec ? codec->playbackFill() : -1;
}

void CameraSession::takePicture() {
    long id = 0;
    if (auto owner = scanner()) {
        id = owner->picID() + 1;
        if (id >= 10000) {
            id = 0;
        }
        owner->setPicID(id);
    }
    if (decoder_) {
        decoder_->takePicture(id);
    }
}

}  // namespace vistamo
