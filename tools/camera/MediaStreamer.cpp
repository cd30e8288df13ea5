#include "MediaStreamer.h"

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <vector>

#include "CameraConnection.h"
#include "CameraLog.h"

namespace vistamo::camera {

namespace {

// The prefix in front of every parameter set and slice; receivers ignore its content, and a
// start code keeps the body readable as Annex B.
constexpr uint8_t kUnitPrefix[] = {0, 0, 0, 1};

constexpr auto kAudioPeriod = std::chrono::milliseconds(10);
// Audio late by up to this many periods is sent at once, so that a client's buffer does not
// run dry; video just waits for its next tick.
constexpr int kAudioCatchUp = 10;
constexpr int kVideoCatchUp = 1;

void appendUnit(Bytes& body, ByteView unit) {
    body.insert(body.end(), std::begin(kUnitPrefix), std::end(kUnitPrefix));
    body.insert(body.end(), unit.begin(), unit.end());
}

std::shared_ptr<CameraConnection> openConnection(const std::weak_ptr<CameraConnection>& weak) {
    auto connection = weak.lock();
    return connection && connection->isOpen() ? connection : nullptr;
}

}  // namespace

MediaStreamer::MediaStreamer(asio::io_context& context, const MediaOptions& options)
    : options_(options),
      videoTicker_(context,
                   std::chrono::duration_cast<Ticker::Clock::duration>(
                       std::chrono::nanoseconds(std::chrono::seconds(1)) / options.framesPerSecond),
                   kVideoCatchUp, [this] { videoTick(); }),
      audioTicker_(context, kAudioPeriod, kAudioCatchUp, [this] { audioTick(); }) {}

MediaStreamer::~MediaStreamer() = default;

std::optional<std::string> MediaStreamer::prepare() {
    // libx264 reports its settings and statistics at the info level; only trouble matters here.
    av_log_set_level(AV_LOG_ERROR);
    std::string error;
    if (options_.video && !H264Encoder::open(options_, error)) {
        return error;
    }
    if (options_.audio && !ToneEncoder::open(options_.toneHz, error)) {
        return error;
    }
    if (!IntercomDecoder::open(error)) {
        return error;
    }
    if (!options_.intercomWavPath.empty()) {
        wav_ = WavWriter::create(options_.intercomWavPath, error);
        if (!wav_) {
            return error;
        }
    }
    if (options_.loopSeconds > 0) {
        return encodeLoop();
    }
    return std::nullopt;
}

std::optional<std::string> MediaStreamer::encodeLoop() {
    std::string error;
    if (options_.video) {
        // Whole groups, so that the loop starts again with a key frame.
        const int64_t groups =
            (int64_t{options_.loopSeconds} * options_.framesPerSecond + options_.gopFrames - 1) /
            options_.gopFrames;
        loopFrames_ = groups * options_.gopFrames;
        auto encoder = H264Encoder::open(options_, error);
        if (!encoder) {
            return error;
        }
        // The encoder gives pictures out late: encode on until the next group's key frame.
        std::vector<EncodedPicture> pictures;
        for (int64_t frame = 0; frame <= loopFrames_ + options_.gopFrames; ++frame) {
            if (auto failure = encoder->encode(frame, pictures)) {
                return failure;
            }
            // Done once the picture after the loop's last one, a key frame, has come out.
            if (pictures.size() > static_cast<size_t>(loopFrames_) &&
                pictures[static_cast<size_t>(loopFrames_)].keyFrame) {
                pictures.resize(static_cast<size_t>(loopFrames_));
                loopPictures_ = std::move(pictures);
                break;
            }
        }
        if (loopPictures_.empty()) {
            return std::string("the encoder gave no whole loop of pictures");
        }
    }
    if (options_.audio) {
        auto tone = ToneEncoder::open(options_.toneHz, error);
        if (!tone) {
            return error;
        }
        const auto packets = std::chrono::seconds(options_.loopSeconds) / kAudioPeriod;
        for (int64_t i = 0; i < packets; ++i) {
            Bytes packet;
            if (auto failure = tone->nextPacket(packet)) {
                return failure;
            }
            loopAudio_.push_back(std::move(packet));
        }
    }
    return std::nullopt;
}

void MediaStreamer::streamRequested(const std::shared_ptr<CameraConnection>& connection) {
    const int number = connection->number();
    // A client repeats 16 until its first 101 arrives. A closed connection has had its
    // connectionClosed already, so a stream for it would never end.
    if (streams_.contains(number) || !connection->isOpen()) {
        return;
    }
    const auto stream = std::make_shared<Stream>();
    stream->connection = connection;
    streams_.emplace(number, stream);
    startStream(number, *stream);
}

void MediaStreamer::restartStreams() {
    const auto streams = streams_;
    for (const auto& [number, stream] : streams) {
        startStream(number, *stream);
    }
}

void MediaStreamer::connectionClosed(const CameraConnection& connection) {
    streams_.erase(connection.number());
    intercom_.erase(connection.number());
    updateTickers();
}

void MediaStreamer::startStream(int number, Stream& stream) {
    const auto connection = openConnection(stream.connection);
    if (!connection) {
        return;
    }
    stream.video.reset();
    stream.audio.reset();
    stream.nextFrame = 0;
    stream.nextStored = 0;
    stream.nextStoredAudio = 0;
    printConnectionLine(number, "stream started");
    connection->sendMessage(makeMessage(CmdChallengeResponse));
    if (options_.loopSeconds > 0) {
        stream.looping = true;
        updateTickers();
        sendStoredPictures(number, stream);
        return;
    }
    std::string error;
    if (options_.video && !(stream.video = H264Encoder::open(options_, error))) {
        printConnectionLine(number, "stream error " + error);
    }
    if (options_.audio && !(stream.audio = ToneEncoder::open(options_.toneHz, error))) {
        printConnectionLine(number, "stream error " + error);
    }
    updateTickers();
    encodePicture(number, stream);
}

void MediaStreamer::updateTickers() {
    bool video = false;
    bool audio = false;
    for (const auto& [number, stream] : streams_) {
        video = video || stream->video || (stream->looping && !loopPictures_.empty());
        audio = audio || stream->audio || (stream->looping && !loopAudio_.empty());
    }
    if (video) {
        videoTicker_.start();
    } else {
        videoTicker_.stop();
    }
    if (audio) {
        audioTicker_.start();
    } else {
        audioTicker_.stop();
    }
}

void MediaStreamer::videoTick() {
    const auto streams = streams_;
    for (const auto& [number, stream] : streams) {
        encodePicture(number, *stream);
    }
}

void MediaStreamer::audioTick() {
    const auto streams = streams_;
    for (const auto& [number, stream] : streams) {
        sendAudio(number, *stream);
    }
}

void MediaStreamer::sendStoredPictures(int number, Stream& stream) {
    if (loopPictures_.empty() || !openConnection(stream.connection)) {
        return;
    }
    // One stored picture per video tick, its time stamp moved on by the loops already sent.
    const auto size = static_cast<int64_t>(loopPictures_.size());
    const int64_t loop = stream.nextStored / size;
    EncodedPicture picture = loopPictures_[static_cast<size_t>(stream.nextStored % size)];
    picture.timeSeconds += static_cast<double>(loop * loopFrames_) / options_.framesPerSecond;
    ++stream.nextStored;
    sendPicture(number, stream, picture);
}

void MediaStreamer::encodePicture(int number, Stream& stream) {
    if (stream.looping) {
        sendStoredPictures(number, stream);
        return;
    }
    if (!stream.video || !openConnection(stream.connection)) {
        return;
    }
    std::vector<EncodedPicture> pictures;
    if (auto error = stream.video->encode(stream.nextFrame, pictures)) {
        videoFailed(number, stream, *error);
        return;
    }
    ++stream.nextFrame;
    for (const auto& picture : pictures) {
        sendPicture(number, stream, picture);
        if (!stream.video) {
            return;
        }
    }
}

void MediaStreamer::sendPicture(int number, Stream& stream, const EncodedPicture& picture) {
    std::vector<Bytes> messages;
    if (picture.keyFrame) {
        Bytes body;
        appendUnit(body, picture.sps);
        const auto spsBlockBytes = static_cast<uint32_t>(body.size());
        appendUnit(body, picture.pps);
        messages.push_back(makeMessage(CmdStreamParameters, spsBlockBytes, 0, body));
    }
    const uint32_t sliceMode = picture.slices.size() == 2 ? 1 : 0;
    const uint32_t time = floatBits(static_cast<float>(picture.timeSeconds));
    for (const auto& slice : picture.slices) {
        Bytes body;
        appendUnit(body, slice);
        messages.push_back(makeMessage(CmdVideoFrame, sliceMode, time, body));
    }
    for (const auto& message : messages) {
        if (message.size() > kMaxMessageLength) {
            videoFailed(number, stream,
                        "a picture needs a message of " + std::to_string(message.size()) +
                            " bytes, more than a client takes");
            return;
        }
    }
    for (auto& message : messages) {
        // A send may close the connection; what follows is dropped by the connection then.
        if (const auto connection = openConnection(stream.connection)) {
            connection->sendMessage(std::move(message));
        }
    }
}

void MediaStreamer::sendAudio(int number, Stream& stream) {
    const auto connection = openConnection(stream.connection);
    if (stream.looping && connection && !loopAudio_.empty()) {
        const Bytes& packet =
            loopAudio_[static_cast<size_t>(stream.nextStoredAudio++) % loopAudio_.size()];
        connection->sendMessage(makeMessage(CmdOpusAudio, 0, 0, packet));
        return;
    }
    if (!stream.audio || !connection) {
        return;
    }
    Bytes packet;
    if (auto error = stream.audio->nextPacket(packet)) {
        printConnectionLine(number, "stream error " + *error);
        stream.audio.reset();
        updateTickers();
        return;
    }
    connection->sendMessage(makeMessage(CmdOpusAudio, 0, 0, packet));
}

void MediaStreamer::videoFailed(int number, Stream& stream, const std::string& error) {
    printConnectionLine(number, "stream error " + error);
    stream.video.reset();
    updateTickers();
}

void MediaStreamer::intercomAudio(const CameraConnection& connection, ByteView packet) {
    const int number = connection.number();
    auto& decoder = intercom_[number];
    if (!decoder) {
        std::string error;
        decoder = IntercomDecoder::open(error);
        if (!decoder) {
            printConnectionLine(number, "intercom error " + error);
            intercom_.erase(number);
            return;
        }
    }
    switch (decoder->decode(packet)) {
        case IntercomDecoder::Outcome::Undecodable:
            printConnectionLine(number, "intercom dropped reason=undecodable");
            return;
        case IntercomDecoder::Outcome::TooLong:
            printConnectionLine(number, "intercom dropped reason=too-long");
            return;
        case IntercomDecoder::Outcome::Decoded:
            break;
    }
    printConnectionLine(number, "intercom packet samples=" + std::to_string(decoder->pcm().size()));
    if (wav_) {
        if (auto error = wav_->append(decoder->pcm())) {
            printCameraLine("intercom wav error " + *error);
            wav_.reset();
        }
    }
}

}  // namespace vistamo::camera
