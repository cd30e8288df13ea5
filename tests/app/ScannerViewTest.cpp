// The scanner's view as discovery and the user meet it, without a network: where camera buttons
// and the status line go, and what becomes of a button discovery takes away.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <string>

#include "app/QtDeviceButton.h"
#include "app/ScannerController.h"
#include "app/ScannerDiscoveryHost.h"
#include "support/TempHome.h"

namespace vistamo {
namespace {

// A scanner and its view, 640 x 480 on the screen.
class ScannerViewTest : public test::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        scanner = ScannerController::create();
        view.reset(scanner->makeView());
        view->resize(640, 480);
        view->show();
    }
    void TearDown() override {
        view.reset();
        scanner.reset();
        TempHomeTest::TearDown();
    }

    std::shared_ptr<ScannerController> scanner;
    std::unique_ptr<QWidget> view;
};

TEST_F(ScannerViewTest, ButtonsAndStatusLineArePlacedFromTheBottomLeftAndStayInsideTheView) {
    // 20 points in from the left, right and bottom edges, 40 high.
    const auto* status = view->findChild<QLabel*>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->geometry(), QRect(20, 480 - 20 - 40, 600, 40));
    ScannerDiscoveryHost& host = scanner->discoveryHost();
    host.setInfomationLink("Looking");
    EXPECT_TRUE(status->text().contains(QString::fromUtf8(kProductWebPage)));
    EXPECT_TRUE(status->openExternalLinks());
    host.setInfomationText("a < b");
    EXPECT_EQ(status->text(), QStringLiteral("a < b"));
    EXPECT_EQ(status->textFormat(), Qt::PlainText);

    DeviceButtonSpec spec;
    spec.x = 30;
    spec.y = 10;
    spec.title = "Kitchen";
    spec.tag = 4;
    std::shared_ptr<DeviceButton> low = host.makeButton(spec);
    ASSERT_NE(low, nullptr);
    const QToolButton* lowWidget = scanner->deviceButtons().front()->widget();
    EXPECT_EQ(lowWidget->geometry(), QRect(30, 480 - 10 - 60, 120, 60));
    EXPECT_EQ(lowWidget->text(), QStringLiteral("Kitchen"));

    // A place near the far edges is moved in until the whole button fits.
    spec.x = 640 - 66;
    spec.y = 480 - 66;
    host.makeButton(spec);
    EXPECT_EQ(scanner->deviceButtons().back()->widget()->geometry(), QRect(520, 6, 120, 60));

    // The view keeps each button's distance from its bottom edge as it grows.
    view->resize(800, 600);
    EXPECT_EQ(lowWidget->geometry(), QRect(30, 600 - 10 - 60, 120, 60));
    EXPECT_EQ(status->geometry(), QRect(20, 600 - 20 - 40, 760, 40));

    // Discovery hiding a button, then taking it off the view for good.
    low->setButtonHidden(true);
    low->remove();
    EXPECT_EQ(scanner->deviceButtons().size(), 1u);
    EXPECT_TRUE(low->isHidden());
    // Discovery holds its buttons weakly; with the view's reference gone, so is the widget.
    std::weak_ptr<DeviceButton> gone = low;
    low.reset();
    EXPECT_TRUE(gone.expired());
    // Deleted later: the removal may come from the button's own click.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view->findChildren<QToolButton*>().size(), 3u)
        << "the two dialog controls and the other camera button stay";
}

// Discovery asks only for a camera's button and a status: the place, the look and the words
// are the scanner window's.
TEST_F(ScannerViewTest, DiscoveryGetsButtonsAtRandomPlacesInsideTheViewAndStatusWordsFromIt) {
    DiscoveryHost& host = scanner->discoveryHost();
    for (int i = 0; i < 50; ++i) {
        const auto button = host.makeDeviceButton("Cam " + std::to_string(i), i);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->tag(), i);
        const QToolButton* widget = scanner->deviceButtons().back()->widget();
        EXPECT_EQ(widget->text(), QString::fromStdString("Cam " + std::to_string(i)));
        // From 5 points in at the left and the bottom; whole inside the view.
        EXPECT_GE(widget->x(), 5);
        EXPECT_LE(widget->geometry().bottom() + 1, 480 - 5);
        EXPECT_TRUE(QRect(0, 0, 640, 480).contains(widget->geometry())) << i;
    }

    const auto* status = view->findChild<QLabel*>();
    ASSERT_NE(status, nullptr);
    host.showStatus(DiscoveryStatus::CamerasFound);
    EXPECT_EQ(status->text(), QString::fromUtf8(ScannerDiscoveryHost::kConnectToCameraText));
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    host.showStatus(DiscoveryStatus::Searching);
    EXPECT_TRUE(status->text().contains(
        QString::fromUtf8(ScannerDiscoveryHost::kScanningCameraText).toHtmlEscaped()));
    EXPECT_TRUE(status->text().contains(QString::fromUtf8(kProductWebPage)));
}

TEST_F(ScannerViewTest, RandomOriginsKeepAButtonsReachInsideAnyExtent) {
    ScannerDiscoveryHost host(nullptr, {});
    // Too small for a button, empty, or not a length at all: at the margin.
    for (const double extent : {0.0, -3.0, 70.0, 71.0, std::nan("")}) {
        EXPECT_EQ(host.randomOrigin(extent), 5) << extent;
    }
    int lowest = 1000;
    int highest = 0;
    for (int i = 0; i < 2000; ++i) {
        const int origin = host.randomOrigin(200.9);  // truncated to 200
        lowest = std::min(lowest, origin);
        highest = std::max(highest, origin);
    }
    EXPECT_EQ(lowest, 5);
    EXPECT_EQ(highest, 200 - 66);
    // An endless extent is cut, not overflowed.
    EXPECT_GE(host.randomOrigin(HUGE_VAL), 5);
    // Without a view there is nowhere to put a button.
    EXPECT_EQ(host.makeDeviceButton("Nowhere", 0), nullptr);
}

}  // namespace
}  // namespace vistamo
