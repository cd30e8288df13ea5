#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/SessionAudioCodec.h"
#include "media/SessionDecoder.h"
#include "media/SessionRecorder.h"
#include "platform/Bytes.h"
#include "platform/SoundPlayer.h"
#include "session/CameraSession.h"
#include "session/SessionDialogs.h"
#include "session/SessionScanner.h"
#include "session/SessionView.h"
#include "settings/PasswordStore.h"

namespace vistamo::test {

// Recording stand-ins for the session's neighbours. Each records under its own lock or in
// atomics, since the session calls them from its queue, the main queue and the decoder's thread.

class RecordingDecoder : public SessionDecoder {
public:
    struct Call {
        std::string what;
        Bytes first;
        Bytes second;
        long id = 0;
    };
    void addPictureSink(std::weak_ptr<PictureSink>) override {}
    void removePictureSink(const PictureSink*) override {}
    void start() override { record({"start", {}, {}, 0}); }
    void createFormatDesc(ByteView sps, ByteView pps) override {
        record({"format", Bytes(sps.begin(), sps.end()), Bytes(pps.begin(), pps.end()), 0});
    }
    void decodeFrame(ByteView data) override {
        record({"frame", Bytes(data.begin(), data.end()), {}, 0});
    }
    void decodeTwoSlicePicture(ByteView data) override {
        record({"slice", Bytes(data.begin(), data.end()), {}, 0});
    }
    void takePicture(long id) override { record({"picture", {}, {}, id}); }
    void streamRestarted() override { ++restarts; }
    std::vector<Call> calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

private:
    void record(Call call) {
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex lock_;
    std::vector<Call> calls_;

public:
    std::atomic<int> restarts{0};
};

class RecordingCodec : public SessionAudioCodec {
public:
    void setDelegate(std::weak_ptr<OpusPacketSink>) override {}
    void startPlay() override {}
    void stopPlay() override {}
    void decodeOpusData(ByteView) override { ++packets; }
    std::atomic<size_t> packets{0};
};

// Each call as a line: "sets 6 5" (sizes), "picture 2 key 1.500000" (units, kind, camera
// time), "sound 100", "start", "stop", "alarm", "clip 4 30" (seconds before and after).
class RecordingRecorder : public SessionRecorder {
public:
    void parameterSets(ByteView sps, ByteView pps) override {
        add("sets " + std::to_string(sps.size()) + " " + std::to_string(pps.size()));
    }
    void picture(const std::vector<ByteView>& units, bool key,
                 std::optional<double> time) override {
        add("picture " + std::to_string(units.size()) + (key ? " key" : " delta") +
            (time ? " " + std::to_string(*time) : ""));
    }
    void sound(ByteView packet) override { add("sound " + std::to_string(packet.size())); }
    bool start() override { return add("start"), recording = true; }
    void stop() override { add("stop"), recording = false; }
    bool alarm() override { return add("alarm"), true; }
    void setClipSeconds(double before, double after) override {
        add("clip " + std::to_string(int(before)) + " " + std::to_string(int(after)));
    }
    bool isRecording() const override { return recording; }
    double recordingSeconds() const override { return 0; }

    std::vector<std::string> calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

    std::atomic<bool> recording{false};
    // What the session made the recorder with (the test's factory sets it); guarded.
    std::optional<RecorderSetup> setup;
    mutable std::mutex lock_;

private:
    void add(std::string line) {
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(line));
    }
    std::vector<std::string> calls_;
};

class RecordingScanner : public SessionScanner {
public:
    long picID() const override { return picID_; }
    void setPicID(long id) override { picID_ = id; }
    void cameraWentDown(const std::shared_ptr<CameraRecord>&) override { ++devicesDown; }
    // Counts the reports; with `startClips`, starts the session's alarm clip from there.
    void alarmFrom(CameraSession& session) override {
        ++alarms;
        if (startClips) {
            session.startAlarmClip();
        }
    }
    void guardSwitched(const CameraSession&) override { ++guardSwitches; }
    PasswordStore* config() override { return store.get(); }

    std::atomic<long> picID_{0};
    std::atomic<int> devicesDown{0};
    std::atomic<int> alarms{0};
    std::atomic<int> guardSwitches{0};
    std::atomic<bool> startClips{false};
    std::shared_ptr<PasswordStore> store;
};

// Camera states -1 until set.
class RecordingView : public SessionView {
public:
    void setFlash(bool on) override { flash = on; }
    void setScreen(bool on) override { screen = on; }
    void setAlarm(bool on) override { alarm = on; }
    void sessionEnded(SessionEnd why) override {
        lastEnd = why;
        ++closes;
    }

    std::atomic<int> flash{-1};
    std::atomic<int> screen{-1};
    std::atomic<int> alarm{-1};
    std::atomic<int> closes{0};
    std::atomic<SessionEnd> lastEnd{SessionEnd::Closed};
};

// Answers the password alert from a script of answers (none = "CANCEL").
class ScriptedDialogs : public SessionDialogs {
public:
    std::optional<std::string> askPassword() override {
        std::lock_guard guard(lock_);
        ++passwordAlerts_;
        if (answers_.empty()) {
            return std::nullopt;
        }
        auto answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void showConnectError() override { ++connectErrors; }
    void addAnswer(std::optional<std::string> answer) {
        std::lock_guard guard(lock_);
        answers_.push_back(std::move(answer));
    }
    int passwordAlertCount() const {
        std::lock_guard guard(lock_);
        return passwordAlerts_;
    }
    std::atomic<int> connectErrors{0};

private:
    mutable std::mutex lock_;
    std::deque<std::optional<std::string>> answers_;
    int passwordAlerts_ = 0;
};

class SilentSound : public SoundPlayer {
public:
    void play() override {}
    bool isPlaying() const override { return false; }
};

}  // namespace vistamo::test
