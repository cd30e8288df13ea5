#include "video/ZVideoWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHideEvent>
#include <QKeySequence>
#include <QLayout>
#include <QMenuBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "platform/Log.h"
#include "video/ZGLVC.h"
#include "video/ZGLView.h"
#include "video/videoWindow.h"

namespace vistamo {

ZVideoWindow::ZVideoWindow(std::shared_ptr<ZGLVC> contentViewController, ZGLView* view)
    : contentViewController_(std::move(contentViewController)), view_(view) {
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
            addKey(QKeySequence(entry.key), [this, button = entry.button] {
                contentViewController_->performButton(button);
            });
        }
    }
    addKey(QKeySequence(Qt::Key_R), [this] { contentViewController_->toggleRecording(); });
    addKey(QKeySequence(Qt::Key_F11), [this] { toggleFullScreen(); });
    addKey(QKeySequence(Qt::Key_Escape), [this] {
        if (isFullScreen()) {
            toggleFullScreen();
        }
    });
}

void ZVideoWindow::toggleFullScreen() { setWindowState(windowState() ^ Qt::WindowFullScreen); }

ZVideoWindow::~ZVideoWindow() = default;

void ZVideoWindow::setMenuBar(QMenuBar* bar) {
    if (bar != nullptr && layout() != nullptr) {
        layout()->setMenuBar(bar);
    }
}

void ZVideoWindow::close() {
    // Keeps the controller alive through both calls: the first may take it out of the
    // scanner's list.
    const std::shared_ptr<videoWindow> controller = wc.lock();
    inClose_ = true;
    QWidget::close();
    inClose_ = false;
    if (controller) {
        controller->closeWindow();
    }
}

void ZVideoWindow::closeEvent(QCloseEvent* event) {
    debugLine("window will close");
    const std::shared_ptr<videoWindow> controller = wc.lock();
    if (controller) {
        controller->windowWillClose();
        if (!inClose_) {
            controller->closeWindow();
        }
    }
    event->accept();
}

void ZVideoWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        contentViewController_->viewWillAppear();
    }
}

void ZVideoWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Minimising hides the window spontaneously; only a window that goes away stops the
    // intercom.
    if (!event->spontaneous()) {
        contentViewController_->viewDidDisappear();
    }
}

}  // namespace vistamo
