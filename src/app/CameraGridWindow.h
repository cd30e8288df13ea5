#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/GridPlace.h"

class QActionGroup;
class QMenuBar;

namespace vistamo {

class CameraGridView;
class CameraRecord;
class CameraSession;

// One camera the grid shows: its identity (the key of its tile), its name, and where to
// connect: discovery's record, or a typed address when it has none.
struct GridCamera {
    std::string identity;
    std::string name;
    std::shared_ptr<CameraRecord> record;
    std::string address;
};

// The "Camera Grid" window: a CameraGridView with a tile for every camera the application
// knows, and a View menu choosing the layout. Each tile is fed by a session of the window's
// own, connected when the camera first appears and let go when it leaves the list or the
// window closes; the list is asked for again every second while the window shows.
//
// Main thread only: everything here, including the hooks, runs on it.
class CameraGridWindow final : public QMainWindow {
    Q_OBJECT

public:
    struct Hooks {
        // The cameras to show now, in the order of their tiles.
        std::function<std::vector<GridCamera>()> cameras;
        // A new session, not yet connected.
        std::function<std::shared_ptr<CameraSession>()> makeSession;
        // The window's layout and frame, each time the window closes.
        std::function<void(const GridPlace&)> remember;
    };

    explicit CameraGridWindow(Hooks hooks, QMenuBar* menuBar = nullptr);
    ~CameraGridWindow() override;

    // Shows the window laid out as `layout` and brings it to the front; the tiles follow the
    // camera list from then on.
    void open(GridLayout layout);
    // Asks for the camera list now: tiles for new cameras, none for cameras gone from it.
    void refreshCameras();

    CameraGridView* gridView() const { return view_; }
    // The session feeding `identity`'s tile, or none.
    std::shared_ptr<CameraSession> sessionOf(const std::string& identity) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct TileSession {
        std::string identity;
        std::shared_ptr<CameraSession> session;
    };

    void addLayoutMenu(QMenuBar& bar);
    void chooseLayout(GridLayout layout);
    void stopTile(TileSession& tile);

    // Set once at construction.
    const Hooks hooks_;
    CameraGridView* view_;  // child widget, owned by this window

    // Main thread only.
    std::vector<TileSession> sessions_;
    QActionGroup* layoutGroup_ = nullptr;
    QTimer refreshTimer_;
};

}  // namespace vistamo
