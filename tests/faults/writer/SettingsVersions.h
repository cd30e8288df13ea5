#pragma once

// Two versions of every settings file the application writes, written through the
// application's own writers. The settings writer program alternates them until it is killed;
// the durability test writes each once to learn what the files hold.
#include <string>

#include "platform/Bytes.h"
#include "settings/ByteFields.h"
#include "settings/ClipSettings.h"
#include "settings/OptionData.h"
#include "settings/PasswordStore.h"
#include "settings/WindowPlaces.h"

namespace vistamo::test {

// The files in the settings folder that writeSettingsVersion replaces.
inline const char* const kSettingsFiles[] = {
    kOptionsFileName,        "server",     kActiveProgramFileName, kTerminateProgramsFileName,
    WindowPlaces::FILE_NAME, "clips.conf",
};

// Writes version 0 or 1 of every file; false when a writer reports a failure.
inline bool writeSettingsVersion(int version) {
    const bool second = version % 2 == 1;
    bool ok = true;
    // Options of equal length: the options writer keeps an older, longer file's tail.
    AlarmOptions options;
    options.bEnableSound = second;
    options.bEnableActive = !second;
    options.picID = second ? 4321 : 1234;
    options.activeProgram = second ? "Terminal" : "Launcher";
    ok &= saveOptionRecord(setOptionData(options));

    // The camera passwords' store in its own layout; one version much longer than the other.
    const int pairs = second ? 400 : 3;
    Bytes server;
    appendInt(server, pairs);
    for (int pair = 0; pair < pairs; ++pair) {
        appendString(server, "c0ffee" + std::to_string(pair));
        appendString(server, second ? "secret" : "password");
    }
    PasswordStore().save(server);

    ok &= saveActiveProgram(second ? std::string(3000, 'b') : "Terminal");
    ok &= saveTerminatePrograms(second ? "" : std::string(5000, 't'));

    WindowPlaces places;
    for (int camera = 0; camera < (second ? 150 : 2); ++camera) {
        places.setFrame("uuid:" + std::to_string(camera), {camera, 2 * camera, 640, 480});
    }
    ok &= places.save();

    ClipSettings clips;
    clips.recordClip = second;
    clips.secondsAfter = second ? 3600 : 20;
    clips.secondsBefore = second ? 60 : 5;
    ok &= saveClipSettings(clips);
    return ok;
}

}  // namespace vistamo::test
