#include "app/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include "platform/Log.h"
#include "platform/Resources.h"

namespace vistamo {

namespace {

// How long the service shows a notice: its own choice.
constexpr int kServerDefaultTimeout = -1;
// Notices remembered for clicks; a service that never reports closing them cannot make the
// list grow without end.
constexpr size_t kMaxShown = 64;

}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent) {}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::notifyMotion(const QString& cameraName, QWidget* window) {
    notify(QStringLiteral("Motion: ") + cameraName, QString(), window);
}

void DesktopNotifier::notify(const QString& summary, const QString& body, QWidget* window) {
    if (!bus_.isConnected()) {
        logLine("no session bus for the desktop notice \"" + summary.toStdString() + "\"");
        return;
    }
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QString icon =
        QUrl::fromLocalFile(QString::fromStdString(resourcePath("vistamo.png"))).toString();
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vistamo"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout.
    notify << QStringLiteral("vistamo") << uint{0} << icon << summary << body
           << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints
           << kServerDefaultTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, target = QPointer<QWidget>(window)](QDBusPendingCallWatcher* finished) {
                posted(finished, target);
            });
}

void DesktopNotifier::posted(QDBusPendingCallWatcher* watcher, QPointer<QWidget> window) {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
        logLine("no desktop notice: " + reply.error().message().toStdString());
        return;
    }
    if (shown_.size() >= kMaxShown) {
        shown_.erase(shown_.begin());
    }
    shown_[reply.value()] = std::move(window);
}

void DesktopNotifier::actionInvoked(uint id, const QString& /*actionKey*/) {
    const auto found = shown_.find(id);
    if (found == shown_.end()) {
        return;
    }
    if (QWidget* window = found->second.data()) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/) { shown_.erase(id); }

}  // namespace vistamo
