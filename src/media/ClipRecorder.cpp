#include "media/ClipRecorder.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <system_error>

#include "media/ClipFileName.h"
#include "platform/Log.h"

namespace vistamo {

namespace {

constexpr size_t kPrefixBytes = 4;

// Opened on a recorder's caller thread, finished on its writer queue.
std::atomic<int> openFiles{0};

ByteView withoutPrefix(ByteView unit) {
    return unit.size() > kPrefixBytes ? unit.subspan(kPrefixBytes) : ByteView();
}

}  // namespace

// Where a recording's outcome goes; copied to the writer queue.
struct ClipRecorder::Sinks {
    std::string cameraName;
    std::shared_ptr<dispatch::Queue> callbackQueue;
    std::function<void(const std::string&)> onNotice;
    std::function<void(const std::filesystem::path&)> onFinished;

    void notice(const std::string& text) const {
        logLine(cameraName + ": " + text);
        if (onNotice && callbackQueue) {
            callbackQueue->async([onNotice = onNotice, text] { onNotice(text); });
        }
    }
};

// One file being written. `writer` and `reported` belong to the writer queue; `failed` is
// set there and read on the caller's thread.
struct ClipRecorder::Recording {
    std::unique_ptr<ClipWriter> writer;
    bool reported = false;
    std::atomic<bool> failed{false};
};

// On the writer queue: closes the file (with what was written, after a failure) and says how
// it went, once.
void ClipRecorder::finishRecording(Recording& recording, const Sinks& sinks) {
    recording.reported = true;
    const auto path = recording.writer->finish();
    --openFiles;
    const std::string& failure = recording.writer->failure();
    if (!failure.empty()) {
        sinks.notice(failure + "; the recording stopped" +
                     (path ? ", what was recorded is in " + path->string() : ""));
    }
    if (path && sinks.callbackQueue && sinks.onFinished) {
        sinks.callbackQueue->async([onFinished = sinks.onFinished, path] { onFinished(*path); });
    }
}

ClipRecorder::ClipRecorder(Options options)
    : options_(std::move(options)),
      writerQueue_(options_.writerQueue
                       ? options_.writerQueue
                       : dispatch::SerialQueue::create("recording " + options_.cameraName)),
      backlogBytes_(std::make_shared<std::atomic<size_t>>(0)),
      sinks_(std::make_shared<const Sinks>(Sinks{options_.cameraName, options_.callbackQueue,
                                                 options_.onNotice, options_.onFinished})),
      clip_(options_.secondsAfter) {
    if (options_.secondsBefore > 0) {
        ring_.emplace(options_.secondsBefore, options_.maxRingBytes);
    }
}

ClipRecorder::~ClipRecorder() {
    stop();
    // The writer queue finishes the file and then ends by itself, since the last reference
    // to it goes away on its own thread: the caller's thread never waits on the disk.
    writerQueue_->async([queue = writerQueue_] {});
}

double ClipRecorder::now() const {
    if (options_.clock) {
        return options_.clock();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ClipRecorder::notice(const std::string& text) const { sinks_->notice(text); }

void ClipRecorder::setClipSeconds(double secondsBefore, double secondsAfter) {
    options_.secondsBefore = secondsBefore;
    options_.secondsAfter = secondsAfter;
    clip_.setSecondsAfter(secondsAfter);
    if (secondsBefore <= 0) {
        ring_.reset();
    } else if (ring_) {
        ring_->setKeepSeconds(secondsBefore);
    } else {
        ring_.emplace(secondsBefore, options_.maxRingBytes);
    }
}

void ClipRecorder::parameterSets(ByteView sps, ByteView pps) {
    auto format = H264ParameterSets::create(withoutPrefix(sps), withoutPrefix(pps));
    if (format) {
        format_ = std::move(format);
    }
}

// Neither recording nor keeping pictures for an alarm clip: what the camera sends is not
// needed, so it is not copied.
bool ClipRecorder::idle() const { return state_ == State::idle && !ring_; }

void ClipRecorder::picture(const std::vector<ByteView>& units, bool keyFrame,
                           std::optional<double> cameraSeconds) {
    if (idle()) {
        return;
    }
    RecordedSample sample = RecordedSample::picture(units, keyFrame, cameraSeconds, now(), format_);
    if (sample.data.empty()) {
        return;
    }
    checkClipEnd(sample.arrivalSeconds);
    if (ring_) {
        ring_->push(sample);
    }
    if (state_ == State::waitingForKeyFrame && sample.keyFrame) {
        startedAt_ = sample.arrivalSeconds;
        state_ = State::recording;
    }
    if (state_ == State::recording) {
        send(std::move(sample));
    }
}

void ClipRecorder::sound(ByteView opusPacket) {
    if (opusPacket.empty() || idle()) {
        return;
    }
    RecordedSample sample;
    sample.kind = RecordedSample::Kind::audio;
    sample.arrivalSeconds = now();
    sample.data.assign(opusPacket.begin(), opusPacket.end());
    checkClipEnd(sample.arrivalSeconds);
    if (ring_) {
        ring_->push(sample);
    }
    if (state_ == State::recording) {
        send(std::move(sample));
    }
}

void ClipRecorder::checkClipEnd(double time) {
    if (recording_ && recording_->failed.load()) {
        state_ = State::idle;
        alarmClip_ = false;
        clip_.reset();
        recording_.reset();
        return;
    }
    if (alarmClip_ && !clip_.isRunning(time)) {
        stop();
    }
}

bool ClipRecorder::openRecording() {
    if (!format_) {
        notice(
            "the camera has not sent its stream parameters yet; recording can start once "
            "it has");
        return false;
    }
    const auto folder = options_.folder ? options_.folder : clipFolder();
    if (!folder) {
        notice("there is no Videos folder to record into (HOME is not set)");
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(*folder, error);
    if (error || !std::filesystem::is_directory(*folder, error)) {
        notice(folder->string() +
               " cannot be created: " + (error ? error.message() : "a file is in the way"));
        return false;
    }
    const auto path =
        unusedClipPath(*folder, clipFileName(options_.cameraName, std::time(nullptr)));
    recording_ = std::make_shared<Recording>();
    recordingFormat_.reset();
    recording_->writer = std::make_unique<ClipWriter>(path, options_.writer);
    ++openFiles;
    dropping_ = false;
    saidDropping_ = false;
    return true;
}

bool ClipRecorder::start() {
    if (state_ != State::idle) {
        alarmClip_ = false;
        clip_.reset();
        return true;
    }
    if (!openRecording()) {
        return false;
    }
    state_ = State::waitingForKeyFrame;
    return true;
}

bool ClipRecorder::alarm() {
    const double time = now();
    checkClipEnd(time);
    if (state_ != State::idle) {
        if (alarmClip_) {
            clip_.alarm(time);
        }
        return true;
    }
    if (!openRecording()) {
        return false;
    }
    alarmClip_ = true;
    clip_.alarm(time);
    state_ = State::waitingForKeyFrame;
    if (ring_ && !ring_->empty()) {
        auto samples = ring_->contentsFrom(time - options_.secondsBefore);
        startedAt_ = samples.front().arrivalSeconds;
        state_ = State::recording;
        for (auto& sample : samples) {
            send(std::move(sample));
        }
    }
    return true;
}

void ClipRecorder::continueInNewFile() {
    const AlarmClip clip = clip_;
    const bool alarmClip = alarmClip_;
    const double startedAt = startedAt_;
    stop();
    if (!openRecording()) {
        return;
    }
    state_ = State::recording;
    clip_ = clip;
    alarmClip_ = alarmClip;
    startedAt_ = startedAt;
}

void ClipRecorder::send(RecordedSample sample) {
    if (sample.kind == RecordedSample::Kind::video && sample.keyFrame) {
        // A file holds one set of parameter sets; new ones (another picture size) go on in a
        // new file.
        if (recordingFormat_ &&
            !std::ranges::equal(recordingFormat_->avcC(), sample.format->avcC())) {
            continueInNewFile();
            if (state_ != State::recording) {
                return;
            }
        }
        recordingFormat_ = sample.format;
    }
    const size_t cost = sample.cost();
    if (sample.kind == RecordedSample::Kind::video) {
        if (dropping_ && !sample.keyFrame) {
            return;
        }
        dropping_ = backlogBytes_->load() + cost > options_.maxBacklogBytes;
        if (dropping_) {
            // Up to the next key frame: a picture without the ones it refers to is noise.
            if (!saidDropping_) {
                saidDropping_ = true;
                notice("the disk cannot keep up; some pictures are left out of the recording");
            }
            return;
        }
    } else if (backlogBytes_->load() + cost > options_.maxBacklogBytes) {
        return;
    }
    backlogBytes_->fetch_add(cost);
    writerQueue_->async([recording = recording_, backlog = backlogBytes_, cost,
                         sample = std::move(sample), sinks = sinks_] {
        if (!recording->reported && !recording->writer->write(sample)) {
            recording->failed = true;
            finishRecording(*recording, *sinks);
        }
        backlog->fetch_sub(cost);
    });
}

void ClipRecorder::stop() {
    if (state_ == State::idle) {
        return;
    }
    state_ = State::idle;
    alarmClip_ = false;
    clip_.reset();
    writerQueue_->async([recording = std::move(recording_), sinks = sinks_] {
        if (!recording->reported) {
            finishRecording(*recording, *sinks);
        }
    });
}

int ClipRecorder::filesBeingWritten() { return openFiles.load(); }

double ClipRecorder::recordingSeconds() const {
    return state_ == State::recording ? now() - startedAt_ : 0;
}

}  // namespace vistamo
