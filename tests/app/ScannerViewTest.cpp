// The scanner's view as discovery and the user meet it, without a network: where camera buttons
// and the status line go, and what discovery's reports about a camera do to its button.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "app/QtDeviceButton.h"
#include "app/ScannerController.h"
#include "app/ScannerDiscoveryHost.h"
#include "discovery/CameraRecord.h"
#include "settings/PasswordStore.h"
#include "support/TempHome.h"

namespace vistamo {
namespace {

std::shared_ptr<CameraRecord> camera(const std::string& name, const std::string& uuid = {}) {
    auto record = std::make_shared<CameraRecord>();
    record->setName(name);
    if (!uuid.empty()) {
        record->setUuid(uuid);
    }
    return record;
}

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
    const auto kitchen = camera("Kitchen");
    ASSERT_NE(host.makeButton(spec, kitchen), nullptr);
    const QToolButton* lowWidget = scanner->deviceButtons().front()->widget();
    EXPECT_EQ(lowWidget->geometry(), QRect(30, 480 - 10 - 60, 120, 60));
    EXPECT_EQ(lowWidget->text(), QStringLiteral("Kitchen"));

    // A place near the far edges is moved in until the whole button fits.
    spec.x = 640 - 66;
    spec.y = 480 - 66;
    host.makeButton(spec, camera("Hall"));
    EXPECT_EQ(scanner->deviceButtons().back()->widget()->geometry(), QRect(520, 6, 120, 60));

    // The view keeps each button's distance from its bottom edge as it grows.
    view->resize(800, 600);
    EXPECT_EQ(lowWidget->geometry(), QRect(30, 600 - 10 - 60, 120, 60));
    EXPECT_EQ(status->geometry(), QRect(20, 600 - 20 - 40, 760, 40));
}

// Discovery tells what happened to a camera; the button, its place and look, and the status
// line's words are the scanner window's.
TEST_F(ScannerViewTest, ReportsAboutACameraMakeHideShowAndRemoveItsButton) {
    std::filesystem::create_directories(home_ / ".config" / "vistamo+");
    scanner->config()->appendUUID("porch-uuid", "secret");
    DiscoveryHost& host = scanner->discoveryHost();
    std::vector<std::shared_ptr<CameraRecord>> cameras;
    for (int i = 0; i < 50; ++i) {
        cameras.push_back(camera("Cam " + std::to_string(i)));
        host.cameraAdded(cameras.back());
        const QToolButton* widget = scanner->deviceButtons().back()->widget();
        EXPECT_EQ(widget->text(), QString::fromStdString("Cam " + std::to_string(i)));
        // From 5 points in at the left and the bottom; whole inside the view.
        EXPECT_GE(widget->x(), 5);
        EXPECT_LE(widget->geometry().bottom() + 1, 480 - 5);
        EXPECT_TRUE(QRect(0, 0, 640, 480).contains(widget->geometry())) << i;
    }
    // A camera the store knows gets its accepted password.
    const auto porch = camera("Porch", "porch-uuid");
    host.cameraAdded(porch);
    EXPECT_EQ(porch->password(), "secret");
    EXPECT_EQ(cameras[0]->password(), std::nullopt);

    auto button = scanner->discoveryHost().buttonOf(porch);
    ASSERT_NE(button, nullptr);
    host.cameraGone(porch);
    EXPECT_TRUE(button->isHidden());
    // Back under a new name: the same button shows again with the name it was made with.
    porch->setName("Porch two");
    host.cameraChanged(porch);
    EXPECT_FALSE(button->isHidden());
    EXPECT_EQ(button->widget()->text(), QStringLiteral("Porch"));
    EXPECT_EQ(scanner->deviceButtons().size(), 51u);

    const std::weak_ptr<QtDeviceButton> gone = button;
    button.reset();
    host.cameraRemoved(porch);
    host.cameraRemoved(cameras[0]);
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(scanner->deviceButtons().size(), 49u);
    EXPECT_EQ(scanner->discoveryHost().buttonOf(cameras[0]), nullptr);
    // Deleted later: the removal may come from the button's own click.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view->findChildren<QToolButton*>().size(), 49u + 2u)
        << "the two dialog controls and the other camera buttons stay";

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

    // Without a view there is nowhere to put a button; once there is one, the camera's next
    // report makes it.
    const auto late = camera("Late");
    host.cameraAdded(late);
    EXPECT_TRUE(host.buttons().empty());
    QWidget lateView;
    lateView.resize(320, 240);
    host.attach(&lateView, nullptr);
    host.cameraChanged(late);
    ASSERT_NE(host.buttonOf(late), nullptr);
    EXPECT_EQ(host.buttonOf(late)->widget()->text(), QStringLiteral("Late"));
}

}  // namespace
}  // namespace vistamo
