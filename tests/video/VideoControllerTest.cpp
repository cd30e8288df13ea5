// The video view controller and the window controller without a camera: the tap-focus
// geometry, titles, and the bookkeeping of closing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "discovery/ZDeviceInfo.h"
#include "session/clientSocket.h"
#include "support/qt/QtWait.h"
#include "video/TestVideoScanner.h"
#include "video/ZGLVC.h"
#include "video/ZGLView.h"
#include "video/ZVideo.h"
#include "video/ZVideoWindow.h"
#include "video/videoWindow.h"

namespace vistamo {
namespace {

using test::TestVideoScanner;
using test::waitProcessingEvents;

void expectFocus(QSizeF bounds, double ratio, QPointF point, double x, double y) {
    const auto focus = ZGLVC::focusPoint(bounds, ratio, point);
    ASSERT_TRUE(focus) << point.x() << "," << point.y();
    EXPECT_DOUBLE_EQ(focus->x, x);
    EXPECT_DOUBLE_EQ(focus->y, y);
}

TEST(ZGLVCTest, FocusPointIsRelativeToTheVideoNotTheView) {
    // 16:9 video letterboxed in a square view (points, origin at the bottom left): the video
    // is 225 high, from y = 87.5 to 312.5.
    const QSizeF square(400, 400);
    expectFocus(square, 16.0 / 9, QPointF(200, 200), 0.5, 0.5);
    expectFocus(square, 16.0 / 9, QPointF(100, 312.5 - 225.0 / 4), 0.25, 0.25);
    // Pillarboxed: 4:3 in a wide view, the video from x = 180 to 620.
    expectFocus(QSizeF(800, 330), 4.0 / 3, QPointF(180 + 440 * 0.75, 330 * 0.75), 0.75, 0.25);

    // The bands, the video's very edges, and no ratio yet: no focus.
    EXPECT_FALSE(ZGLVC::focusPoint(square, 16.0 / 9, QPointF(200, 50)));
    EXPECT_FALSE(ZGLVC::focusPoint(square, 16.0 / 9, QPointF(200, 87.5)));
    EXPECT_FALSE(ZGLVC::focusPoint(square, 16.0 / 9, QPointF(0, 200)));
    EXPECT_FALSE(ZGLVC::focusPoint(square, 0, QPointF(200, 200)));
    EXPECT_FALSE(
        ZGLVC::focusPoint(square, std::numeric_limits<double>::infinity(), QPointF(200, 200)));
    EXPECT_FALSE(ZGLVC::focusPoint(QSizeF(0, 0), 1.0, QPointF(0, 0)));
}

// A window as the scanner opens it, on a session that never connects.
struct OpenedWindow {
    std::shared_ptr<TestVideoScanner> scanner = std::make_shared<TestVideoScanner>();
    std::shared_ptr<ZDeviceInfo> device;
    std::weak_ptr<clientSocket> session;
    std::weak_ptr<videoWindow> wc;

    explicit OpenedWindow(std::shared_ptr<ZDeviceInfo> record, std::string address = "") {
        // The controller's microphone, without a sound card.
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        device = std::move(record);
        SessionParts parts;
        parts.hasLocalAddress = [] { return false; };  // no socket: nothing goes anywhere
        auto client = clientSocket::init(parts);
        client->setIp(address);
        session = client;
        auto controller = videoWindow::create();
        controller->mScanner = scanner;
        controller->setMClientSocket(client);
        controller->setClient();
        controller->device = device;
        scanner->videoWindowList.push_back(controller);
        controller->number = static_cast<int32_t>(scanner->videoWindowList.size());
        controller->showWindow();
        controller->setSocket();
        wc = controller;
    }
    std::shared_ptr<videoWindow> controller() const { return wc.lock(); }
    bool released() const { return wc.expired() && session.expired(); }
};

TEST(videoWindowTest, TitleNamesTheCameraOrTheAddressOfItsOwnSession) {
    auto record = std::make_shared<ZDeviceInfo>();
    record->setMDeviceName("Garden");
    OpenedWindow byButton(record);
    EXPECT_EQ(byButton.controller()->window()->windowTitle(), "Video FromGarden");
    EXPECT_EQ(byButton.controller()->number, 1);

    // By address, while the scanner's last session by address is another one.
    OpenedWindow byAddress(nullptr, "192.0.2.7");
    byAddress.scanner->lastAddress = "192.0.2.99";
    byAddress.controller()->setTitle();
    EXPECT_EQ(byAddress.controller()->window()->windowTitle(), "Video From192.0.2.7");

    // Without a session of its own, the scanner's address serves.
    byAddress.controller()->setMClientSocket(nullptr);
    byAddress.controller()->setTitle();
    EXPECT_EQ(byAddress.controller()->window()->windowTitle(), "Video From192.0.2.99");

    for (OpenedWindow* opened : {&byButton, &byAddress}) {
        opened->controller()->window()->close();
        EXPECT_TRUE(waitProcessingEvents([&] { return opened->released(); }));
    }
}

TEST(videoWindowTest, ClosingTearsDownOnceAndReleasesAfterTheDelay) {
    auto record = std::make_shared<ZDeviceInfo>();
    record->setBOccupied(true);
    OpenedWindow opened(record);
    opened.scanner->isConnected = true;
    const QPointer<ZVideoWindow> window = opened.controller()->window();
    const std::shared_ptr<ZVideo> video = opened.controller()->glVC.lock()->myVideo();

    // The controller's own close leaves the window up but lets go of everything else.
    opened.controller()->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(video->bClosing());
    EXPECT_FALSE(record->bOccupied());
    EXPECT_FALSE(opened.scanner->isConnected);
    EXPECT_TRUE(opened.scanner->videoWindowList.empty());
    EXPECT_EQ(opened.scanner->scannerShown, 1);
    // Only the pending destroy call keeps the controller now.
    EXPECT_FALSE(opened.wc.expired());
    EXPECT_TRUE(waitProcessingEvents([&] { return opened.released(); }));
    EXPECT_EQ(opened.scanner->destroyCalls, 1);
    EXPECT_TRUE(window.isNull());
}

}  // namespace
}  // namespace vistamo
