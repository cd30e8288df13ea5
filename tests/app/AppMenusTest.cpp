// The application's menus on several windows at once: the same menus everywhere, one action
// per command whose shortcut works from whichever window is active, and a Window menu that
// lists the camera windows open when it opens.
#include "app/AppMenus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <optional>
#include <vector>

namespace vistamo::test {
namespace {

using Command = AppMenus::Command;

QStringList menuTitles(const QMenuBar& bar) {
    QStringList titles;
    for (const QAction* menu : bar.actions()) {
        titles << menu->text();
    }
    return titles;
}

QMenu* menuNamed(const QMenuBar& bar, const QString& title) {
    for (const QAction* menu : bar.actions()) {
        if (menu->text() == title) {
            return menu->menu();
        }
    }
    return nullptr;
}

QStringList itemTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* item : menu.actions()) {
        texts << (item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    return texts;
}

TEST(AppMenusTest, EveryWindowCarriesTheSameMenusAndTheirShortcutsActFromAnyOfThem) {
    std::vector<Command> performed;
    std::vector<QWidget*> cameras;
    AppMenus menus([&](Command command) { performed.push_back(command); }, [&] { return cameras; });

    QMainWindow scanner;
    menus.fill(*scanner.menuBar());
    QWidget porch;
    porch.setWindowTitle(QStringLiteral("Video From Porch"));
    auto* layout = new QVBoxLayout(&porch);
    QMenuBar* porchBar = menus.makeMenuBar(&porch);
    layout->setMenuBar(porchBar);
    QWidget kitchen;
    kitchen.setWindowTitle(QStringLiteral("Video From Kitchen"));
    cameras = {&kitchen, &porch};

    EXPECT_EQ(menuTitles(*porchBar), menuTitles(*scanner.menuBar()));
    EXPECT_EQ(menuTitles(*porchBar), QStringList({"&Camera", "&Share", "&Window", "&Help"}));
    // One action for both bars: a shortcut is never ambiguous between windows.
    EXPECT_EQ(menuNamed(*porchBar, "&Camera")->actions().first(),
              menuNamed(*scanner.menuBar(), "&Camera")->actions().first());

    // The camera window's shortcuts reach the application while the scanner is hidden.
    porch.show();
    porch.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&porch));
    for (const auto& [key, command] : {std::pair{Qt::Key_0, Command::ShowScanner},
                                       {Qt::Key_W, Command::CloseWindow},
                                       {Qt::Key_G, Command::CameraGrid},
                                       {Qt::Key_N, Command::AddCamera},
                                       {Qt::Key_Comma, Command::Options}}) {
        performed.clear();
        QTest::keyClick(&porch, key, Qt::ControlModifier);
        EXPECT_EQ(performed, std::vector<Command>{command}) << key;
    }

    // The Window menu lists the camera windows open when it opens, each raising its window.
    QMenu* windowMenu = menuNamed(*porchBar, "&Window");
    ASSERT_NE(windowMenu, nullptr);
    emit windowMenu->aboutToShow();
    EXPECT_EQ(itemTexts(*windowMenu),
              QStringList({"Show Scanner", "-", "Video From Kitchen", "Video From Porch", "-",
                           "Camera Grid", "Close Window"}));
    windowMenu->actions().at(2)->trigger();
    EXPECT_TRUE(kitchen.isVisible());
    emit windowMenu->aboutToShow();
    // Opening it again left the shared actions working.
    performed.clear();
    windowMenu->actions().first()->trigger();
    EXPECT_EQ(performed, std::vector<Command>{Command::ShowScanner});

    // Record shows, each time a menu opens, whether the active camera window records, and is
    // disabled where no camera window is active.
    std::optional<bool> recording;
    menus.setRecordingState([&] { return recording; });
    QMenu* cameraMenu = menuNamed(*porchBar, "&Camera");
    QAction* record = menus.action(Command::Record);
    ASSERT_TRUE(cameraMenu->actions().contains(record));
    emit cameraMenu->aboutToShow();
    EXPECT_FALSE(record->isEnabled());
    recording = true;
    emit cameraMenu->aboutToShow();
    EXPECT_TRUE(record->isEnabled() && record->isChecked());

    // Publishing likewise, its text saying what it does; its shortcut stays live once the menu
    // closes, whatever window it showed on.
    std::optional<bool> publishing;
    menus.setPublishingState([&] { return publishing; });
    QAction* publish = menus.action(Command::Publish);
    ASSERT_TRUE(cameraMenu->actions().contains(publish));
    EXPECT_EQ(publish->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    emit cameraMenu->aboutToShow();
    EXPECT_FALSE(publish->isEnabled());
    emit cameraMenu->aboutToHide();
    EXPECT_TRUE(publish->isEnabled());
    publishing = false;
    emit cameraMenu->aboutToShow();
    EXPECT_EQ(publish->text(), "Publish Stream…");
    publishing = true;
    emit cameraMenu->aboutToShow();
    EXPECT_EQ(publish->text(), "Stop Publishing");
    // Use as Webcam likewise, and where PipeWire is absent it stays off and its tooltip says why.
    AppMenus::WebcamState webcam;
    menus.setWebcamState([&] { return webcam; });
    QAction* useAsWebcam = menus.action(Command::UseAsWebcam);
    ASSERT_TRUE(cameraMenu->actions().contains(useAsWebcam));
    emit cameraMenu->aboutToShow();
    EXPECT_FALSE(useAsWebcam->isEnabled());
    webcam = {.cameraWindow = true, .on = true, .absence = {}};
    emit cameraMenu->aboutToShow();
    EXPECT_TRUE(useAsWebcam->isEnabled() && useAsWebcam->isChecked());
    EXPECT_TRUE(useAsWebcam->toolTip().contains("(W)"));
    webcam = {.cameraWindow = true, .on = false, .absence = "no PipeWire daemon to connect to"};
    emit cameraMenu->aboutToShow();
    EXPECT_FALSE(useAsWebcam->isEnabled());
    EXPECT_TRUE(useAsWebcam->toolTip().contains("no PipeWire daemon to connect to"));
}

}  // namespace
}  // namespace vistamo::test
