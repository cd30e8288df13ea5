#include "app/CameraGridWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

#include "discovery/CameraRecord.h"
#include "session/CameraSession.h"
#include "video/CameraGridView.h"
#include "video/CameraWindow.h"
#include "video/VideoRenderer.h"

namespace vistamo {

namespace {

constexpr int kRefreshIntervalMs = 1000;

struct LayoutItem {
    GridLayout layout;
    const char* text;
};

constexpr LayoutItem kLayoutItems[] = {
    {GridLayout::Automatic, "Fit All Cameras"},
    {GridLayout::OneByOne, "1 × 1"},
    {GridLayout::TwoByTwo, "2 × 2"},
    {GridLayout::ThreeByThree, "3 × 3"},
    {GridLayout::FourByFour, "4 × 4"},
};

}  // namespace

CameraGridWindow::CameraGridWindow(Hooks hooks, QMenuBar* menuBar)
    : hooks_(std::move(hooks)), view_(new CameraGridView(this)) {
    setWindowTitle(QStringLiteral("Camera Grid"));
    setCentralWidget(view_);
    resize(960, 600);
    if (menuBar != nullptr) {
        setMenuBar(menuBar);
    }
    addLayoutMenu(*this->menuBar());
    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { refreshCameras(); });
}

CameraGridWindow::~CameraGridWindow() {
    for (TileSession& tile : sessions_) {
        stopTile(tile);
    }
}

void CameraGridWindow::addLayoutMenu(QMenuBar& bar) {
    // Before the Window menu, where a View menu usually sits.
    auto* menu = new QMenu(QStringLiteral("&View"), &bar);
    QAction* before = nullptr;
    for (QAction* entry : bar.actions()) {
        if (entry->text() == QStringLiteral("&Window")) {
            before = entry;
        }
    }
    bar.insertMenu(before, menu);
    layoutGroup_ = new QActionGroup(this);
    for (const LayoutItem& item : kLayoutItems) {
        QAction* action = menu->addAction(QString::fromUtf8(item.text));
        action->setCheckable(true);
        action->setData(static_cast<int>(item.layout));
        layoutGroup_->addAction(action);
        const GridLayout layout = item.layout;
        connect(action, &QAction::triggered, this, [this, layout] { chooseLayout(layout); });
    }
}

void CameraGridWindow::chooseLayout(GridLayout layout) {
    view_->setLayout(layout);
    for (QAction* action : layoutGroup_->actions()) {
        action->setChecked(action->data().toInt() == static_cast<int>(layout));
    }
}

void CameraGridWindow::open(GridLayout layout) {
    chooseLayout(layout);
    refreshCameras();
    refreshTimer_.start();
    show();
    raise();
    activateWindow();
}

void CameraGridWindow::refreshCameras() {
    const std::vector<GridCamera> cameras =
        hooks_.cameras ? hooks_.cameras() : std::vector<GridCamera>{};
    for (TileSession& tile : sessions_) {
        const bool listed =
            std::any_of(cameras.begin(), cameras.end(),
                        [&](const GridCamera& camera) { return camera.identity == tile.identity; });
        if (!listed) {
            stopTile(tile);
        }
    }
    std::erase_if(sessions_, [](const TileSession& tile) { return !tile.session; });

    for (const GridCamera& camera : cameras) {
        const QString name = QString::fromStdString(camera.name);
        if (sessionOf(camera.identity)) {
            view_->renameTile(camera.identity, name);
            continue;
        }
        auto session = hooks_.makeSession ? hooks_.makeSession() : nullptr;
        if (!session) {
            continue;
        }
        session->addPictureSink(view_->addTile(camera.identity, name));
        if (camera.record) {
            session->connectToServer(static_cast<const void*>(this), camera.record);
        } else {
            session->setIp(camera.address);
            session->connectToServer(camera.address, false);
        }
        sessions_.push_back(TileSession{camera.identity, std::move(session)});
    }
}

std::shared_ptr<CameraSession> CameraGridWindow::sessionOf(const std::string& identity) const {
    for (const TileSession& tile : sessions_) {
        if (tile.identity == identity) {
            return tile.session;
        }
    }
    return nullptr;
}

void CameraGridWindow::stopTile(TileSession& tile) {
    if (!tile.session) {
        return;
    }
    if (auto renderer = view_->rendererOf(tile.identity)) {
        renderer->setBClosing(true);
        tile.session->removePictureSink(renderer.get());
    }
    view_->removeTile(tile.identity);
    tile.session->disconnect(CameraSession::Farewell::Send);
    releaseSession(std::move(tile.session));
}

void CameraGridWindow::closeEvent(QCloseEvent* event) {
    refreshTimer_.stop();
    if (hooks_.remember) {
        const QRect frame = isFullScreen() ? normalGeometry() : geometry();
        hooks_.remember(GridPlace{
            view_->layout(), WindowFrame{frame.x(), frame.y(), frame.width(), frame.height()}});
    }
    for (TileSession& tile : sessions_) {
        stopTile(tile);
    }
    sessions_.clear();
    QMainWindow::closeEvent(event);
}

}  // namespace vistamo
