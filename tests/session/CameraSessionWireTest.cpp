// The session against a camera peer driven byte by byte: what it answers, what it skips, and
// how it ends.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <thread>

#include "discovery/CameraRecord.h"
#include "session/CameraSession.h"
#include "session/CommandHeader.h"
#include "session/SessionDoubles.h"
#include "session/SessionMessages.h"
#include "settings/ClipSettings.h"
#include "support/LoopbackSession.h"
#include "support/Wait.h"
#include "support/WireClient.h"

namespace vistamo {
namespace {

using test::waitUntil;

const Bytes kDisconnectBytes = {0x18, 0, 0, 0, 0, 0, 0,    0, 0x01, 0, 0, 0,
                                0xC8, 0, 0, 0, 0, 0, 0x07, 0, 0,    0, 0, 0};

const std::string kIdentity = "0123456789abcdef0123456789abcdef";

ChallengeBlock goodBlock() {
    ChallengeBlock block{};
    setChallengeWord(block, 0, 0x11111111);
    setChallengeWord(block, 1, 0x22222222);
    setChallengeWord(block, 2, 0x33333333);
    setChallengeWord(block, 3, 0x22222222 ^ ChallengeCheck);
    return block;
}

Bytes header(uint64_t length, uint32_t type, uint32_t command, uint32_t details = 0,
             uint32_t details2 = 0) {
    const auto bytes = encodeHeader({length, type, command, details, details2});
    return Bytes(bytes.begin(), bytes.end());
}

uint32_t commandOf(const std::optional<Bytes>& message) {
    return message ? decodeHeader(*message)->command : 0;
}

class SessionWire : public ::testing::Test {
protected:
    void SetUp() override {
        SessionParts parts;
        parts.makeDecoder = [this] { return decoder; };
        parts.makeCodec = [this] { return codec; };
        parts.makeAlarmPlayer = [this] { return sound; };
        parts.dialogs = dialogs;
        parts.deviceIdentity = [] { return kIdentity; };
        parts.videoUnitObserver = [this](Clock::time_point bodyRead) {
            std::lock_guard lock(observedLock);
            observed.emplace_back(bodyRead, Clock::now());
        };
        parts.makeRecorder = [this](RecorderSetup setup) {
            std::lock_guard guard(recorder->lock_);
            recorder->setup = std::move(setup);
            return recorder;
        };
        session = test::makeLoopbackSession(parts, scanner, view);
        device = test::loopbackCamera(listener.port());
        device->setPassword("abc");
        session->connectToServer(nullptr, device);
        camera = listener.accept();
        ASSERT_TRUE(camera);
        // The kernel accepts before the session's socket has seen its connect complete.
        ASSERT_TRUE(waitUntil([&] { return session->socket()->isConnected(); }));
    }

    // A status makes a session that has no stream yet ask for one: a round trip that shows
    // everything sent before it has been handled.
    void expectStreamRequestAfterStatus(uint32_t flags = 0) {
        camera->send(header(24, 1, CmdCameraStatus, 0, flags));
        EXPECT_EQ(commandOf(camera->readMessageBytes()), CmdRequestStream);
    }

    // A challenge request and its answer: a round trip that shows everything sent before it
    // has been handled.
    void expectRoundTrip() {
        camera->send(makeMessage(CmdChallengeRequest, 0, 0, Bytes{0}));
        EXPECT_EQ(commandOf(camera->readMessageBytes()), CmdChallenge);
    }

    // The disconnect message, exactly, and then the close.
    void expectDisconnectOnTheWire() {
        EXPECT_EQ(camera->readBytes(24), kDisconnectBytes);
        EXPECT_TRUE(camera->closedByPeer());
        EXPECT_TRUE(waitUntil([&] { return view->closes == 1; }));
    }

