#include "server/frame/LogindShutdown.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusReply>

#include <cstdio>
#include <optional>

namespace velora::server::frame {

namespace {

QDBusMessage managerCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                          QStringLiteral("/org/freedesktop/login1"),
                                          QStringLiteral("org.freedesktop.login1.Manager"), method);
}

// The user of the session on the first seat: the person at the server
// computer, whom a log-off is meant for. None when nobody but root sits there.
std::optional<quint32> seatUser(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
        reply.signature() == QStringLiteral("a(susso)")) {
        const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString id, user, seat;
            quint32 uid = 0;
            QDBusObjectPath path;
            arg.beginStructure();
            arg >> id >> uid >> user >> seat >> path;
            arg.endStructure();
            if (seat == QStringLiteral("seat0") && uid != 0)
                return uid;
        }
        arg.endArray();
    }
    return std::nullopt;
}

void send(QDBusConnection bus, const QDBusMessage &message,
          const std::function<void(const std::string &)> &onError)
{
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, onError] {
        watcher->deleteLater();
        if (watcher->isError() && onError)
            onError(watcher->error().message().toStdString());
    });
}

}  // namespace

bool LogindShutdown::MyExitWindows(int flags)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        *error_ = "no system bus: " + bus.lastError().message().toStdString();
        return false;
    }
    error_->clear();
    if (flags == 1 || flags == 8) {
        // interactive=false: a service has nobody to ask for authorisation.
        QDBusMessage call = managerCall(QStringLiteral("PowerOff"));
        call << false;
        send(bus, call, onLateError);
        return true;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(managerCall(QStringLiteral("ListSessions"))));
    auto onError = onLateError;
    auto error = error_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, bus, onError, error] {
        watcher->deleteLater();
        const std::optional<quint32> uid = seatUser(watcher->reply());
        if (!uid) {
            *error = watcher->isError()
                         ? "cannot find the user at seat0: " + watcher->error().message().toStdString()
                         : std::string("nobody but root is logged in at seat0; the log-off was not carried out");
            if (onError)
                onError(*error);
            return;
        }
        QDBusMessage call = managerCall(QStringLiteral("TerminateUser"));
        call << *uid;
        send(bus, call, onError);
    });
    return true;
}

bool LoggingShutdown::MyExitWindows(int flags)
{
    std::fprintf(stderr, "velora: shutdown requested (flags %d), not carried out\n", flags);
    std::fflush(stderr);
    return true;
}

}  // namespace velora::server::frame
