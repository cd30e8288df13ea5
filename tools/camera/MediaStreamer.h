#pragma once

#include <asio/io_context.hpp>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "H264Encoder.h"
#include "IntercomDecoder.h"
#include "MediaOptions.h"
#include "StreamSource.h"
#include "Ticker.h"
#include "ToneEncoder.h"
#include "WavWriter.h"

namespace vistamo::camera {

// The camera's media: every client that asked for the stream gets a stream of its own, which
// starts with 30 (no body) and then carries the moving test picture as H.264 (101 before every
// key frame, one 102 per slice) and a tone as Opus (one 104 every 10 ms). A client's own 104
// packets are decoded and, with --intercom-wav, appended to a WAV file.
//
// Encoding runs on the camera's one thread, one picture per stream per video tick: at the sizes
// a test camera needs (320 x 240 by default) a picture takes a few milliseconds, well inside the
// 10 ms audio period, and there is no hand-over between threads to get wrong. A larger picture
// can delay audio ticks; they catch up, as the tickers keep their deadlines fixed.
//
// With --loop the pictures and sound packets of the first seconds are encoded once by prepare
// and every stream sends those, over and over, from the first picture on; time stamps go on
// counting across the loops, while the frame number drawn into a picture repeats with the loop.
//
// Lifecycle: construct, prepare (once, before clients come), then the StreamSource calls.
// Threads: the io_context's thread only.
class MediaStreamer : public StreamSource {
public:
    MediaStreamer(asio::io_context& context, const MediaOptions& options);
    ~MediaStreamer() override;

    // Checks that the encoders open with the options and creates the intercom file. An error
    // text for people when the camera cannot stream as asked.
    std::optional<std::string> prepare();

    // StreamSource
    void streamRequested(const std::shared_ptr<CameraConnection>& connection) override;
    void connectionClosed(const CameraConnection& connection) override;
    void intercomAudio(const CameraConnection& connection, ByteView packet) override;
    void restartStreams() override;

private:
    // One client's stream. Shared, so that a tick keeps it while a send closes its connection.
    struct Stream {
        std::weak_ptr<CameraConnection> connection;
        std::unique_ptr<H264Encoder> video;  // none with --no-video or after an error
        std::unique_ptr<ToneEncoder> audio;  // none with --no-audio or after an error
        int64_t nextFrame = 0;
        // With --loop: the next stored picture and sound packet, counted from the start.
        int64_t nextStored = 0;
        int64_t nextStoredAudio = 0;
        bool looping = false;
    };

    // Encodes the stored loop; an error text when the encoders fail.
    std::optional<std::string> encodeLoop();
    void sendStoredPictures(int number, Stream& stream);

    // Starts `stream` anew: fresh encoders, 30, and the first picture at once.
    void startStream(int number, Stream& stream);
    void videoTick();
    void audioTick();
    void encodePicture(int number, Stream& stream);
    void sendPicture(int number, Stream& stream, const EncodedPicture& picture);
    void sendAudio(int number, Stream& stream);
    // Ends the stream's video after a failure; its audio goes on.
    void videoFailed(int number, Stream& stream, const std::string& error);
    void updateTickers();

    // Set once at construction.
    const MediaOptions options_;

    // The io_context's thread only.
    std::map<int, std::shared_ptr<Stream>> streams_;
    std::map<int, std::unique_ptr<IntercomDecoder>> intercom_;
    std::unique_ptr<WavWriter> wav_;
    // With --loop: the stored pictures (decode order, whole key-frame groups), their loop's
    // length in seconds, and the stored sound packets.
    std::vector<EncodedPicture> loopPictures_;
    int64_t loopFrames_ = 0;
    std::vector<Bytes> loopAudio_;
    Ticker videoTicker_;
    Ticker audioTicker_;
};

}  // namespace vistamo::camera