    test::WireListener listener;
    std::unique_ptr<test::WireClient> camera;  // the session's connection, camera end
    std::shared_ptr<test::RecordingDecoder> decoder = std::make_shared<test::RecordingDecoder>();
    std::shared_ptr<test::RecordingCodec> codec = std::make_shared<test::RecordingCodec>();
    std::shared_ptr<test::SilentSound> sound = std::make_shared<test::SilentSound>();
    std::shared_ptr<test::ScriptedDialogs> dialogs = std::make_shared<test::ScriptedDialogs>();
    std::shared_ptr<test::RecordingScanner> scanner = std::make_shared<test::RecordingScanner>();
    std::shared_ptr<test::RecordingView> view = std::make_shared<test::RecordingView>();
    std::shared_ptr<CameraRecord> device;
    std::shared_ptr<test::RecordingRecorder> recorder = std::make_shared<test::RecordingRecorder>();
    std::shared_ptr<CameraSession> session;
    // What the session's video observer saw: each body's read, and when the session handled it.
    using Clock = std::chrono::steady_clock;
    std::mutex observedLock;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> observed;
};

TEST_F(SessionWire, AnswersChallengesAndSendsItsOwn) {
    const ChallengeBlock block = goodBlock();
    camera->send(buildChallengeMessage(block, "camera-identity", "Kitchen"));
    auto response = camera->readMessageBytes();
    ASSERT_TRUE(response);
    ASSERT_EQ(response->size(), 43u);
    const CommandHeader head = *decodeHeader(*response);
    EXPECT_EQ(head.length, 43u);
    EXPECT_EQ(head.command, CmdChallengeResponse);
    EXPECT_EQ(head.details, 0u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ((*response)[24 + i], block[i] ^ ChallengeKey[i]) << "byte " << 24 + i;
    }
    EXPECT_EQ(textOf(ByteView(*response).subspan(40)), "abc");
    EXPECT_EQ(device->uuid(), "camera-identity");
    EXPECT_EQ(device->name(), "Kitchen");

    // Identity length 0: the whole rest is the name.
    camera->send(buildChallengeMessage(block, "", "Hall"));
    ASSERT_TRUE(camera->readMessageBytes());
    EXPECT_EQ(device->uuid(), "");
    EXPECT_EQ(device->name(), "Hall");

    // An identity longer than 40 bytes is answered but neither identity nor name is read.
    camera->send(buildChallengeMessage(block, std::string(41, 'x'), "Porch"));
    ASSERT_TRUE(camera->readMessageBytes());
    EXPECT_EQ(device->uuid(), "");
    EXPECT_EQ(device->name(), "Hall");

    // A length byte promising more than the message holds reads nothing either.
    Bytes cut = buildChallengeMessage(block, "abcdefgh", "");
    cut.resize(cut.size() - 4);
    writeLE64(cut.data(), cut.size());
    camera->send(cut);
    ASSERT_TRUE(camera->readMessageBytes());
    EXPECT_EQ(device->uuid(), "");

    // Without a password the response is the bare 40 bytes.
    device->setPassword(std::nullopt);
    camera->send(buildChallengeMessage(block, "id", "n"));
    response = camera->readMessageBytes();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->size(), 40u);

    // Its own challenge carries the machine identity (41 + 32 bytes).
    camera->send(makeMessage(CmdChallengeRequest, 0, 0, Bytes{0}));
    auto challenge = camera->readMessageBytes();
    ASSERT_TRUE(challenge);
    ASSERT_EQ(challenge->size(), 41u + 32u);
    EXPECT_EQ(commandOf(challenge), CmdChallenge);
    EXPECT_EQ((*challenge)[40], 32);
    EXPECT_EQ(textOf(ByteView(*challenge).subspan(41)), kIdentity);
    ChallengeBlock own{};
    std::copy_n(challenge->begin() + 24, 16, own.begin());
    EXPECT_TRUE(challengeBlockChecks(own));

