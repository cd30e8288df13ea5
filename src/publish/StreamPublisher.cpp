#include "publish/StreamPublisher.h"

#include <algorithm>
#include <chrono>

#include "dispatch/MainQueue.h"
#include "media/RecordedSample.h"
#include "media/StreamTimeline.h"
#include "platform/Log.h"
#include "publish/RtspOutput.h"

namespace vistamo {

namespace {

constexpr size_t kPrefixBytes = 4;

ByteView withoutPrefix(ByteView unit) {
    return unit.size() > kPrefixBytes ? unit.subspan(kPrefixBytes) : ByteView();
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string StreamPublisher::Status::line() const {
    switch (state) {
        case State::connecting:
            return "Connecting to " + server;
        case State::publishing:
            return "Publishing to " + server;
        case State::retrying:
            return "Server unreachable, retrying";
        case State::refused:
            return "Server refused: " + reason;
        case State::starting:
        case State::stopped:
            break;
    }
    return {};
}

// What the publisher's queue works with. The fields under "queue only" are touched there only;
// the status is guarded by `lock`; the counters are read from any thread.
struct StreamPublisher::Writer {
    // Set at construction.
    std::string url;
    std::string cameraName;
    std::shared_ptr<dispatch::Queue> callbackQueue;
    std::function<void(const Status&)> onStatus;
    std::function<void(double)> pictureSent;
    double ioTimeoutSeconds = 5;
    std::shared_ptr<std::atomic<double>> stoppedAt;
    // Not owned: the queue ends by itself once the publisher lets it go.
    std::weak_ptr<dispatch::SerialQueue> queue;

    // Queue only.
    std::unique_ptr<RtspOutput> output;
    std::shared_ptr<const H264ParameterSets> outputFormat;
    std::optional<StreamTimeline> timeline;
    ReconnectPolicy policy;
    bool attemptDue = true;
    uint64_t retryRound = 0;

    mutable std::mutex lock;
    Status status;  // guarded by `lock`

    std::atomic<bool> publishing{false};
    std::atomic<uint64_t> bytesSent{0};
    std::atomic<uint64_t> picturesSent{0};
    std::atomic<uint64_t> soundsSent{0};
    std::atomic<uint64_t> picturesDropped{0};

    void setStatus(State state, std::string reason = {}) {
        Status now;
        {
            std::lock_guard guard(lock);
            if (status.state == State::stopped ||
                (status.state == state && status.reason == reason)) {
                return;
            }
            status.state = state;
            status.reason = std::move(reason);
            now = status;
        }
        publishing = state == State::publishing;
        if (state == State::retrying || state == State::refused) {
            logLine(cameraName + ": publishing to " + now.server + ": " + now.line() + " (" +
                    now.reason + ")");
        } else if (state == State::publishing) {
            logLine(cameraName + ": " + now.line());
        }
        if (onStatus) {
            auto work = [onStatus = onStatus, now] { onStatus(now); };
            if (callbackQueue) {
                callbackQueue->async(std::move(work));
            } else {
                dispatch::mainQueue().async(std::move(work));
            }
        }
    }

    void close() {
        output.reset();
        outputFormat.reset();
        timeline.reset();
    }

    // A try that failed, or a connection that broke.
    void failed(const RtspOutput::Result& result) {
        close();
        if (stopping()) {
            return;
        }
        attemptDue = false;
        if (result.outcome != RtspOutput::Outcome::unreachable) {
            setStatus(State::refused, result.reason);
            return;
        }
        policy.dropped();
        const auto wait = policy.nextWait().value_or(ReconnectPolicy::kLongestWait);
        setStatus(State::retrying, result.reason);
        const uint64_t round = ++retryRound;
        if (const auto serial = queue.lock()) {
            serial->after(
                std::chrono::duration<double>(wait).count(), [weakSelf = weakThis, round] {
                    if (const auto self = weakSelf.lock(); self && self->retryRound == round) {
                        self->attemptDue = true;
                    }
                });
        }
    }

    bool connect(const RecordedSample& first) {
        setStatus(State::connecting);
        output = std::make_unique<RtspOutput>(url, ioTimeoutSeconds, [stoppedAt = stoppedAt] {
            const double at = stoppedAt->load();
            return at > 0 && steadySeconds() - at > kStopGraceSeconds;
        });
        const auto result = output->open(*first.format);
        if (result.outcome != RtspOutput::Outcome::sent) {
            failed(result);
            return false;
        }
        outputFormat = first.format;
        timeline.emplace(StreamTimeline::Holding::onlyWhenGuessingOrder);
        timeline->begin(first);
        policy.succeeded();
        setStatus(State::publishing);
        return true;
    }

    bool stopping() const { return stoppedAt->load() > 0; }

    void handle(RecordedSample sample) {
        if (stopping()) {
            return;
        }
        if (sample.kind == RecordedSample::Kind::audio) {
            if (!output || !timeline) {
                return;
            }
            const auto sound = timeline->sound(sample);
            if (!sound) {
                return;
            }
            const auto result = output->writeSound(sample.data, *sound);
            if (result.outcome != RtspOutput::Outcome::sent) {
                failed(result);
                return;
            }
            ++soundsSent;
            bytesSent = output->bytesSent();
            return;
        }
        if (output && sample.keyFrame &&
            !std::ranges::equal(outputFormat->avcC(), sample.format->avcC())) {
            // New parameter sets (another picture size) are announced on a new connection.
            close();
            attemptDue = true;
        }
        if (!output) {
            if (!sample.keyFrame || !attemptDue || !connect(sample)) {
                return;
            }
        }
        const auto ready = timeline->picture(std::move(sample));
        if (!ready) {
            return;
        }
        const auto result = output->writePicture(*ready);
        if (result.outcome != RtspOutput::Outcome::sent) {
            failed(result);
            return;
        }
        ++picturesSent;
        bytesSent = output->bytesSent();
        if (pictureSent) {
            pictureSent(ready->sample.arrivalSeconds);
        }
    }

    std::weak_ptr<Writer> weakThis;
};

StreamPublisher::StreamPublisher(Options options)
    : options_(std::move(options)),
      queue_(dispatch::SerialQueue::create("publishing " + options_.cameraName)),
      writer_(std::make_shared<Writer>()),
      backlogBytes_(std::make_shared<std::atomic<size_t>>(0)),
      stoppedAt_(std::make_shared<std::atomic<double>>(0)) {
    writer_->url = options_.address.url();
    writer_->cameraName = options_.cameraName;
    writer_->callbackQueue = options_.callbackQueue;
    writer_->onStatus = options_.onStatus;
    writer_->pictureSent = options_.pictureSent;
    writer_->ioTimeoutSeconds = options_.ioTimeoutSeconds;
    writer_->stoppedAt = stoppedAt_;
    writer_->queue = queue_;
    writer_->status.server = options_.address.shown();
    if (options_.makePolicy) {
        writer_->policy = options_.makePolicy();
    }
    writer_->weakThis = writer_;
}

std::shared_ptr<StreamPublisher> StreamPublisher::create(Options options) {
    return std::shared_ptr<StreamPublisher>(new StreamPublisher(std::move(options)));
}

StreamPublisher::~StreamPublisher() {
    stop();
    // The queue closes the connection and then ends by itself, since its last reference goes
    // away on its own thread: the session's thread never waits on the network.
    queue_->async([queue = queue_] {});
}

void StreamPublisher::stop() {
    double never = 0;
    if (!stoppedAt_->compare_exchange_strong(never, steadySeconds())) {
        return;
    }
    queue_->async([writer = writer_] {
        writer->close();
        writer->setStatus(State::stopped);
    });
}

StreamPublisher::Status StreamPublisher::status() const {
    std::lock_guard guard(writer_->lock);
    return writer_->status;
}

StreamPublisher::Statistics StreamPublisher::statistics() const {
    return {writer_->bytesSent.load(), writer_->picturesSent.load(), writer_->soundsSent.load(),
            writer_->picturesDropped.load()};
}

double StreamPublisher::now() const { return options_.clock ? options_.clock() : steadySeconds(); }

void StreamPublisher::parameterSets(ByteView sps, ByteView pps) {
    if (auto format = H264ParameterSets::create(withoutPrefix(sps), withoutPrefix(pps))) {
        format_ = std::move(format);
    }
}

void StreamPublisher::picture(const std::vector<ByteView>& units, bool keyFrame,
                              std::optional<double> cameraSeconds) {
    if (stoppedAt_->load() > 0) {
        return;
    }
    RecordedSample sample = RecordedSample::picture(units, keyFrame, cameraSeconds, now(), format_);
    if (!sample.data.empty()) {
        send(std::move(sample));
    }
}

void StreamPublisher::sound(ByteView opusPacket) {
    if (opusPacket.empty() || stoppedAt_->load() > 0) {
        return;
    }
    RecordedSample sample;
    sample.kind = RecordedSample::Kind::audio;
    sample.arrivalSeconds = now();
    sample.data.assign(opusPacket.begin(), opusPacket.end());
    send(std::move(sample));
}

void StreamPublisher::streamRestarted() {
    format_.reset();
    // The new stream's times start again; it goes out on a new connection from its first key
    // frame.
    queue_->async([writer = writer_] {
        if (writer->output) {
            writer->close();
            writer->attemptDue = true;
        }
    });
}

void StreamPublisher::send(RecordedSample sample) {
    const size_t cost = sample.cost();
    const bool overBudget = backlogBytes_->load() + cost > options_.maxBacklogBytes;
    if (sample.kind == RecordedSample::Kind::video) {
        if (dropping_ && !sample.keyFrame) {
            if (writer_->publishing.load()) {
                ++writer_->picturesDropped;
            }
            return;
        }
        // Up to the next key frame: a picture without the ones it refers to is noise.
        dropping_ = overBudget;
        if (dropping_) {
            if (writer_->publishing.load()) {
                ++writer_->picturesDropped;
            }
            return;
        }
    } else if (overBudget) {
        return;
    }
    backlogBytes_->fetch_add(cost);
    queue_->async(
        [writer = writer_, backlog = backlogBytes_, cost, sample = std::move(sample)]() mutable {
            writer->handle(std::move(sample));
            backlog->fetch_sub(cost);
        });
}

}  // namespace vistamo
