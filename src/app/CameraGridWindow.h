#pragma once

#include <QMainWindow>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/GridPlace.h"

class QActionGroup;
class QMenuBar;

namespace vistamo {

class CameraGridView;
class CameraRecord;
class CameraWindow;
class SessionAudioCodec;

// One camera the grid shows: its identity (the key of its tile), its name, and where to
// connect: discovery's record, or a typed address when it has none.
struct GridCamera {
    std::string identity;
    std::string name;
    std::shared_ptr<CameraRecord> record;
    std::string address;
    // The password typed for the camera on its tile, for a camera reached by address.
    std::string typedPassword;
};

// The "Camera Grid" window: a CameraGridView with a tile for every camera the application
// knows, and a View menu choosing the layout.
//
// A tile shows its camera's one session: the grid asks for the camera's window (an open one,
// else a hidden one made for the grid) and adds the tile's renderer to that window's picture
// readers, so the window's connecting again serves the tile too and the camera sees one
// connection. A double-click on a tile shows that window; closing it hides it again. The list
// of cameras is asked for again every second while the grid shows; a camera that left it, and
// every camera when the grid closes, is let go (`letGo`).
//
// A click focuses a tile: only its camera plays sound (besides cameras whose windows show), and
// the camera window's keys act on it. The tiles say twice a second whether their windows are
// connecting again or recording.
//
// Main thread only: everything here, including the hooks, runs on it.
class CameraGridWindow final : public QMainWindow {
    Q_OBJECT

public:
    struct Hooks {
        // The cameras to show now, in the order of their tiles.
        std::function<std::vector<GridCamera>()> cameras;
        // The window that holds `camera`'s session; none when it cannot be had now. When the
        // camera asks for a password the new session calls `passwordNeeded` instead of asking
        // (and then ends, closing its window).
        std::function<std::shared_ptr<CameraWindow>(const GridCamera& camera,
                                                    std::function<void()> passwordNeeded)>
            windowFor;
        // Asks the user for `camera`'s password, as a camera window does; none when cancelled.
        std::function<std::optional<std::string>(const GridCamera& camera)> askPassword;
        // The grid no longer needs `window`.
        std::function<void(const std::shared_ptr<CameraWindow>& window)> letGo;
        // The window's layout and frame, each time the window closes.
        std::function<void(const GridPlace&)> remember;
    };

    explicit CameraGridWindow(Hooks hooks, QMenuBar* menuBar = nullptr);
    ~CameraGridWindow() override;

    // Shows the window laid out as `layout` and brings it to the front; the tiles follow the
    // camera list from then on.
    void open(GridLayout layout);
    // Asks for the camera list now: tiles for new cameras, none for cameras gone from it, and
    // a window again for a tile whose window closed.
    void refreshCameras();

    CameraGridView* gridView() const { return view_; }
    // The window whose session `identity`'s tile shows, or none.
    std::shared_ptr<CameraWindow> windowOf(const std::string& identity) const;
    // `window`'s camera had a motion alarm: its tile is framed for kAlarmHighlightSeconds.
    void showAlarmOf(const QWidget* window);
    static constexpr int kAlarmHighlightSeconds = 5;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Tile {
        std::string identity;
        std::weak_ptr<CameraWindow> window;
        // The camera asked for a password: no window until a double-click asks the user.
        bool passwordNeeded = false;
        std::string typedPassword;
        std::chrono::steady_clock::time_point alarmUntil;
        // The sound this tile last started or stopped, and whether it plays.
        std::weak_ptr<SessionAudioCodec> codec;
        bool playing = true;
    };

    void addLayoutMenu(QMenuBar& bar);
    void chooseLayout(GridLayout layout);
    // Takes the tile's renderer off its window and lets the window go.
    void releaseWindow(Tile& tile);
    // A double-click: the window, or the password question first.
    void openTile(const std::string& identity);
    std::vector<GridCamera> camerasNow() const;
    // Each tile's state from its window: connecting again, recording, alarmed.
    void updateStatuses();
    // Only the focused tile's camera plays its sound, and any camera whose window shows.
    void updateSound();
    // A key on the focused tile does what it does in the camera's window.
    void pressKey(const std::string& identity, int key);

    // Set once at construction.
    const Hooks hooks_;
    CameraGridView* view_;  // child widget, owned by this window

    // Main thread only.
    std::vector<Tile> tiles_;
    QActionGroup* layoutGroup_ = nullptr;
    QTimer refreshTimer_;
};

}  // namespace vistamo
