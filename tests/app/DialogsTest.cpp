// The option dialog and the add-camera dialog against a recording scanner.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/AddCameraDialog.h"
#include "app/OptionsDialog.h"
#include "app/ScannerDialogHost.h"
#include "settings/ClipSettings.h"
#include "settings/OptionData.h"
#include "support/TempHome.h"
#include "support/qt/QtWait.h"

namespace vistamo {
namespace {

using test::waitProcessingEvents;

// Connecting marks the host connected, as the scanner does, so a dialog closed by a successful
// OK leaves the scanner window hidden.
class HostDouble final : public ScannerDialogHost {
public:
    AlarmOptions& alarmOptions() override { return options; }
    void saveOptions() override { saved.push_back(options); }
    bool isConnected() const override { return connected; }
    void showScannerWindow() override { ++scannerShown; }
    bool addNewOne(const std::string& address) override {
        calls.push_back("add " + address);
        return true;
    }
    void connectToAddress(const std::string& address) override {
        calls.push_back("connect " + address);
        connected = true;
    }
    void applyClipSettings(const ClipSettings& settings) override { applied.push_back(settings); }

    AlarmOptions options;
    std::vector<AlarmOptions> saved;
    std::vector<ClipSettings> applied;
    std::vector<std::string> calls;
    bool connected = false;
    int scannerShown = 0;
};

// Saves a grab of a dialog in the build tree's screenshots folder.
void saveScreenshot(QWidget& widget, const char* name) {
    std::filesystem::create_directories(VISTAMO_SCREENSHOT_DIR);
    const QString path = QStringLiteral(VISTAMO_SCREENSHOT_DIR "/") + name;
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
}

bool closed(const QPointer<QWidget>& dialog) {
    return waitProcessingEvents([&] { return dialog.isNull(); });
}

// In a home of its own: OK writes the clip settings file.
class OptionsDialogTest : public test::TempHomeTest {};

TEST_F(OptionsDialogTest, ShowsTheOptionsAndOkSavesTheEditedValues) {
    ASSERT_TRUE(saveClipSettings(ClipSettings{false, 30, 4}));
    auto host = std::make_shared<HostDouble>();
    host->options.bEnableActive = true;
    host->options.activeProgram = "firefox";
    host->options.bEnableTerminate = true;
    host->options.terminateProgram = "xterm";
    host->options.bEnableSound = false;
    host->options.bOnceAlarm = false;
    host->options.bEnableRun = true;
    host->options.runProgram = "Recorder.app";
    host->options.picID = 42;
    // What OK saves; fields the dialog does not show (picID) are kept.
    AlarmOptions expected = host->options;
    expected.bEnableActive = false;
    expected.terminateProgram = "";
    expected.bEnableSound = true;
    expected.bOnceAlarm = true;
    expected.runProgram = "vlc";

    QPointer<QWidget> guard;
    {
        auto* dialog = new OptionsDialog(host);
        guard = dialog;
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_EQ(dialog->windowTitle(), "Options");
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << "the dialog is not resizable";
        EXPECT_EQ(dialog->activeProgramField()->text(), "firefox");
        EXPECT_EQ(dialog->terminateProgramField()->text(), "xterm");
        EXPECT_EQ(dialog->newAPP()->text(), "Recorder.app");
        EXPECT_TRUE(dialog->activeButton()->isChecked());
        EXPECT_TRUE(dialog->terminateButton()->isChecked());
        EXPECT_FALSE(dialog->soundButton()->isChecked());
        EXPECT_FALSE(dialog->onceAlarm()->isChecked());
        EXPECT_TRUE(dialog->runButton()->isChecked());
        saveScreenshot(*dialog, "options.png");

        dialog->activeButton()->setChecked(false);
        dialog->terminateProgramField()->setText("");
        dialog->soundButton()->setChecked(true);
        dialog->onceAlarm()->setChecked(true);
        dialog->newAPP()->setText("vlc");
        EXPECT_FALSE(dialog->recordClip()->isChecked());
        EXPECT_EQ(dialog->secondsAfter()->value(), 30);
        EXPECT_EQ(dialog->secondsBefore()->value(), 4);
        dialog->recordClip()->setChecked(true);
        dialog->secondsBefore()->setValue(8);
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    }

    ASSERT_EQ(host->saved.size(), 1u);
    EXPECT_EQ(setOptionData(host->saved.front()), setOptionData(expected));
    // The clip settings go to their own file, and to the open cameras.
    const ClipSettings clip{true, 30, 8};
    EXPECT_EQ(loadClipSettings(), clip);
    EXPECT_EQ(host->applied, std::vector<ClipSettings>{clip});
    EXPECT_EQ(host->scannerShown, 1) << "no camera is connected, so the scanner window returns";
    // The closed dialog goes away and with it its hold on the scanner.
    EXPECT_TRUE(closed(guard));
    EXPECT_EQ(host.use_count(), 1);
}

// Cancel in either dialog changes and starts nothing, and brings the scanner window back
// unless a camera is connected.
TEST(DialogsTest, CancelChangesNothingAndKeepsTheScannerHiddenWhileConnected) {
    for (const bool options : {true, false}) {
        for (const bool connected : {false, true}) {
            auto host = std::make_shared<HostDouble>();
            host->connected = connected;
            host->options.activeProgram = "firefox";
            QPointer<QWidget> guard;
            QPushButton* cancel = nullptr;
            if (options) {
                auto* dialog = new OptionsDialog(host);
                guard = dialog;
                dialog->activeProgramField()->setText("other");
                dialog->activeButton()->setChecked(!host->options.bEnableActive);
                cancel = dialog->cancelButton();
            } else {
                auto* dialog = new AddCameraDialog(host);
                guard = dialog;
                dialog->ipText()->setText("192.168.1.20");
                cancel = dialog->cancelButton();
            }
            guard->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(guard));
            QTest::mouseClick(cancel, Qt::LeftButton);

            EXPECT_TRUE(host->saved.empty());
            EXPECT_TRUE(host->calls.empty());
            EXPECT_EQ(host->options.activeProgram, "firefox");
            EXPECT_EQ(host->options.bEnableActive, AlarmOptions().bEnableActive);
            EXPECT_EQ(host->scannerShown, connected ? 0 : 1);
            EXPECT_TRUE(closed(guard));
        }
    }
}

// Answers every alert at once with its default button, after noting its texts.
struct AlertLog {
    struct Alert {
        std::string title, text, informative, button;
        DialogModality modality;
    };
    std::vector<Alert> alerts;

