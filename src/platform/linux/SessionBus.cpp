#include "SessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace brevlin {

void sendLastCall(const QDBusMessage& message) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.send(message))
        return;
    // Messages leave the connection in the order they were given, so once the bus itself has
    // answered a ping sent after it, the call is on its way.
    bus.call(QDBusMessage::createMethodCall(
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
             QDBus::Block, 500);
}

} // namespace brevlin
