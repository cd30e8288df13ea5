#pragma once

#include <string>
#include <vector>

#include "platform/SoundPlayer.h"
#include "workspace/Workspace.h"

namespace vistamo::test {

// Records every request, in order, as one line of text.
class RecordingWorkspace : public Workspace {
public:
    std::vector<RunningApplication> running;
    std::vector<std::string> calls;

    std::vector<RunningApplication> runningApplications() override { return running; }
    bool launchApplication(const std::string& name) override {
        calls.push_back("launch " + name);
        return true;
    }
    bool activate(const RunningApplication& app) override { return record("activate", app); }
    bool forceTerminate(const RunningApplication& app) override { return record("force", app); }
    bool terminate(const RunningApplication& app) override { return record("terminate", app); }

private:
    bool record(const char* what, const RunningApplication& app) {
        calls.push_back(std::string(what) + " " + std::to_string(app.processIdentifier));
        return true;
    }
};

// A sound that plays until told it has ended; counts the requests to play. Main thread.
class FakeSound : public SoundPlayer {
public:
    void play() override {
        ++requests;
        playing = true;
    }
    bool isPlaying() const override { return playing; }

    bool playing = false;
    int requests = 0;
};

}  // namespace vistamo::test
