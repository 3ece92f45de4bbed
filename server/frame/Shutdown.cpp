#include "Shutdown.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusReply>

#include <cstdio>
#include <unistd.h>

namespace velora::server {

namespace {
// The user of the session on the first seat: the person at the server
// computer, whom a log-off is meant for. Falls back to our own user.
quint32 seatUser(QDBusInterface &manager)
{
    const QDBusMessage reply = manager.call(QStringLiteral("ListSessions"));
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString id, user, seat;
            quint32 uid = 0;
            QDBusObjectPath path;
            arg.beginStructure();
            arg >> id >> uid >> user >> seat >> path;
            arg.endStructure();
            if (seat == QStringLiteral("seat0") && uid != 0) {
                arg.endArray();
                return uid;
            }
        }
        arg.endArray();
    }
    return static_cast<quint32>(::getuid());
}
}  // namespace

bool LogindShutdown::MyExitWindows(int flags)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        error_ = "no system bus: " + bus.lastError().message().toStdString();
        return false;
    }
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    QDBusMessage reply;
    if (flags == 1 || flags == 8) {
        // interactive=false: a service has nobody to ask for authorisation.
        reply = manager.call(QStringLiteral("PowerOff"), false);
    } else {
        reply = manager.call(QStringLiteral("TerminateUser"), seatUser(manager));
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        error_ = reply.errorMessage().toStdString();
        return false;
    }
    error_.clear();
    return true;
}

bool LoggingShutdown::MyExitWindows(int flags)
{
    std::fprintf(stderr, "shutdown requested (flags %d), not carried out\n", flags);
    std::fflush(stderr);
    return true;
}

}  // namespace velora::server
