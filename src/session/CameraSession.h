#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dispatch/SerialQueue.h"
#include "media/OpusPacketSink.h"
#include "media/PictureSink.h"
#include "media/SessionRecorder.h"
#include "media/SoundSink.h"
#include "media/StreamSink.h"
#include "session/CommandHeader.h"
#include "session/SessionParts.h"
#include "session/SessionScanner.h"
#include "session/SessionView.h"
#include "session/TcpStream.h"
#include "session/TcpStreamDelegate.h"
#include "settings/ClipSettings.h"

namespace vistamo {

class CameraRecord;
class SessionChallenge;

// Write tags of the session's messages.
inline constexpr long kTagCommand = 0;
inline constexpr long kTagOpus = 88;
inline constexpr long kTagSendCommand = 89;
inline constexpr long kTagDisconnect = 200;

inline constexpr uint16_t kDefaultCameraPort = 7341;
inline constexpr double kConnectTimeoutSeconds = 3.0;
// A camera whose challenge fails its check is answered and left after this long.
inline constexpr double kBadChallengeCloseSeconds = 5.0;

// One TCP session with one camera: connects, answers the camera's challenge and sends its own,
// reads the message stream and hands video, sound and state on, reports alarms to its scanner
// (which decides what they do), and sends the user's commands.
//
// Threads:
// - The socket reads the camera's messages on its own queue and hands each whole one to
//   `clientQueue` ("Client Queue"), where the session dispatches it; socket callbacks and all
//   message handling run there. The socket reads on meanwhile, except after a password error:
//   it waits until the session has the user's answer.
// - Commands may be sent from any thread (the socket keeps them in call order).
// - The password alert and storing an accepted password run on the main queue while
//   `clientQueue` waits (the user answers them); the connect-error alert, status display and
//   window closing run on the main queue without waiting. Video never makes `clientQueue`
//   wait.
// - Decoded pictures go from the decoder straight to its picture sinks, never through the
//   session.
class CameraSession final : public TcpStreamDelegate,
                            public OpusPacketSink,
                            public std::enable_shared_from_this<CameraSession> {
public:
    // Creates the queue, the socket (when this computer has a local address), the decoder
    // (started), the alarm sound and the codec (playing).
    static std::shared_ptr<CameraSession> init(SessionParts parts);
    ~CameraSession() override;

    // Links to neighbours, any thread: the scanner sets its own when it makes the session; the
    // camera window sets its view when it attaches the session and clears it when it detaches
    // it.
    void setScanner(std::weak_ptr<SessionScanner> scanner);
    void setView(std::weak_ptr<SessionView> view);
    // Where the camera's decoded pictures go (a window's renderer, and any other reader of the
    // picture); handed to the decoder, which calls them on its own thread. Any thread.
    void addPictureSink(std::weak_ptr<PictureSink> sink);
    void removePictureSink(const PictureSink* sink);
    // Readers of the camera's stream as received (a publisher to a media server), beside the
    // recorder; called on `clientQueue` as each message is handled. Any thread; the change
    // takes effect on `clientQueue`, where a sink added after the stream began is handed the
    // last parameter sets at once. A sink that is gone is dropped.
    void addStreamSink(std::weak_ptr<StreamSink> sink);
    void removeStreamSink(const StreamSink* sink);
    // Where the camera's decoded sound goes besides the player; handed to the codec, which
    // calls them on `clientQueue`. Nothing once the connection has ended (the codec is gone).
    // Any thread.
    void addSoundSink(std::weak_ptr<SoundSink> sink);
    void removeSoundSink(const SoundSink* sink);
    void setIp(std::string ip);
    std::string ip() const;
    // The camera's name for people and thread names: the name discovery found, else its
    // address, else "camera". Any thread.
    std::string cameraName() const;
    // The camera's identity for its settings (WindowPlaces::identityFor): its UUID when
    // discovery found it, else its address; none without either. Any thread.
    std::optional<std::string> cameraIdentity() const;

    // The connection itself, for tests that watch it; a window ends it through `disconnect`.
    std::shared_ptr<TcpStream> socket() const { return socket_; }
    std::shared_ptr<SessionAudioCodec> audioCodec() const;
    const std::shared_ptr<dispatch::SerialQueue>& clientQueue() const { return clientQueue_; }

    // Connects to a typed address, port 7341. A failure to connect shows the connect-error
    // alert unless `reportFailure` is false (a window connecting again).
    // Both return false when the attempt could not even start (no socket, no address): then no
    // end is reported either.
    bool connectToServer(const std::string& ip, bool reportFailure = true);
    // Connects to a discovered camera (its address, the low 16 bits of its port). `sender` is
    // the clicked button; unused.
    bool connectToServer(const void* sender, const std::shared_ptr<CameraRecord>& device);
    // How `disconnect` ends the connection: CmdDisconnect first, or none, so that the camera
    // sees the connection end without a message (a window's close button does this).
    enum class Farewell { Send, Omit };
    // Closes the connection, after CmdDisconnect unless `farewell` is Omit.
    void disconnect(Farewell farewell = Farewell::Send);

    // Commands.
    void sendCommandTCP(uint32_t command, uint32_t details);
    void requestCameraInfo();
    void flashSwitch();
    void screenSwitch();
    void switchCamera();
    // The user's motion guard switch: tells the scanner that a new guard period begins, then
    // sends the command.
    void startMonitor(bool start);
    // Switches the camera's motion guard off for the scanner's alarm policy: the same command as
    // startMonitor(false), without the report. Any thread.
    void switchGuardOff();
    void sendTapFocus(double x, double y);
    void sendOpus(ByteView packet);

    // Raises the scanner's snapshot number (wrapping at 10000) and asks the decoder for a
    // snapshot with it. Main thread.
    void takePicture();

    // The decoder's statistics and how full the sound's playback ring is (negative without
    // sound). Any thread.
    DecoderStatistics videoStatistics() const;
    double playbackFill() const;

    // Recording, from any thread; the work runs on `clientQueue`. `toggleRecording` starts or
    // stops recording the camera (R in its window); `setClipSettings` changes what a motion
    // alarm records. `recorder` is none until the camera's stream has begun.
    void toggleRecording();
    void stopRecording();
    void setClipSettings(const ClipSettings& settings);
    std::shared_ptr<const SessionRecorder> recorder() const;
    // Motion: begins an alarm clip, or extends the running one, when the recorder is there
    // (made at the stream's first parameters). On `clientQueue` only: the scanner calls it
    // while it handles the session's alarm, so the clip starts at that point of the stream.
    void startAlarmClip();
    // What a motion alarm records, as this session last loaded or was handed it; none before
    // either. On `clientQueue` only.
    const std::optional<ClipSettings>& clipSettings() const { return clipSettings_; }

    // The alarm sound, or none; for the scanner's alarm policy, which plays it on the main
    // thread. Set once in `init`.
    const std::shared_ptr<SoundPlayer>& alarmSound() const { return player; }

    // The password typed for a camera reached by a typed address, kept for a later session to
    // the same address. Any thread.
    std::string typedPassword() const;
    void setTypedPassword(std::string password);

    // The machine's identity sent in the client's challenge.
    std::string machineIdentity() const;

    // State reported by the camera; read on `clientQueue` (tests read it after the queue has
    // handled the status).
    bool bScreen() const { return bScreen_; }
    bool bFlashing() const { return bFlashing_; }
    bool bGuarding() const { return bGuarding_; }

    // TcpStreamDelegate, on `clientQueue`.
    void streamConnected(const std::shared_ptr<TcpStream>& sock, const std::string& host,
                         uint16_t port) override;
    // Once streaming, from the connection's second message on, a camera silent for
    // `parts.streamSilenceSeconds` ends the connection (the socket's read silence limit).
    void streamMessage(const std::shared_ptr<TcpStream>& sock, const CommandHeader& header,
                       Bytes body) override;
    void streamClosed(const std::shared_ptr<TcpStream>& sock,
                      const std::optional<Error>& error) override;

    // Answers the camera's challenge held in the user data's buffer; sends the client's own.
    // On `clientQueue`.
    void verifyServer(const std::shared_ptr<TcpStream>& sock);
    void sendChallenge(const std::shared_ptr<TcpStream>& sock);

    // Hands one whole message of the camera's stream on: video to the decoder, sound to the
    // codec, both to the recorder; answers challenges; state and alarms onward. `client` holds
    // the challenge exchange's state. On `clientQueue` (streamMessage runs it); `sock` may be
    // none (the stream fuzzers drive it directly).
    void handleMessage(const std::shared_ptr<TcpStream>& sock, SessionChallenge& client,
                       const CommandHeader& header, ByteView body);

private:
    explicit CameraSession(SessionParts parts);
    void setUp();

    void send(Bytes message, long tag);
    void answerChallenge(SessionChallenge& client);
    void handleAlarm();
    void handlePasswordError();
    void handleCameraStatus(const CommandHeader& header);
    void handleVerified();
    // Hands a message's body to the recorder (made at the first stream parameters) and the
    // stream sinks.
    void record(const CommandHeader& header, ByteView body);
    // The recorder and the live stream sinks, for one message.
    std::vector<std::shared_ptr<StreamSink>> streamReaders();
    SessionRecorder* makeRecorder();

    std::shared_ptr<CameraRecord> selectedDevice() const;
    std::shared_ptr<SessionScanner> scanner() const;
    std::shared_ptr<SessionView> attachedView() const;

    // Set once in `init`, then read-only.
    SessionParts parts_;
    std::shared_ptr<dispatch::SerialQueue> clientQueue_;
    std::shared_ptr<TcpStream> socket_;
    std::shared_ptr<SessionDecoder> decoder_;
    std::shared_ptr<SoundPlayer> player;

    // Links to neighbours, set from other threads: guarded by `linksLock_`.
    mutable std::mutex linksLock_;
    std::shared_ptr<SessionAudioCodec> audioCodec_;  // released when the connection ends
    std::weak_ptr<SessionView> view_;
    std::weak_ptr<SessionScanner> scanner_;
    std::weak_ptr<CameraRecord> selectedDevice_;
    std::string ip_;
    // The password typed for a camera reached by a typed address (it has no record).
    std::string typedPassword_;

    // Set on the caller's thread when connecting, cleared on `clientQueue`.
    std::atomic<bool> typedAddress_{false};

    // Written on `clientQueue` only; atomic so that others may read the last reported state.
    std::atomic<bool> bScreen_{false};
    std::atomic<bool> bFlashing_{false};
    std::atomic<bool> bGuarding_{false};

    // Written on `clientQueue` under `linksLock_`; read there without it, elsewhere with it.
    std::shared_ptr<SessionRecorder> recorder_;

    // `clientQueue` only.
    // The socket's user data as this session last set it.
    std::shared_ptr<SessionChallenge> client_;
    bool bRequested = false;
    // The socket has this connection's read silence limit.
    bool silenceLimitSet_ = false;
    // The stream's readers beside the recorder, and the last parameter sets (with their
    // prefixes) for one added later.
    std::vector<std::weak_ptr<StreamSink>> streamSinks_;
    Bytes lastSps_;
    Bytes lastPps_;
    // What an alarm records, once loaded; the first slice of a picture sent in two.
    std::optional<ClipSettings> clipSettings_;
    Bytes heldSlice_;
    bool bNewPassword = false;
    // The camera verified this session; the user cancelled the password dialog.
    bool verified_ = false;
    bool passwordRefused_ = false;
};

}  // namespace vistamo
