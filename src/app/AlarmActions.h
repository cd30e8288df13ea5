#pragma once

#include <functional>
#include <memory>
#include <string>

#include "settings/OptionData.h"
#include "workspace/Workspace.h"

namespace vistamo {

// What one alarm pass works with. Every callback runs on the main thread, during the pass.
struct AlarmPassContext {
    // The desktop services; kept alive by the delayed activation and termination calls.
    std::shared_ptr<Workspace> workspace;
    // The current alarm options, asked afresh for every running application.
    std::function<AlarmOptions()> options;
    // Brings the viewer's main window to the front as the key window.
    std::function<void()> bringMainWindowToFront;
    // Activates the viewer itself, ahead of other applications.
    std::function<void()> activateViewer;
};

// The desktop actions of one motion alarm (AlarmDispatcher plays the sound). Main thread. For
// each running application, in the workspace's order, with the options read afresh:
//  1. with bEnableRun, the application named by runProgram is launched (launchNameFor, its
//     ".app" removed) - once per pass, at the first application, not once per application:
//     on this desktop every launch starts a new process;
//  2. with bEnableTerminate, an application whose name equals terminateProgram (whole name,
//     any case) is force-terminated, then asked to terminate (terminateApplication);
//  3. with bEnableActive, an application whose name equals activeProgram the same way is
//     brought forward (scheduleActivation).
// With no running application listed, step 1 still runs once.
// Refused requests are ignored.
void runAlarmPass(const AlarmPassContext& context);

// The name runProgram launches: runProgram without a final ".app" (any case), followed by
// ".app" in lower case. "Editor", "Editor.APP" and "Editor.app" all give "Editor.app".
std::string launchNameFor(const std::string& runProgram);

// The plain name handed to the workspace: launchNameFor's result without its ".app".
std::string launchedApplicationName(const std::string& runProgram);

// Whether a running application's name matches a program name of the options: the whole
// text, without regard to ASCII case. An empty program name matches nothing.
bool applicationNameMatches(const std::string& localizedName, const std::string& program);

// Brings `app` forward: the viewer's main window to the front, the viewer activated, and
// 0.01 s later on the main queue activateApplication. Main thread.
void scheduleActivation(const AlarmPassContext& context, const RunningApplication& app);

// Activates `app` with all its windows; the result is ignored.
void activateApplication(Workspace& workspace, const RunningApplication& app);

// Calls terminateApplication for `app` 0.1 s later on the main queue.
void forceTerminateApplication(const std::shared_ptr<Workspace>& workspace,
                               const RunningApplication& app);

// Force-terminates `app`, then asks it to terminate; both results are ignored.
void terminateApplication(Workspace& workspace, const RunningApplication& app);

}  // namespace vistamo