    DialogRunner runner() {
        return [this](QDialog& dialog, DialogModality modality) {
            auto& box = dynamic_cast<QMessageBox&>(dialog);
            QAbstractButton* ok = box.defaultButton();
            alerts.push_back({box.windowTitle().toStdString(), box.text().toStdString(),
                              box.informativeText().toStdString(),
                              ok != nullptr ? ok->text().toStdString() : "", modality});
            if (ok != nullptr) {
                ok->click();
            }
        };
    }
};

TEST(addDeviceVCTest, RejectsAnythingButDottedIPv4WithAnAlertAndAddsNothing) {
    auto host = std::make_shared<HostDouble>();
    AlertLog log;
    auto* dialog = new AddCameraDialog(host, nullptr, log.runner());
    QPointer<QWidget> guard(dialog);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    EXPECT_EQ(dialog->windowTitle(), "Add Camera");
    EXPECT_EQ(dialog->titleLabel()->text(), "Add a Camera by Address");
    EXPECT_FALSE(dialog->descLabel()->text().isEmpty());

    const QString rejected[] = {"192.168.1.300",
                                "camera.local",
                                "fe80::1",
                                "::ffff:10.0.0.1",
                                "",
                                "10.0.0",
                                " 10.0.0.1",
                                "10.0.0.1 ",
                                QStringLiteral("10.0.0.1") + QChar(0) + "junk"};
    for (const QString& text : rejected) {
        dialog->ipText()->setText(text);
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
        EXPECT_EQ(dialog->ipText()->text(), text) << "the text stays as typed";
        EXPECT_TRUE(dialog->isVisible());
    }
    ASSERT_EQ(log.alerts.size(), std::size(rejected));
    for (const auto& alert : log.alerts) {
        EXPECT_EQ(alert.title, "Wrong IP Address");
        EXPECT_EQ(alert.text, "Wrong IP Address");
        EXPECT_EQ(alert.informative, "Type the camera's IPv4 address, such as 192.168.1.20.");
        EXPECT_EQ(alert.button, "OK");
        EXPECT_EQ(alert.modality, DialogModality::windowSheet);
    }
    EXPECT_TRUE(host->calls.empty());
    EXPECT_EQ(host->scannerShown, 0);
    dialog->close();
    EXPECT_TRUE(closed(guard));
}

TEST(addDeviceVCTest, AValidAddressIsAddedThenConnectedAndTheDialogCloses) {
    auto host = std::make_shared<HostDouble>();
    AlertLog log;
    auto* dialog = new AddCameraDialog(host, nullptr, log.runner());
    QPointer<QWidget> guard(dialog);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    QTest::keyClicks(dialog->ipText(), "192.168.1.20");
    saveScreenshot(*dialog, "add-camera.png");
    // Return in the field presses the default button, OK.
    QTest::keyClick(dialog->ipText(), Qt::Key_Return);

    EXPECT_TRUE(log.alerts.empty());
    EXPECT_EQ(host->calls, (std::vector<std::string>{"add 192.168.1.20", "connect 192.168.1.20"}));
    EXPECT_EQ(host->scannerShown, 0) << "the new camera window stands in front";
    EXPECT_TRUE(closed(guard));

    // A dialog whose scanner is gone closes on OK and does nothing else.
    std::weak_ptr<ScannerDialogHost> gone = std::make_shared<HostDouble>();
    auto* orphan = new AddCameraDialog(gone, nullptr, log.runner());
    QPointer<QWidget> orphanGuard(orphan);
    orphan->show();
    orphan->ipText()->setText("10.0.0.1");
    orphan->acceptAddress();
    EXPECT_TRUE(closed(orphanGuard));
    EXPECT_TRUE(log.alerts.empty());
}

}  // namespace
}  // namespace vistamo