    // A second request gets a fresh block.
    camera->send(makeMessage(CmdChallengeRequest, 0, 0, Bytes{1, 2, 3}));
    auto again = camera->readMessageBytes();
    ASSERT_TRUE(again);
    EXPECT_FALSE(std::equal(own.begin(), own.end(), again->begin() + 24));
}

TEST_F(SessionWire, BadChallengeIsAnsweredThenLeft) {
    ChallengeBlock block = goodBlock();
    setChallengeWord(block, 3, 0xDEADBEEF);
    camera->send(buildChallengeMessage(block, "id", "name"));
    auto response = camera->readMessageBytes();
    ASSERT_TRUE(response);
    ChallengeBlock keyed = block;
    applyChallengeKey(keyed.data());
    EXPECT_TRUE(std::equal(block.begin() + 12, block.end(), response->begin() + 36));
    EXPECT_FALSE(std::equal(block.begin(), block.begin() + 12, response->begin() + 24));
    EXPECT_FALSE(std::equal(keyed.begin(), keyed.begin() + 12, response->begin() + 24));
    EXPECT_EQ(textOf(ByteView(*response).subspan(40)), "abc");
    EXPECT_FALSE(device->uuid());

    // The session leaves by itself, without a disconnect message.
    EXPECT_TRUE(camera->readBytes(1).empty());
    EXPECT_TRUE(waitUntil([&] { return scanner->devicesDown == 1; }));
}

TEST_F(SessionWire, SkipsGarbageHandsMediaOnShowsStatusAndStopsAskingForTheStream) {
    camera->send(header(24, 2, CmdCameraStatus));                  // wrong type
    camera->send(header(5, 1, CmdCameraStatus));                   // shorter than a header
    camera->send(header(0, 1, CmdOpusAudio));                      // zero length
    camera->send(header(kMaxMessageLength + 1, 1, CmdOpusAudio));  // above the limit
    camera->send(header(24, 1, CmdVerified));                      // 9 needs a body
    camera->send(header(24, 1, CmdStreamParameters, 4));           // 101 needs a body
    camera->send(header(24, 1, CmdChallengeRequest));              // 50 needs a body
    camera->send(makeMessage(CmdAlarm, 0, 0, Bytes{1}));           // 2 must come without one
    camera->send(makeMessage(777, 0, 0, Bytes{1, 2}));             // unknown code
    expectStreamRequestAfterStatus(0x19);
    EXPECT_EQ(scanner->alarms, 0);
    EXPECT_EQ(codec->packets, 0u);
    ASSERT_TRUE(waitUntil([&] { return view->alarm != -1; }));
    EXPECT_EQ(view->flash, 1);
    EXPECT_EQ(view->screen, 0);
    EXPECT_EQ(view->alarm, 1);
    EXPECT_TRUE(session->bFlashing() && session->bScreen() && session->bGuarding());

    const Bytes sps = {0, 0, 0, 1, 0x67, 0x42};
    const Bytes pps = {0, 0, 0, 1, 0x68};
    Bytes sets = sps;
    sets.insert(sets.end(), pps.begin(), pps.end());
    // SPS size past the body: dropped, the stream still counts as not requested.
    camera->send(makeMessage(CmdStreamParameters, 100, 0, sets));
    expectStreamRequestAfterStatus();

    camera->send(makeMessage(CmdStreamParameters, static_cast<uint32_t>(sps.size()), 0, sets));
    camera->send(makeMessage(CmdVideoFrame, 1, 0, Bytes{0, 0, 0, 0, 0x65, 1}));
    camera->send(makeMessage(CmdVideoFrame, 0, 0, Bytes{0, 0, 0, 0, 0x41, 2}));
    camera->send(makeMessage(CmdOpusAudio, 0, 0, Bytes(100, 7)));
    // The largest message a camera may send.
    camera->send(header(kMaxMessageLength, 1, CmdOpusAudio));
    camera->send(Bytes(kMaxMessageLength - kHeaderSize, 9));
    camera->send(header(24, 1, CmdChallengeResponse));
    ASSERT_TRUE(waitUntil([&] { return codec->packets == 2; }));

    // After the parameters, a status no longer asks for the stream.
    camera->send(header(24, 1, CmdCameraStatus));
    expectRoundTrip();

    const auto calls = decoder->calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].what, "start");
    EXPECT_EQ(calls[1].what, "format");
    EXPECT_EQ(calls[1].first, sps);
    EXPECT_EQ(calls[1].second, pps);
    EXPECT_EQ(calls[2].what, "slice");
    EXPECT_EQ(calls[3].what, "frame");
    EXPECT_EQ(calls[3].first, (Bytes{0, 0, 0, 0, 0x41, 2}));
    {
        // Each video message's own read, in the order sent: done before the session handled it
        // (the socket reads on meanwhile).
        std::lock_guard lock(observedLock);
        ASSERT_EQ(observed.size(), 2u);
        EXPECT_NE(observed[0].first, Clock::time_point{});
        EXPECT_LE(observed[0].first, observed[0].second);
        EXPECT_LT(observed[0].first, observed[1].first);
        EXPECT_LE(observed[1].first, observed[1].second);
    }
    // The verified connection's new stream reaches the decoder, which passes it to its sinks.
    EXPECT_EQ(decoder->restarts, 1);
}

