#include <gtest/gtest.h>

#include <QTcpSocket>

#include "support/ServerProcess.h"

#include <sys/stat.h>

using namespace velora::test;

TEST(ServerStartup, GoesOnlineAndASecondInstanceSaysWhyItLeaves)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port " + std::to_string(port))) << server.output();

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), port);
    EXPECT_TRUE(client.waitForConnected(2000));

    QProcess second;
    QElapsedTimer t;
    t.start();
    second.start(QStringLiteral(VELORA_SERVER_BINARY),
                 {QStringLiteral("--headless"), QStringLiteral("--basedir"),
                  QString::fromStdString(server.baseDir())});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_LT(t.elapsed(), 2000);
    const std::string why = second.readAllStandardError().toStdString();
    EXPECT_EQ(why, "velora: another velora server already runs on this base dir (it holds " + server.baseDir() +
                       "/config/velora.lock); not started\n");
    EXPECT_EQ(server.process().state(), QProcess::Running);

    // A server of another base dir runs beside it.
    ServerProcess other(dir.file("other"));
    other.writeConfig("[server]\nport=0\n");
    other.start();
    EXPECT_TRUE(other.waitForOutput("listening on port")) << other.output();

    // SIGTERM ends it in order.
    server.process().terminate();
    ASSERT_TRUE(server.process().waitForFinished(5000));
    EXPECT_EQ(server.process().exitCode(), 0);
}

TEST(ServerStartup, PortInUseIsReportedAndTheServerKeepsRunningOffline)
{
    TempDir dir;
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    ServerProcess server(dir.file("base"));
    server.writeConfig("[server]\nport=" + std::to_string(taken.serverPort()) + "\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("offline")) << server.output();
    const std::string out = server.output();
    EXPECT_NE(out.find("cannot listen on port " + std::to_string(taken.serverPort()) + ": "),
              std::string::npos) << out;
    EXPECT_NE(out.find("in use"), std::string::npos) << out;
    EXPECT_FALSE(server.process().waitForFinished(300));
    EXPECT_EQ(server.process().state(), QProcess::Running);
}

TEST(ServerStartup, NonNumericPortMeansTheDefaultPort)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    server.writeConfig("[server]\nport=abc\n");
    server.start();
    // As root it may bind 225, elsewhere it may not; either way 225 is what it tried.
    ASSERT_TRUE(server.waitForOutput("port 225")) << server.output();
    EXPECT_NE(server.output().find("[server] port=abc is not a whole number from 0 to 65535; using 225"),
              std::string::npos) << server.output();
}

TEST(ServerStartup, InstallAndUninstallWriteAndRemoveTheUnit)
{
    TempDir dir;
    const std::string unitDir = dir.file("units");
    std::filesystem::create_directories(unitDir);
    auto run = [&](QStringList args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELORA_UNIT_DIR"), QString::fromStdString(unitDir));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VELORA_SERVER_BINARY), args);
        p.waitForFinished(5000);
        return std::make_pair(p.exitCode(), (p.readAllStandardOutput() + p.readAllStandardError()).toStdString());
    };
    const std::string unit = unitDir + "/VLOOSERVER.service";
    const QString base = QString::fromStdString(dir.file("my base"));

    auto [rc, out] = run({QStringLiteral("-INSTALL"), QStringLiteral("--basedir"), base});
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "Service installed successfully\n");
    const std::string text = readFile(unit);
    EXPECT_NE(text.find("Description=Velora server\n"), std::string::npos);
    EXPECT_NE(text.find("After=network-online.target"), std::string::npos);
    EXPECT_NE(text.find(" --service --headless --basedir \"" + dir.file("my base") + "\""), std::string::npos) << text;

    std::tie(rc, out) = run({QStringLiteral("/uninstall")});
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "Service uninstalled successfully\n");
    EXPECT_FALSE(std::filesystem::exists(unit));

    std::tie(rc, out) = run({QStringLiteral("/Uninstall")});
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("VLOOSERVER"), std::string::npos) << out;

    std::tie(rc, out) = run({QStringLiteral("-install"), QStringLiteral("-SILENT")});
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(std::filesystem::exists(unit));
    std::tie(rc, out) = run({QStringLiteral("-UNINSTALL"), QStringLiteral("/silent")});
    EXPECT_EQ(out, "");
    EXPECT_FALSE(std::filesystem::exists(unit));
}

