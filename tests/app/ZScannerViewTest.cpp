// The scanner's view as discovery and the user meet it, without a network: where camera buttons
// and the status line go, and what becomes of a button discovery takes away.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QToolButton>
#include <QWidget>

#include "app/QtDeviceButton.h"
#include "app/ZScanner.h"
#include "support/TempHome.h"

namespace vistamo {
namespace {

class ZScannerViewTest : public test::TempHomeTest {};

TEST_F(ZScannerViewTest, ButtonsAndStatusLineArePlacedFromTheBottomLeftAndStayInsideTheView) {
    auto scanner = ZScanner::create();
    std::unique_ptr<QWidget> view(scanner->loadView());
    view->resize(640, 480);
    view->show();
    const ViewFrame frame = scanner->viewFrame();
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);

    // 20 points in from the left, right and bottom edges, 40 high.
    const auto* status = view->findChild<QLabel*>();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->geometry(), QRect(20, 480 - 20 - 40, 600, 40));
    scanner->setInfomationLink("Looking");
    EXPECT_TRUE(status->text().contains(QString::fromUtf8(kProductWebPage)));
    EXPECT_TRUE(status->openExternalLinks());
    scanner->setInfomationText("a < b");
    EXPECT_EQ(status->text(), QStringLiteral("a < b"));
    EXPECT_EQ(status->textFormat(), Qt::PlainText);

    DeviceButtonSpec spec;
    spec.x = 30;
    spec.y = 10;
    spec.title = "Kitchen";
    spec.tag = 4;
    auto low = scanner->makeDeviceButton(spec);
    ASSERT_NE(low, nullptr);
    const QToolButton* lowWidget = scanner->deviceButtons().front()->widget();
    EXPECT_EQ(lowWidget->geometry(), QRect(30, 480 - 10 - 60, 120, 60));
    EXPECT_EQ(lowWidget->text(), QStringLiteral("Kitchen"));
    EXPECT_EQ(low->tag(), 4);

    // A place near the far edges is moved in until the whole button fits.
    spec.x = 640 - 66;
    spec.y = 480 - 66;
    scanner->makeDeviceButton(spec);
    EXPECT_EQ(scanner->deviceButtons().back()->widget()->geometry(), QRect(520, 6, 120, 60));

    // The view keeps each button's distance from its bottom edge as it grows.
    view->resize(800, 600);
    EXPECT_EQ(lowWidget->geometry(), QRect(30, 600 - 10 - 60, 120, 60));
    EXPECT_EQ(status->geometry(), QRect(20, 600 - 20 - 40, 760, 40));

    // Discovery hiding a button, then taking it off the view for good.
    low->setHidden(true);
    EXPECT_TRUE(low->isHidden());
    low->removeFromSuperview();
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

}  // namespace
}  // namespace vistamo
