#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "support/Wait.h"

namespace vistamo::test {

// waitUntil with the Qt event loop running meanwhile, so that queued calls and calls from other
// threads reach the main thread.
inline bool waitProcessingEvents(const std::function<bool()>& done,
                                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return done();
        },
        limit);
}

}  // namespace vistamo::test