namespace {

struct Started {
    int exitCode = -1;  // -1: still running when asked
    std::string output;
};

// The server on baseDir with extra switches, under the given umask, until it
// says `until` or ends.
Started runServer(const std::string &baseDir, QStringList extra, const std::string &until, mode_t mask = 022)
{
    QProcess p;
    QStringList args{QStringLiteral("--headless"), QStringLiteral("--no-shutdown"), QStringLiteral("--basedir"),
                     QString::fromStdString(baseDir)};
    const mode_t old = ::umask(mask);
    p.start(QStringLiteral(VELORA_SERVER_BINARY), args + extra);
    p.waitForStarted(5000);
    ::umask(old);
    Started s;
    QElapsedTimer t;
    t.start();
    while (s.output.find(until) == std::string::npos && p.state() != QProcess::NotRunning && t.elapsed() < 8000) {
        p.waitForReadyRead(50);
        s.output += p.readAllStandardError().toStdString();
    }
    if (p.state() == QProcess::NotRunning || p.waitForFinished(100)) {
        s.output += p.readAllStandardError().toStdString();
        s.exitCode = p.exitCode();
    } else {
        p.terminate();
        p.waitForFinished(5000);
    }
    return s;
}

}  // namespace

TEST(ServerStartup, ALinkPlantedAsTheLockIsNotFollowed)
{
    TempDir dir;
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    ::chmod((base + "/config").c_str(), 0700);
    std::filesystem::create_symlink(dir.file("nologin"), base + "/config/velora.lock");
    const Started s = runServer(base, {}, "not started");
    EXPECT_EQ(s.exitCode, 1) << s.output;
    EXPECT_NE(s.output.find("cannot open the single-instance lock " + base + "/config/velora.lock"),
              std::string::npos) << s.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("nologin")));
}

TEST(ServerStartup, FilesAreMadePrivateWhateverTheUmaskAndAServiceRefusesWritableOnes)
{
    TempDir dir;
    // A first start of the service: it makes everything itself, under umask 000.
    const std::string base = dir.file("fresh");
    const Started fresh = runServer(base, {QStringLiteral("--service")}, "velora: line:", 0);
    EXPECT_EQ(fresh.output.find("may be changed"), std::string::npos) << fresh.output;
    EXPECT_EQ(modeOf(base), 0700u);
    EXPECT_EQ(modeOf(base + "/config"), 0700u);
    for (const char *name : {"config.ini", "phonebook.ini", "log.db", "velora.lock"})
        EXPECT_EQ(modeOf(base + "/config/" + name), 0600u) << name;

    // Then another local user's hand in its files: warned as a program,
    // refused as a service.
    ::chmod((base + "/config").c_str(), 0777);
    ::chmod((base + "/config/config.ini").c_str(), 0666);
    const Started service = runServer(base, {QStringLiteral("--service")}, "not start");
    EXPECT_EQ(service.exitCode, 1) << service.output;
    EXPECT_NE(service.output.find("velora: " + base + "/config may be changed by other users of this computer (mode 0777)"),
              std::string::npos) << service.output;
    EXPECT_NE(service.output.find(base + "/config/config.ini may be changed"), std::string::npos) << service.output;
    EXPECT_NE(service.output.find("velora: the service does not start while other users may change its files\n"),
              std::string::npos) << service.output;

    const Started program = runServer(base, {}, "velora: line:");
    EXPECT_EQ(program.exitCode, -1) << program.output;
    EXPECT_NE(program.output.find("warning: " + base + "/config/config.ini may be changed"), std::string::npos)
        << program.output;
}