// The recorder gets what the camera sends as received (a picture's two slices together, key
// frames by their NAL type, the camera's time when it sent one); an alarm starts a clip only
// when the scanner asks for one while it handles the alarm; and the connection's end stops it.
TEST_F(SessionWire, HandsTheStreamToTheRecorderAndStartsAlarmClipsWhenAsked) {
    device->setName("Porch");
    session->setClipSettings(ClipSettings{false, 20, 5});
    const Bytes sets = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68};
    const uint32_t time = floatBits(1.5f);
    camera->send(makeMessage(CmdStreamParameters, 6, 0, sets));
    camera->send(makeMessage(CmdVideoFrame, 1, time, Bytes{0, 0, 0, 0, 0x65, 1}));
    camera->send(makeMessage(CmdVideoFrame, 1, time, Bytes{0, 0, 0, 0, 0x65, 2}));
    camera->send(makeMessage(CmdVideoFrame, 0, 0, Bytes{0, 0, 0, 0, 0x41, 3}));
    camera->send(makeMessage(CmdOpusAudio, 0, 0, Bytes(100, 7)));
    camera->send(header(24, 1, CmdAlarm));
    expectRoundTrip();
    const auto setup = [&] {
        std::lock_guard guard(recorder->lock_);
        return recorder->setup;
    }();
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->cameraName, "Porch");
    EXPECT_EQ(setup->secondsBefore, 0) << "no pictures kept without Record a clip";
    EXPECT_EQ(recorder->calls(), (std::vector<std::string>{"sets 6 5", "picture 2 key 1.500000",
                                                           "picture 1 delta", "sound 100"}));

    session->setClipSettings(ClipSettings{true, 30, 4});
    scanner->startClips = true;
    camera->send(header(24, 1, CmdAlarm));
    expectRoundTrip();
    EXPECT_EQ(scanner->alarms, 2);
    session->toggleRecording();
    session->toggleRecording();
    camera.reset();
    ASSERT_TRUE(waitUntil([&] { return recorder->calls().size() == 9; }));
    const auto calls = recorder->calls();
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 4, calls.end()),
              (std::vector<std::string>{"clip 4 30", "alarm", "start", "stop", "stop"}));
}

