#pragma once

#include <QLoggingCategory>

namespace vistamo {

// The logging category "vistamo", whose debug messages are the running commentary (debugLine in
// platform/Log.h). Off by default; on with --verbose or QT_LOGGING_RULES="vistamo.debug=true".
Q_DECLARE_LOGGING_CATEGORY(debugCategory)

// Sends every debugLine into the category, and with `verbose` switches it on. Called once at
// start on the main thread, before other threads run.
void routeDebugLines(bool verbose);

}  // namespace vistamo
