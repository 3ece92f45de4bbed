#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

#include "common/CredentialCipher.h"
#include "common/WireCodec.h"
#include "support/FakeServerPlatform.h"
#include "server/frame/ServerCore.h"
#include "support/RecordingShutdown.h"
#include "support/TestFiles.h"
#include "support/Wait.h"
#include "common/CredentialCipher.h"

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

// Writes over the start of the file, keeping its inode, size and times, as
// an editor that saves in place within the same second does.
void rewriteInPlace(const std::string &path, const std::string &content)
{
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(static_cast<off_t>(content.size()), before.st_size);
    std::FILE *f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::string userLine(const std::string &name)
{
    std::string l = name + wire::ListSep + "desk" + wire::ListSep + Encrypt("pw") + wire::ListSep;
    for (const char flag : std::string("0111"))
        l += std::string(1, flag) + wire::ListSep;
    return l + "\r\n";
}
}  // namespace

TEST_F(CoreFixture, TheStoresFollowEveryEditOfTheirFilesWithinTwoSeconds)
{
    config("[server]\nport=0\n");
    const std::string phonebook = base() + "/config/phonebook.ini";
    const std::string users = base() + "/config/user.cfg";
    test::writeFile(phonebook, "[Metro]\ndelay=5\n");
    test::writeFile(users, userLine("ann"));
    ServerCore core(options(), fakePlatform(base()));
    core.inisiasiawal();
    core.Timer2Timer();
    using Names = std::vector<std::string>;
    ASSERT_EQ(core.state().EntryNames, Names{"Metro"});

    std::FILE *f = std::fopen(phonebook.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fputs("[Rural]\ndelay=5\n", f);
    std::fclose(f);
    EXPECT_TRUE(waitFor([&] { return core.state().EntryNames == Names{"Metro", "Rural"}; }, 2000)) << "appended";

    rewriteInPlace(phonebook, "[Metra]\ndelay=5\n[Rural]\ndelay=5\n");
    EXPECT_TRUE(waitFor([&] { return core.state().EntryNames == Names{"Metra", "Rural"}; }, 2000))
        << "the same size and times";

    rewriteInPlace(users, userLine("bob"));
    auto firstUser = [&] {
        const auto records = core.users().records();
        return records.empty() ? std::string() : records[0].name;
    };
    EXPECT_TRUE(waitFor([&] { return firstUser() == "bob"; }, 2000)) << firstUser();
}

TEST_F(CoreFixture, SecondStageGoesOnlineAndOfflineOnRequest)
{
    config("[server]\nport=0\n");
    ServerCore core(options(), fakePlatform(base()));
    core.inisiasiawal();
    core.Timer2Timer();
    ASSERT_TRUE(core.isOnline());
    EXPECT_EQ(core.state().ServerState, ServerMode::Online);
    EXPECT_EQ(core.state().StatusText, "READY");

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), core.listeningPort());
    ASSERT_TRUE(client.waitForConnected(2000));
    ASSERT_TRUE(waitFor([&] { return core.clients().sessionCount() == 1; }));

    core.goOffline();
    EXPECT_FALSE(core.isOnline());
    EXPECT_EQ(core.state().ServerState, ServerMode::Offline);
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
        EXPECT_EQ(core.state().ServerState, ServerMode::Offline);
    }

    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    config("[server]\nport=" + std::to_string(taken.serverPort()) + "\n");
    ServerCore core(options(), fakePlatform(base()));
    QSignalSpy problems(&core, &ServerCore::problem);
    core.inisiasiawal();
    core.Timer2Timer();
    EXPECT_FALSE(core.isOnline());
    EXPECT_EQ(core.state().ServerState, ServerMode::Offline);
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
    test::writeFile(base() + "/config/user.cfg",
                    "ann\xE3" "desk\xE3" + velora::Encrypt("pw") + "\xE3" "0\xE3" "1\xE3" "1\xE3" "0\xE3\r\n");
    ServerCore core(options(), fakePlatform(base()));
    core.inisiasiawal();
    core.Timer2Timer();  // online, and no status tick has run yet
    ASSERT_TRUE(core.isOnline());
    EXPECT_EQ(core.state().LockStatus, LineLock::Free);

    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), core.listeningPort());
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write(("connect\xE0pc7\xE0" "10.0.0.7\xE0" "ann\xE0" + velora::Encrypt("pw") + "\xE0\r\n").c_str());
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