// Every alarm is reported, and nothing else done with it; the user's guard switch is reported
// before its command, the scanner's own switching off is not.
TEST_F(SessionWire, ReportsEveryAlarmAndSendsTheGuardCommands) {
    for (int i = 0; i < 3; ++i) {
        camera->send(header(24, 1, CmdAlarm));
    }
    expectStreamRequestAfterStatus();
    EXPECT_EQ(scanner->alarms, 3);

    session->startMonitor(true);
    EXPECT_EQ(scanner->guardSwitches, 1);
    auto arm = camera->readMessageBytes();
    ASSERT_TRUE(arm);
    EXPECT_EQ(commandOf(arm), CmdStartMonitor);
    EXPECT_EQ(decodeHeader(*arm)->details, 1u);
    session->switchGuardOff();
    auto disarm = camera->readMessageBytes();
    ASSERT_TRUE(disarm);
    EXPECT_EQ(*disarm, makeMessage(CmdStopMonitor, 1));
    EXPECT_EQ(scanner->guardSwitches, 1);
}

TEST_F(SessionWire, CancelledPasswordAlertDisconnects) {
    camera->send(header(24, 1, CmdPasswordError));
    expectDisconnectOnTheWire();
    EXPECT_EQ(dialogs->passwordAlertCount(), 1);
    EXPECT_EQ(view->lastEnd.load(), SessionEnd::PasswordRefused);
}

TEST_F(SessionWire, DisconnectSendsExactlyTheDisconnectMessage) {
    expectStreamRequestAfterStatus();  // connected: a disconnect while connecting sends nothing
    session->disconnect();
    expectDisconnectOnTheWire();
    EXPECT_TRUE(waitUntil([&] { return !session->audioCodec(); }));
    EXPECT_EQ(scanner->devicesDown, 1);
    EXPECT_EQ(dialogs->connectErrors, 0);
    EXPECT_EQ(view->lastEnd.load(), SessionEnd::Closed);
    // Once closed, disconnecting again does nothing.
    session->disconnect();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(scanner->devicesDown, 1);
}

TEST_F(SessionWire, CameraClosingInsideABodyEndsTheSessionOnce) {
    camera->send(header(124, 1, CmdOpusAudio));
    camera->send(Bytes(10, 1));
    camera.reset();
    ASSERT_TRUE(waitUntil([&] { return scanner->devicesDown == 1 && view->closes == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(scanner->devicesDown, 1);
    EXPECT_EQ(view->closes, 1);
    EXPECT_EQ(codec->packets, 0u);
    // The camera never verified the session: it did not drop a working connection.
    EXPECT_EQ(view->lastEnd.load(), SessionEnd::NeverVerified);
}

TEST_F(SessionWire, CommandsCarryTheirCodesAndValuesAndSnapshotNumbersWrap) {
    session->sendTapFocus(0.25, 0.75);
    session->flashSwitch();
    session->screenSwitch();
    session->switchCamera();
    session->sendCommandTCP(CmdIntercomStart, 0);
    session->sendOpus(Bytes{1, 2, 3});
    for (uint32_t code : {CmdTapFocus, CmdFlashSwitch, CmdScreenSwitch, CmdSwitchCamera,
                          CmdIntercomStart, CmdOpusAudio}) {
        auto message = camera->readMessageBytes();
        ASSERT_TRUE(message);
        const CommandHeader head = *decodeHeader(*message);
        EXPECT_EQ(head.command, code);
        if (code == CmdTapFocus) {
            EXPECT_EQ(floatFromBits(head.details), 0.25f);
            EXPECT_EQ(floatFromBits(head.details2), 0.75f);
        }
        if (code == CmdOpusAudio) {
            EXPECT_EQ(head.length, 27u);
            EXPECT_EQ(Bytes(message->begin() + 24, message->end()), (Bytes{1, 2, 3}));
        }
    }

    scanner->picID_ = 9999;
    session->takePicture();
    session->takePicture();
    const auto calls = decoder->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].id, 0);
    EXPECT_EQ(calls[2].id, 1);
    EXPECT_EQ(scanner->picID_, 1);
}

}  // namespace
}  // namespace vistamo
