#include "app/AlarmActions.h"

#include "dispatch/MainQueue.h"
#include "platform/Ascii.h"

namespace vistamo {

namespace {

constexpr const char* kAppSuffix = ".app";
constexpr size_t kAppSuffixLength = 4;
constexpr double kActivateDelaySeconds = 0.01;
constexpr double kTerminateDelaySeconds = 0.1;

std::string withoutAppSuffix(const std::string& name) {
    if (name.size() >= kAppSuffixLength &&
        equalsIgnoringAsciiCase(std::string_view(name).substr(name.size() - kAppSuffixLength),
                                kAppSuffix)) {
        return name.substr(0, name.size() - kAppSuffixLength);
    }
    return name;
}

}  // namespace

std::string launchNameFor(const std::string& runProgram) {
    return withoutAppSuffix(runProgram) + kAppSuffix;
}

std::string launchedApplicationName(const std::string& runProgram) {
    return withoutAppSuffix(launchNameFor(runProgram));
}

bool applicationNameMatches(const std::string& localizedName, const std::string& program) {
    return !program.empty() && equalsIgnoringAsciiCase(localizedName, program);
}

void runAlarmPass(const AlarmPassContext& context) {
    if (!context.workspace || !context.options) {
        return;
    }
    Workspace& workspace = *context.workspace;
    bool launched = false;
    auto launchOnce = [&](const AlarmOptions& options) {
        if (options.bEnableRun && !launched) {
            launched = true;
            workspace.launchApplication(launchedApplicationName(options.runProgram));
        }
    };

    const auto applications = workspace.runningApplications();
    if (applications.empty()) {
        launchOnce(context.options());
        return;
    }
    for (const RunningApplication& app : applications) {
        // Read afresh for every application, as the actions before may have changed them.
        const AlarmOptions options = context.options();
        launchOnce(options);
        if (options.bEnableTerminate &&
            applicationNameMatches(app.localizedName, options.terminateProgram)) {
            terminateApplication(workspace, app);
        }
        if (options.bEnableActive &&
            applicationNameMatches(app.localizedName, options.activeProgram)) {
            scheduleActivation(context, app);
        }
    }
}

void scheduleActivation(const AlarmPassContext& context, const RunningApplication& app) {
    if (context.bringMainWindowToFront) {
        context.bringMainWindowToFront();
    }
    if (context.activateViewer) {
        context.activateViewer();
    }
    if (!context.workspace) {
        return;
    }
    dispatch::mainQueue().after(kActivateDelaySeconds, [workspace = context.workspace, app] {
        activateApplication(*workspace, app);
    });
}

void activateApplication(Workspace& workspace, const RunningApplication& app) {
    workspace.activate(app);
}

void forceTerminateApplication(const std::shared_ptr<Workspace>& workspace,
                               const RunningApplication& app) {
    if (!workspace) {
        return;
    }
    dispatch::mainQueue().after(kTerminateDelaySeconds,
                                [workspace, app] { terminateApplication(*workspace, app); });
}

void terminateApplication(Workspace& workspace, const RunningApplication& app) {
    workspace.forceTerminate(app);
    workspace.terminate(app);
}

}  // namespace vistamo
