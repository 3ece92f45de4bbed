#include <gtest/gtest.h>

#include <QTcpSocket>

#include "support/ServerProcess.h"

using namespace velora::test;

using namespace velora::test;

TEST(ServerStartup, GoesOnlineAndASecondInstanceLeavesAtOnce)
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
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_TRUE(second.readAll().isEmpty());
    EXPECT_EQ(server.process().state(), QProcess::Running);

    // A server of another base dir runs beside it.
    ServerProcess other(dir.file("other"));
    other.writeConfig("[server]\nport=" + std::to_string(freePort()) + "\n");
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
