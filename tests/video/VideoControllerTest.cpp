// The video view controller and the camera window without a camera: the tap-focus geometry and
// the titles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "discovery/CameraRecord.h"
#include "session/CameraSession.h"
#include "support/qt/QtWait.h"
#include "video/CameraViewController.h"
#include "video/CameraWindow.h"
#include "video/TestVideoScanner.h"
#include "video/VideoView.h"

namespace vistamo {
namespace {

using test::TestVideoScanner;
using test::waitProcessingEvents;

void expectFocus(QSizeF bounds, double ratio, QPointF point, double x, double y) {
    const auto focus = CameraViewController::focusPoint(bounds, ratio, point);
    ASSERT_TRUE(focus) << point.x() << "," << point.y();
    EXPECT_DOUBLE_EQ(focus->x, x);
    EXPECT_DOUBLE_EQ(focus->y, y);
}

TEST(CameraViewControllerTest, FocusPointIsRelativeToTheVideoNotTheView) {
    // 16:9 video letterboxed in a square view (points, origin at the bottom left): the video
    // is 225 high, from y = 87.5 to 312.5.
    const QSizeF square(400, 400);
    expectFocus(square, 16.0 / 9, QPointF(200, 200), 0.5, 0.5);
    expectFocus(square, 16.0 / 9, QPointF(100, 312.5 - 225.0 / 4), 0.25, 0.25);
    // Pillarboxed: 4:3 in a wide view, the video from x = 180 to 620.
    expectFocus(QSizeF(800, 330), 4.0 / 3, QPointF(180 + 440 * 0.75, 330 * 0.75), 0.75, 0.25);

    // The bands, the video's very edges, and no ratio yet: no focus.
    EXPECT_FALSE(CameraViewController::focusPoint(square, 16.0 / 9, QPointF(200, 50)));
    EXPECT_FALSE(CameraViewController::focusPoint(square, 16.0 / 9, QPointF(200, 87.5)));
    EXPECT_FALSE(CameraViewController::focusPoint(square, 16.0 / 9, QPointF(0, 200)));
    EXPECT_FALSE(CameraViewController::focusPoint(square, 0, QPointF(200, 200)));
    EXPECT_FALSE(CameraViewController::focusPoint(square, std::numeric_limits<double>::infinity(),
                                                  QPointF(200, 200)));
    EXPECT_FALSE(CameraViewController::focusPoint(QSizeF(0, 0), 1.0, QPointF(0, 0)));
}

// The camera's name in the title is checked with a camera, in CameraWindowTest. A window opened
// by address, on a session that never connects, names the address of its own session, or
// without one the scanner's.
TEST(videoWindowTest, TitleNamesTheAddressOfItsOwnSession) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);  // the controller's microphone, without a sound card
    auto scanner = std::make_shared<TestVideoScanner>();
    scanner->lastAddress = "192.0.2.99";
    SessionParts parts;
    parts.hasLocalAddress = [] { return false; };  // no socket: nothing goes anywhere
    auto session = CameraSession::init(parts);
    session->setIp("192.0.2.7");
    auto window = CameraWindow::create(session, scanner);
    scanner->videoWindowList.push_back(window);
    window->showWindow();
    window->setTitle();
    EXPECT_EQ(window->windowTitle(), "Video From 192.0.2.7");

    window->detach();
    window->setTitle();
    EXPECT_EQ(window->windowTitle(), "Video From 192.0.2.99");

    std::weak_ptr<CameraWindow> released = window;
    std::weak_ptr<CameraSession> releasedSession = session;
    window->close();
    window.reset();
    session.reset();
    EXPECT_TRUE(
        waitProcessingEvents([&] { return released.expired() && releasedSession.expired(); }));
}

// A window dropped with its session still attached (no close first) unlinks it and lets it go,
// the view controller after it: nothing keeps either alive.
TEST(videoWindowTest, DroppedWithItsSessionAttachedLetsBothGo) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    SessionParts parts;
    parts.hasLocalAddress = [] { return false; };
    auto session = CameraSession::init(parts);
    auto window = CameraWindow::create(session);
    ASSERT_EQ(window->viewController()->session(), session);
    const std::weak_ptr<CameraViewController> content = window->viewController();
    const std::weak_ptr<CameraSession> released = session;
    session.reset();
    window.reset();
    EXPECT_TRUE(waitProcessingEvents([&] { return released.expired() && content.expired(); }));
}

}  // namespace
}  // namespace vistamo
