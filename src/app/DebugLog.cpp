#include "app/DebugLog.h"

#include "platform/Log.h"

namespace vistamo {

Q_LOGGING_CATEGORY(debugCategory, "vistamo", QtInfoMsg)

namespace {
// Any thread: Qt's message handler is thread-safe, and the category's check comes first, so a
// line costs nothing more while the category is off.
void toCategory(std::string_view text) {
    qCDebug(debugCategory).noquote()
        << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

void routeDebugLines(bool verbose) {
    if (verbose) {
        // Rules from QT_LOGGING_RULES still come after these and win.
        QLoggingCategory::setFilterRules(QStringLiteral("vistamo.debug=true"));
    }
    setDebugLineSink(&toCategory);
}

}  // namespace vistamo
