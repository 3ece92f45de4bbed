// The logind shutdown against a fake logind on a private bus that stands in
// for the system bus; nothing here can reach a real one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QProcess>

#include <unistd.h>

#include "support/Wait.h"
#include "server/frame/LogindShutdown.h"

using velora::server::frame::LogindShutdown;

using velora::test::waitFor;

struct SessionEntry {
    QString id;
    uint uid = 0;
    QString user;
    QString seat;
    QDBusObjectPath path;
};
Q_DECLARE_METATYPE(SessionEntry)

QDBusArgument &operator<<(QDBusArgument &a, const SessionEntry &s)
{
    a.beginStructure();
    a << s.id << s.uid << s.user << s.seat << s.path;
    a.endStructure();
    return a;
}
const QDBusArgument &operator>>(const QDBusArgument &a, SessionEntry &s)
{
    a.beginStructure();
    a >> s.id >> s.uid >> s.user >> s.seat >> s.path;
    a.endStructure();
    return a;
}

namespace {

class FakeLogind : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList calls;
    bool refuse = false;
    QList<SessionEntry> sessions;

public slots:
    QList<SessionEntry> ListSessions() { return sessions; }
    void PowerOff(bool interactive)
    {
        calls << QStringLiteral("PowerOff %1").arg(interactive);
        if (refuse)
            sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"), QStringLiteral("Access denied"));
    }
    void TerminateUser(uint uid) { calls << QStringLiteral("TerminateUser %1").arg(uid); }
};

}  // namespace

TEST(LogindShutdown, RequestsGoToLogindAndRefusalsAreReported)
{
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(3000) || !daemon.waitForReadyRead(3000))
        GTEST_SKIP() << "dbus-daemon cannot run here";
    const QByteArray address = daemon.readLine().trimmed();
    // Before the first use of the system bus in this process.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.constData(), 1);
    qDBusRegisterMetaType<SessionEntry>();
    qDBusRegisterMetaType<QList<SessionEntry>>();

    QDBusConnection fakeSide = QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("fake-logind"));
    ASSERT_TRUE(fakeSide.isConnected());
    FakeLogind logind;
    ASSERT_TRUE(fakeSide.registerService(QStringLiteral("org.freedesktop.login1")));
    ASSERT_TRUE(fakeSide.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                        QDBusConnection::ExportAllSlots));

    LogindShutdown shutdown;
    std::string late;
    shutdown.onLateError = [&](const std::string &why) { late = why; };

    EXPECT_TRUE(shutdown.MyExitWindows(8));
    ASSERT_TRUE(waitFor([&] { return logind.calls.size() == 1; }));
    EXPECT_EQ(logind.calls[0], QStringLiteral("PowerOff 0"));

    // The forced log-off ends the session of the person at seat0...
    const QDBusObjectPath path(QStringLiteral("/org/freedesktop/login1/session/c1"));
    logind.sessions = {{QStringLiteral("c1"), 0, QStringLiteral("root"), QString(), path},
                       {QStringLiteral("c2"), 1000, QStringLiteral("ann"), QStringLiteral("seat0"), path}};
    EXPECT_TRUE(shutdown.MyExitWindows(4));
    ASSERT_TRUE(waitFor([&] { return logind.calls.size() == 2; }));
    EXPECT_EQ(logind.calls[1], QStringLiteral("TerminateUser 1000"));

    // ...and with nobody but root there, nobody's: refused, and said why.
    logind.sessions = {{QStringLiteral("c1"), 0, QStringLiteral("root"), QStringLiteral("seat0"), path},
                       {QStringLiteral("c3"), 1001, QStringLiteral("bob"), QString(), path}};
    EXPECT_TRUE(shutdown.MyExitWindows(4));
    ASSERT_TRUE(waitFor([&] { return !late.empty(); }));
    EXPECT_NE(late.find("seat0"), std::string::npos) << late;
    EXPECT_EQ(shutdown.lastError(), late);
    EXPECT_EQ(logind.calls.size(), 2);
    late.clear();

    logind.refuse = true;
    EXPECT_TRUE(shutdown.MyExitWindows(1));
    ASSERT_TRUE(waitFor([&] { return !late.empty(); }));
    EXPECT_EQ(late, "Access denied");

    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    daemon.terminate();
    daemon.waitForFinished(3000);
}

#include "LogindShutdownTest.moc"

using namespace velora::server::frame;
using namespace velora::test;
