#include "video/SessionPartsFactory.h"

#include "dispatch/MainQueue.h"
#include "media/ClipRecorder.h"
#include "media/H264Decoder.h"
#include "media/MixerSound.h"
#include "media/OpusCodec.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "video/QtSessionDialogs.h"

namespace vistamo {

namespace {

// The main queue as a queue object of its own, for parts that keep the queue they call back on.
class MainQueueRef final : public dispatch::Queue {
public:
    void async(dispatch::Work work) override { dispatch::mainQueue().async(std::move(work)); }
    void sync(dispatch::Work work) override { dispatch::mainQueue().sync(std::move(work)); }
    void after(double seconds, dispatch::Work work) override {
        dispatch::mainQueue().after(seconds, std::move(work));
    }
    bool isCurrent() const override { return dispatch::mainQueue().isCurrent(); }
    const std::string& label() const override { return dispatch::mainQueue().label(); }
};

}  // namespace

SessionParts makeSessionParts(DialogRunner runner) {
    SessionParts parts;
    parts.makeDecoder = [] { return std::make_shared<H264Decoder>(); };
    parts.makeCodec = [] { return std::make_shared<OpusCodec>(); };
    parts.makeAlarmPlayer = []() -> std::shared_ptr<SoundPlayer> {
        auto sound = loadSound(resourcePath("alarm.mp3"));
        if (!sound) {
            logLine("the alarm sound alarm.mp3 could not be loaded; alarms stay silent");
        }
        return sound;
    };
    parts.dialogs = std::make_shared<QtSessionDialogs>(std::move(runner));
    parts.makeRecorder = [](RecorderSetup setup) -> std::shared_ptr<SessionRecorder> {
        ClipRecorder::Options options;
        options.cameraName = std::move(setup.cameraName);
        options.secondsBefore = setup.secondsBefore;
        options.secondsAfter = setup.secondsAfter;
        options.callbackQueue = std::make_shared<MainQueueRef>();
        options.onNotice = std::move(setup.onNotice);
        options.onFinished = std::move(setup.onFinished);
        return std::make_shared<ClipRecorder>(std::move(options));
    };
    return parts;
}

}  // namespace vistamo
