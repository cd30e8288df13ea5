// The main of the window tests: a QApplication on this thread with the main queue on its event
// loop, then every test. Tests wait with `waitProcessingEvents` so that queued calls and
// synchronous calls from other threads reach the main thread meanwhile.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>

#include "dispatch/MainQueue.h"
#include "video/QtMainQueue.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        // Listing the tests (the build does it) needs no display.
        return RUN_ALL_TESTS();
    }
#ifdef VISTAMO_GL_DRIVER
    // Mesa's software driver is unloaded at exit before LeakSanitizer looks, which makes the
    // driver's own allocations look lost; pinned, they stay reachable.
    ::dlopen(VISTAMO_GL_DRIVER, RTLD_NOW | RTLD_NODELETE);
#endif
    QApplication app(argc, argv);
    vistamo::dispatch::setMainQueue(vistamo::QtMainQueue::create());
    return RUN_ALL_TESTS();
}
