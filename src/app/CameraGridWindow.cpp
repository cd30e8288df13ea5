#include "app/CameraGridWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <algorithm>

#include "discovery/CameraRecord.h"
#include "media/SessionAudioCodec.h"
#include "platform/Log.h"
#include "session/CameraSession.h"
#include "video/CameraGridView.h"
#include "video/CameraViewController.h"
#include "video/CameraWindow.h"
#include "video/ControlBarGeometry.h"
#include "video/VideoRenderer.h"
#include "video/VideoView.h"

namespace vistamo {

namespace {

constexpr int kRefreshIntervalMs = 500;

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
    view_->setOnTileDoubleClicked([this](const std::string& identity) { openTile(identity); });
    refreshTimer_.setInterval(kRefreshIntervalMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] {
        refreshCameras();
        updateStatuses();
        updateSound();
    });
    view_->setOnFocusChanged([this] { updateSound(); });
    view_->setOnKey([this](const std::string& identity, int key) { pressKey(identity, key); });
}

CameraGridWindow::~CameraGridWindow() {
    for (Tile& tile : tiles_) {
        releaseWindow(tile);
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
    updateSound();
    refreshTimer_.start();
    show();
    raise();
    activateWindow();
}

void CameraGridWindow::refreshCameras() {
    const std::vector<GridCamera> cameras = camerasNow();
    for (Tile& tile : tiles_) {
        const bool listed =
            std::any_of(cameras.begin(), cameras.end(),
                        [&](const GridCamera& camera) { return camera.identity == tile.identity; });
        if (!listed) {
            releaseWindow(tile);
            view_->removeTile(tile.identity);
            tile.identity.clear();
        }
    }
    std::erase_if(tiles_, [](const Tile& tile) { return tile.identity.empty(); });

    for (const GridCamera& camera : cameras) {
        const QString name = QString::fromStdString(camera.name);
        auto found = std::find_if(tiles_.begin(), tiles_.end(), [&](const Tile& tile) {
            return tile.identity == camera.identity;
        });
        if (found == tiles_.end()) {
            Tile tile;
            tile.identity = camera.identity;
            tiles_.push_back(std::move(tile));
            found = std::prev(tiles_.end());
        }
        // The same renderer as before for a tile whose window closed: it keeps its last picture.
        const auto renderer = view_->addTile(camera.identity, name);
        view_->renameTile(camera.identity, name);
        if (!found->window.expired() || found->passwordNeeded || !hooks_.windowFor) {
            continue;
        }
        GridCamera withPassword = camera;
        withPassword.typedPassword = found->typedPassword;
        auto passwordNeeded = [grid = QPointer<CameraGridWindow>(this), id = camera.identity] {
            if (!grid) {
                return;
            }
            debugLine("the camera of grid tile " + id + " asks for a password");
            for (Tile& tile : grid->tiles_) {
                if (tile.identity == id) {
                    tile.passwordNeeded = true;
                }
            }
            grid->updateStatuses();
        };
        if (auto window = hooks_.windowFor(withPassword, std::move(passwordNeeded))) {
            window->addPictureSink(renderer);
            found->window = window;
        }
    }
}

std::vector<GridCamera> CameraGridWindow::camerasNow() const {
    return hooks_.cameras ? hooks_.cameras() : std::vector<GridCamera>{};
}

void CameraGridWindow::openTile(const std::string& identity) {
    const auto tile = std::find_if(tiles_.begin(), tiles_.end(),
                                   [&](const Tile& entry) { return entry.identity == identity; });
    if (tile == tiles_.end()) {
        return;
    }
    if (!tile->passwordNeeded) {
        if (auto window = tile->window.lock()) {
            window->showWindow();
        }
        return;
    }
    for (const GridCamera& camera : camerasNow()) {
        if (camera.identity != identity || !hooks_.askPassword) {
            continue;
        }
        const auto typed = hooks_.askPassword(camera);
        if (!typed) {
            return;
        }
        tile->passwordNeeded = false;
        tile->typedPassword = *typed;
        updateStatuses();
        refreshCameras();
        return;
    }
}

std::shared_ptr<CameraWindow> CameraGridWindow::windowOf(const std::string& identity) const {
    for (const Tile& tile : tiles_) {
        if (tile.identity == identity) {
            return tile.window.lock();
        }
    }
    return nullptr;
}

void CameraGridWindow::showAlarmOf(const QWidget* window) {
    for (Tile& tile : tiles_) {
        if (static_cast<const QWidget*>(tile.window.lock().get()) == window) {
            tile.alarmUntil =
                std::chrono::steady_clock::now() + std::chrono::seconds(kAlarmHighlightSeconds);
        }
    }
    updateStatuses();
    QTimer::singleShot(std::chrono::seconds(kAlarmHighlightSeconds) + std::chrono::milliseconds(50),
                       this, [this] { updateStatuses(); });
}

void CameraGridWindow::updateStatuses() {
    const auto now = std::chrono::steady_clock::now();
    for (const Tile& tile : tiles_) {
        CameraGridView::TileStatus status;
        status.alarmed = now < tile.alarmUntil;
        status.passwordNeeded = tile.passwordNeeded;
        if (const auto window = tile.window.lock()) {
            status.reconnecting = window->reconnecting();
            status.recording = window->viewController() && window->viewController()->isRecording();
        }
        view_->setTileStatus(tile.identity, status);
    }
}

void CameraGridWindow::updateSound() {
    const auto& focused = view_->focusedTile();
    for (Tile& tile : tiles_) {
        const auto window = tile.window.lock();
        const auto session = window ? window->session() : nullptr;
        const auto codec = session ? session->audioCodec() : nullptr;
        if (!codec) {
            continue;
        }
        const bool play = focused == tile.identity || window->isVisible();
        if (codec != tile.codec.lock() || play != tile.playing) {
            if (play) {
                codec->startPlay();
            } else {
                codec->stopPlay();
            }
            tile.codec = codec;
            tile.playing = play;
        }
    }
}

void CameraGridWindow::pressKey(const std::string& identity, int key) {
    const auto window = windowOf(identity);
    if (!window || !window->viewController()) {
        return;
    }
    if (key == Qt::Key_R) {
        window->viewController()->toggleRecording();
        updateStatuses();
        return;
    }
    if (key == Qt::Key_W) {
        window->toggleWebcam();  // nothing where PipeWire is absent
        return;
    }
    for (const BarButtonKey& entry : kBarButtonKeys) {
        if (entry.key != 0 && key == entry.key) {
            window->viewController()->performButton(entry.button);
        }
    }
}

void CameraGridWindow::releaseWindow(Tile& tile) {
    auto window = tile.window.lock();
    tile.window.reset();
    if (!window) {
        return;
    }
    if (auto renderer = view_->rendererOf(tile.identity)) {
        window->removePictureSink(renderer.get());
    }
    if (hooks_.letGo) {
        hooks_.letGo(window);
    }
}

void CameraGridWindow::closeEvent(QCloseEvent* event) {
    refreshTimer_.stop();
    if (hooks_.remember) {
        const QRect frame = isFullScreen() ? normalGeometry() : geometry();
        hooks_.remember(GridPlace{
            view_->layout(), WindowFrame{frame.x(), frame.y(), frame.width(), frame.height()}});
    }
    for (Tile& tile : tiles_) {
        releaseWindow(tile);
        view_->removeTile(tile.identity);
    }
    tiles_.clear();
    QMainWindow::closeEvent(event);
}

}  // namespace vistamo
