#include "video/SessionPartsFactory.h"

#include "media/MixerSound.h"
#include "media/ZH264Decoder.h"
#include "media/opusCodec.h"
#include "platform/Log.h"
#include "platform/Resources.h"
#include "video/QtSessionDialogs.h"

namespace vistamo {

SessionParts makeSessionParts(DialogRunner runner) {
    SessionParts parts;
    parts.makeDecoder = [] { return std::make_shared<ZH264Decoder>(); };
    parts.makeCodec = [] { return std::make_shared<opusCodec>(); };
    parts.makeAlarmPlayer = []() -> std::shared_ptr<SoundPlayer> {
        auto sound = loadSound(resourcePath("alarm.mp3"));
        if (!sound) {
            logLine("the alarm sound alarm.mp3 could not be loaded; alarms stay silent");
        }
        return sound;
    };
    parts.dialogs = std::make_shared<QtSessionDialogs>(std::move(runner));
    return parts;
}

}  // namespace vistamo
