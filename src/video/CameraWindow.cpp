#include "video/CameraWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHideEvent>
#include <QKeySequence>
#include <QLayout>
#include <QMenuBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "platform/Log.h"
#include "video/CameraViewController.h"
#include "video/CameraWindowController.h"
#include "video/VideoView.h"

namespace vistamo {

CameraWindow::CameraWindow(std::shared_ptr<CameraViewController> viewController, VideoView* view)
    : viewController_(std::move(viewController)), view_(view) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    resize(kInitialWidth, kInitialHeight);
    view_->setDoubleClickHandler([this] { toggleFullScreen(); });

    const auto addKey = [this](const QKeySequence& sequence, auto handler) {
        auto* key = new QAction(this);
        key->setShortcut(sequence);
        key->setShortcutContext(Qt::WindowShortcut);
        connect(key, &QAction::triggered, this, handler);
        addAction(key);
    };
    for (const BarButtonKey& entry : kBarButtonKeys) {
        if (entry.key != 0) {
            addKey(QKeySequence(entry.key),
                   [this, button = entry.button] { viewController_->performButton(button); });
        }
    }
    addKey(QKeySequence(Qt::Key_R), [this] { viewController_->toggleRecording(); });
    addKey(QKeySequence(Qt::Key_F11), [this] { toggleFullScreen(); });
    addKey(QKeySequence(Qt::Key_Escape), [this] {
        if (isFullScreen()) {
            toggleFullScreen();
        }
    });
}

void CameraWindow::toggleFullScreen() { setWindowState(windowState() ^ Qt::WindowFullScreen); }

CameraWindow::~CameraWindow() = default;

void CameraWindow::setMenuBar(QMenuBar* bar) {
    if (bar != nullptr && layout() != nullptr) {
        layout()->setMenuBar(bar);
    }
}

void CameraWindow::close() {
    // Keeps the controller alive through both calls: the first may take it out of the
    // scanner's list.
    const std::shared_ptr<CameraWindowController> controller = wc.lock();
    inClose_ = true;
    QWidget::close();
    inClose_ = false;
    if (controller) {
        controller->closeWindow();
    }
}

void CameraWindow::closeEvent(QCloseEvent* event) {
    debugLine("window will close");
    const std::shared_ptr<CameraWindowController> controller = wc.lock();
    if (controller) {
        controller->windowClosing();
        if (!inClose_) {
            controller->closeWindow();
        }
    }
    event->accept();
}

void CameraWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        viewController_->beforeShow();
    }
}

void CameraWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Minimising hides the window spontaneously; only a window that goes away stops the
    // intercom.
    if (!event->spontaneous()) {
        viewController_->wasHidden();
    }
}

}  // namespace vistamo
