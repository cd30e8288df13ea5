#include "app/ScannerWindow.h"

#include <QApplication>
#include <QCloseEvent>

#include "app/ScannerController.h"
#include "platform/Log.h"

namespace vistamo {

ScannerWindow::ScannerWindow(std::weak_ptr<ScannerController> scanner, QWidget* parent)
    : QMainWindow(parent), scanner_(std::move(scanner)) {
    setWindowTitle(QStringLiteral("vistamo"));
    resize(kInitialWidth, kInitialHeight);
}

ScannerWindow::~ScannerWindow() = default;

void ScannerWindow::closeEvent(QCloseEvent* event) {
    // The window stays; the application ends, with the options saved first. Without a scanner
    // there is nothing to save, and the application still ends.
    event->ignore();
    if (auto content = scanner()) {
        content->saveOptions();
    } else {
        logLine("the scanner window has no scanner: the options are not saved");
    }
    QApplication::quit();
}

void ScannerWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // A window shown again after being minimised is not a return to the scanner.
    if (event->spontaneous()) {
        return;
    }
    if (auto content = scanner()) {
        content->wasShown();
    }
}

}  // namespace vistamo
