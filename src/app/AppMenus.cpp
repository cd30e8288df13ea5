#include "app/AppMenus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>
#include <algorithm>

namespace vistamo {

struct AppMenus::MenuLine {
    enum class Kind { Action, Separator, CameraWindows };
    Kind kind = Kind::Action;
    Command command = Command::Quit;
};

namespace {

using Command = AppMenus::Command;

using MenuLine = AppMenus::MenuLine;

struct MenuDescription {
    const char* title;
    std::vector<MenuLine> lines;
};

constexpr MenuLine action(Command command) { return {MenuLine::Kind::Action, command}; }
constexpr MenuLine kSeparator{MenuLine::Kind::Separator};
constexpr MenuLine kCameraWindows{MenuLine::Kind::CameraWindows};

// The menus of every window, left to right.
const std::vector<MenuDescription>& menus() {
    static const std::vector<MenuDescription> description{
        {"&Camera",
         {action(Command::AddCamera), action(Command::LocalCameraPreview), kSeparator,
          action(Command::Record), action(Command::Publish), action(Command::Statistics),
          action(Command::UseAsWebcam), kSeparator, action(Command::Options), kSeparator,
          action(Command::Quit)}},
        {"&Share", {action(Command::ShareByEmail), action(Command::CopyLink)}},
        {"&Window",
         {action(Command::ShowScanner), kSeparator, kCameraWindows, kSeparator,
          action(Command::CameraGrid), action(Command::CloseWindow)}},
        {"&Help", {action(Command::Help), action(Command::WebPage), action(Command::SendEmail)}},
    };
    return description;
}

struct ActionText {
    Command command;
    const char* text;
    QKeySequence shortcut;
    QAction::MenuRole role = QAction::NoRole;
};

std::vector<ActionText> actionTexts() {
    return {
        {Command::AddCamera, "Add Camera…", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {Command::LocalCameraPreview, "Local Camera Preview", {}},
        {Command::Options, "Options…", QKeySequence(Qt::CTRL | Qt::Key_Comma),
         QAction::PreferencesRole},
        {Command::Quit, "Quit", QKeySequence(QKeySequence::Quit), QAction::QuitRole},
        {Command::ShareByEmail, "E-mail", {}},
        {Command::CopyLink, "Copy Link", {}},
        {Command::Help, "Help", QKeySequence(QKeySequence::HelpContents)},
        {Command::WebPage, "Web Page", {}},
        {Command::SendEmail, "Send E-mail", {}},
        {Command::ShowScanner, "Show Scanner", QKeySequence(Qt::CTRL | Qt::Key_0)},
        {Command::CameraGrid, "Camera Grid", QKeySequence(Qt::CTRL | Qt::Key_G)},
        {Command::CloseWindow, "Close Window", QKeySequence(Qt::CTRL | Qt::Key_W)},
        // R is the camera window's own key; a shortcut here would make it ambiguous.
        {Command::Record, "Record", {}},
        // Ctrl+I belongs to the camera view itself; the text only shows it.
        {Command::Statistics, "Statistics\tCtrl+I", {}},
        {Command::Publish, "Publish Stream…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)},
        // W is the camera window's own key, as R is.
        {Command::UseAsWebcam, "Use as Webcam\tW", {}},
    };
}

}  // namespace

AppMenus::AppMenus(std::function<void(Command)> perform,
                   std::function<std::vector<QWidget*>()> cameraWindows, QObject* parent)
    : QObject(parent), perform_(std::move(perform)), cameraWindows_(std::move(cameraWindows)) {
    const auto texts = actionTexts();
    actions_.resize(texts.size());
    for (const ActionText& entry : texts) {
        auto* item = new QAction(QString::fromUtf8(entry.text), this);
        item->setShortcut(entry.shortcut);
        item->setMenuRole(entry.role);
        const Command command = entry.command;
        connect(item, &QAction::triggered, this, [this, command] {
            if (perform_) {
                perform_(command);
            }
        });
        actions_[static_cast<size_t>(command)] = item;
    }
    action(Command::Record)->setCheckable(true);
    action(Command::Record)->setEnabled(false);
    action(Command::Statistics)->setEnabled(false);
    action(Command::UseAsWebcam)->setCheckable(true);
    action(Command::UseAsWebcam)->setEnabled(false);
}

AppMenus::~AppMenus() = default;

QAction* AppMenus::action(Command command) const {
    return actions_.at(static_cast<size_t>(command)).data();
}

void AppMenus::fill(QMenuBar& bar) {
    for (const MenuDescription& description : menus()) {
        QMenu* menu = bar.addMenu(QString::fromUtf8(description.title));
        // "Use as Webcam" says in its tooltip what it does, or why it is off.
        menu->setToolTipsVisible(true);
        addLines(*menu, description.lines);
        connect(menu, &QMenu::aboutToShow, this, [this] {
            const std::optional<bool> recording =
                recordingState_ ? recordingState_() : std::nullopt;
            action(Command::Record)->setEnabled(recording.has_value());
            action(Command::Statistics)->setEnabled(recording.has_value());
            action(Command::Record)->setChecked(recording.value_or(false));
            const std::optional<bool> publishing =
                publishingState_ ? publishingState_() : std::nullopt;
            action(Command::Publish)->setEnabled(publishing.has_value());
            action(Command::Publish)
                ->setText(publishing.value_or(false) ? QStringLiteral("Stop Publishing")
                                                     : QStringLiteral("Publish Stream…"));
            showWebcamState();
        });
        // Its shortcut works in any camera window, whatever the menu showed last.
        connect(menu, &QMenu::aboutToHide, this,
                [this] { action(Command::Publish)->setEnabled(true); });
        const bool listsWindows = std::any_of(
            description.lines.begin(), description.lines.end(),
            [](const MenuLine& line) { return line.kind == MenuLine::Kind::CameraWindows; });
        if (listsWindows) {
            // The shared actions belong to this object and stay; the window items belong to
            // the menu and go with `clear`.
            const std::vector<MenuLine>* lines = &description.lines;
            connect(menu, &QMenu::aboutToShow, menu, [this, menu, lines] {
                menu->clear();
                addLines(*menu, *lines);
            });
        }
    }
}

void AppMenus::showWebcamState() {
    const WebcamState state = webcamState_ ? webcamState_() : WebcamState{};
    QAction* item = action(Command::UseAsWebcam);
    item->setEnabled(state.cameraWindow && state.absence.empty());
    item->setChecked(state.on);
    item->setToolTip(
        !state.absence.empty()
            ? QString::fromStdString("No webcam: " + state.absence)
            : QStringLiteral("Offer this camera's picture and sound to other programs as a webcam "
                             "and microphone (W)"));
}

QMenuBar* AppMenus::makeMenuBar(QWidget* window) {
    auto* bar = new QMenuBar(window);
    fill(*bar);
    return bar;
}

void AppMenus::addLines(QMenu& menu, const std::vector<MenuLine>& lines) {
    for (const MenuLine& line : lines) {
        switch (line.kind) {
            case MenuLine::Kind::Separator:
                menu.addSeparator();
                break;
            case MenuLine::Kind::Action:
                menu.addAction(action(line.command));
                break;
            case MenuLine::Kind::CameraWindows:
                if (!cameraWindows_) {
                    break;
                }
                for (QWidget* window : cameraWindows_()) {
                    QAction* entry = menu.addAction(window->windowTitle());
                    entry->setCheckable(true);
                    entry->setChecked(window->isActiveWindow());
                    connect(entry, &QAction::triggered, &menu,
                            [target = QPointer<QWidget>(window)] {
                                if (target) {
                                    target->show();
                                    target->raise();
                                    target->activateWindow();
                                }
                            });
                }
                break;
        }
    }
}

}  // namespace vistamo
