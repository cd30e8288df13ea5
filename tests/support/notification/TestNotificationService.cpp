// A desktop notification service for tests, on the session bus that DBUS_SESSION_BUS_ADDRESS
// names. It prints "ready" once it owns the service's name, then one line per notice:
// "notify <id> icon=<app_icon> summary=<summary>". Asked with Click(id) on the interface
// vistamo.test.Notifications, it reports that notice as clicked (ActionInvoked "default").
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <cstdio>

namespace {

constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

class Service final : public QDBusVirtualObject {
public:
    QString introspect(const QString& /*path*/) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.Notifications\">"
            "<method name=\"Notify\"><arg type=\"s\"/><arg type=\"u\"/><arg type=\"s\"/>"
            "<arg type=\"s\"/><arg type=\"s\"/><arg type=\"as\"/><arg type=\"a{sv}\"/>"
            "<arg type=\"i\"/><arg type=\"u\" direction=\"out\"/></method>"
            "<method name=\"GetCapabilities\"><arg type=\"as\" direction=\"out\"/></method>"
            "<signal name=\"ActionInvoked\"><arg type=\"u\"/><arg type=\"s\"/></signal>"
            "</interface>"
            "<interface name=\"vistamo.test.Notifications\">"
            "<method name=\"Click\"><arg type=\"u\"/></method></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        const QList<QVariant> arguments = message.arguments();
        if (member == QLatin1String("Notify") && arguments.size() == 8) {
            const uint id = ++lastId_;
            std::printf("notify %u icon=%s summary=%s\n", id,
                        arguments[2].toString().toUtf8().constData(),
                        arguments[3].toString().toUtf8().constData());
            std::fflush(stdout);
            connection.send(message.createReply(QVariant::fromValue(id)));
            return true;
        }
        if (member == QLatin1String("GetCapabilities")) {
            connection.send(message.createReply(QStringList{"actions", "body"}));
            return true;
        }
        if (member == QLatin1String("Click") && arguments.size() == 1) {
            QDBusMessage clicked = QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked");
            clicked << arguments[0].toUInt() << QStringLiteral("default");
            connection.send(clicked);
            connection.send(message.createReply());
            return true;
        }
        return false;
    }

private:
    uint lastId_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Service service;
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &service) ||
        !bus.registerService(kInterface)) {
        std::fprintf(stderr, "cannot serve notifications on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}
