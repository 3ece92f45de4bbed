#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include "support/FakeServerPlatform.h"
#include "server/frame/ServerCore.h"
#include "support/RecordingShutdown.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::test;
using namespace velora::server::state;

namespace {
struct CoreFixture : ::testing::Test {
    test::TempDir dir;
    std::string base() { return dir.file("base"); }
    void config(const std::string &content)
    {
        std::filesystem::create_directories(base() + "/config");
        test::writeFile(base() + "/config/config.ini", content);
    }
    ServerOptions options()
    {
        ServerOptions o;
        o.baseDir = base();
        o.listenAddress = "127.0.0.1";
        return o;
    }
};
}  // namespace

TEST_F(CoreFixture, SecondStageGoesOnlineAndOfflineOnRequest)
{
    config("[server]\nport=0\n");
    ServerCore core(options(), fakePlatform(base()));
    core.inisiasiawal();
    core.Timer2Timer();
    ASSERT_TRUE(core.isOnline());
    EXPECT_EQ(core.state().ServerState, "online");
    EXPECT_EQ(core.state().StatusText, "READY");

    QSignalSpy accepted(&core, &ServerCore::newConnection);
    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), core.listeningPort());
    ASSERT_TRUE(client.waitForConnected(2000));
    ASSERT_TRUE(accepted.wait(2000));

    core.goOffline();
    EXPECT_FALSE(core.isOnline());
    EXPECT_EQ(core.state().ServerState, "offline");
    ASSERT_TRUE(core.goOnline());
    EXPECT_TRUE(core.isOnline());
}

TEST_F(CoreFixture, OnlineStartupOffAndBusyPortStayOffline)
{
    config("[general]\nonlinestartup=0\n[server]\nport=0\n");
    {
        ServerCore core(options(), fakePlatform(base()));
        core.inisiasiawal();
        core.Timer2Timer();
        EXPECT_FALSE(core.isOnline());
        EXPECT_EQ(core.state().ServerState, "offline");
    }

    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    config("[server]\nport=" + std::to_string(taken.serverPort()) + "\n");
    ServerCore core(options(), fakePlatform(base()));
    QSignalSpy problems(&core, &ServerCore::problem);
    core.inisiasiawal();
    core.Timer2Timer();
    EXPECT_FALSE(core.isOnline());
    EXPECT_EQ(core.state().ServerState, "offline");
    const std::string why = core.lastListenError();
    EXPECT_NE(why.find(std::to_string(taken.serverPort())), std::string::npos) << why;
    EXPECT_NE(why.find("in use"), std::string::npos) << why;
    ASSERT_GE(problems.count(), 1);

    // Out of range is the default port, and said so.
    config("[server]\nport=70000\n");
    core.loadcfg();
    EXPECT_EQ(core.config().listenPort(), 225);
    EXPECT_NE(problems.back().at(0).toString().indexOf(QStringLiteral("port=70000 is not a whole number")), -1);
}

TEST_F(CoreFixture, ADialRightAfterGoingOnlineIsCarriedOut)
{
    config("[server]\nport=0\n");
    test::writeFile(base() + "/config/phonebook.ini", "[Metro]\ndelay=50\n");
    ServerCore core(options(), fakePlatform(base()));
    core.inisiasiawal();
    core.Timer2Timer();  // online, and no status tick has run yet
    ASSERT_TRUE(core.isOnline());
    EXPECT_EQ(core.state().LockStatus, "free");

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), core.listeningPort());
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write("dial\xE0Metro\xE0pc7\xE0\r\n");
    EXPECT_TRUE(velora::test::waitFor([&] { return core.state().DialerName == "pc7"; }, 2000));
    EXPECT_EQ(core.state().DialEventText, "Dialing...");
}

TEST_F(CoreFixture, AnIncompletePlatformIsRefusedByName)
{
    ServerPlatform p = fakePlatform(base());
    p.icmp.reset();
    EXPECT_THROW(
        {
            try {
                ServerCore core(options(), std::move(p));
            } catch (const std::invalid_argument &e) {
                EXPECT_NE(std::string(e.what()).find("icmp"), std::string::npos);
                throw;
            }
        },
        std::invalid_argument);
}
