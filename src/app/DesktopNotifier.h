#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <map>

class QDBusPendingCallWatcher;
class QWidget;

namespace vistamo {

// Notices on the desktop, motion ones among them: "Motion: <camera name>" through the notification
// service of the session bus (org.freedesktop.Notifications), with the application's icon. A click
// on a notice raises the window of its camera. Without a bus or a service, each notice becomes one
// log line and nothing else happens.
//
// Calls never block: the notice is sent asynchronously and the service's answer (the notice's
// id) arrives later on the main thread.
//
// Main thread only.
class DesktopNotifier final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";

    // On the session bus of this process.
    explicit DesktopNotifier(QObject* parent = nullptr);
    DesktopNotifier(QDBusConnection bus, QObject* parent);
    ~DesktopNotifier() override;

    // Posts the notice for `cameraName`; a click on it raises `window` (when it still exists).
    void notifyMotion(const QString& cameraName, QWidget* window);
    // Posts a notice of `summary` and `body`; a click on it raises `window`, when there is one.
    void notify(const QString& summary, const QString& body, QWidget* window);

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void posted(QDBusPendingCallWatcher* watcher, QPointer<QWidget> window);

    // Main thread only.
    QDBusConnection bus_;
    // The notices shown now, by the service's id, with the window a click raises.
    std::map<uint, QPointer<QWidget>> shown_;
};

}  // namespace vistamo
