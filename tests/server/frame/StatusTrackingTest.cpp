#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>

#include "support/ScriptedPrompter.h"
#include "support/DialupFakes.h"
#include "support/FakeServerPlatform.h"
#include "common/Prompter.h"
#include "server/dialup/entries/RasTexts.h"
#include "server/dialup/lines/SimulatedLine.h"
#include "server/frame/ServerCore.h"
#include "support/RecordingShutdown.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server::dialup;
using namespace velora::server::frame;
using namespace velora::test;
using namespace velora::server::state;

namespace {

struct TrackingFixture : ::testing::Test {
    velora::test::TempDir dir;
    SimulatedLine *line = nullptr;
    test::FakeHostLookup *lookup = nullptr;
    test::FakeIcmpPort *icmp = nullptr;
    std::unique_ptr<ServerCore> core;

    void SetUp() override
    {
        const std::string base = dir.file("base");
        std::filesystem::create_directories(base + "/config");
        velora::test::writeFile(base + "/config/config.ini",
                        "[server]\nport=0\n[dial]\nkeepalive=1\npingip=keepalive.test\n");
        velora::test::writeFile(base + "/config/phonebook.ini",
                        "[ISP One]\nspeed=56000\naddress=10.1.1.2\ndelay=1\n"
                        "[ISP Two]\nspeed=33600\naddress=10.1.1.3\ndelay=1\n"
                        "[Busy]\nfailcode=676\nfailstate=2\ndelay=1\n");
        FakePlatformParts parts;
        ServerPlatform platform = fakePlatform(base, &parts);
        line = parts.line;
        lookup = parts.lookup;
        icmp = parts.icmp;
        ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<ServerCore>(o, std::move(platform));
        core->inisiasiawal();
        core->Timer2Timer();
    }
    const ServerState &st() const { return core->state(); }
    // Lets the simulated line walk the dial to its end: up, or failed.
    void settle()
    {
        waitFor([this] {
            std::vector<ConnectionInfo> connections;
            line->enumConnections(connections);
            return std::any_of(connections.begin(), connections.end(), [](const ConnectionInfo &c) {
                return c.state == RasState::Connected || c.errorCode != 0;
            });
        });
    }
};

}  // namespace

TEST_F(TrackingFixture, DialConnectAndHangUpThroughTheTicks)
{
    EXPECT_EQ(st().EntryListText, "ISP One\xE3ISP Two\xE3" "Busy\xE3");
    core->Timer1Timer();
    EXPECT_EQ(st().ActiveEntry, "--");
    EXPECT_EQ(st().SpeedText, "--");
    EXPECT_FALSE(core->onlineTimeTicking());

    core->dialup().executedial("ISP One", "pc7");
    EXPECT_EQ(st().DialEventText, "Dialing...");
    EXPECT_EQ(st().DialerName, "pc7");
    EXPECT_EQ(st().dialSettings.pingip, "keepalive.test");  // read at the dial
    settle();
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText, "Connected");
    EXPECT_EQ(st().ActiveEntry, "ISP One");
    EXPECT_EQ(st().ActiveDevice, "Simulated modem");
    EXPECT_TRUE(core->onlineTimeTicking());
    core->Timer1Timer();
    EXPECT_EQ(st().SpeedValue, "56000");
    EXPECT_NE(st().SpeedText.find("Kbps"), std::string::npos);

    core->dialup().executehangup();
    EXPECT_EQ(st().StatusText, "READY");
    core->Timer1Timer();
    EXPECT_EQ(st().ActiveEntry, "--");
    EXPECT_EQ(st().SpeedText, "--");
    core->Timer3Timer();  // runs once more, then stops
    EXPECT_FALSE(core->onlineTimeTicking());
    EXPECT_EQ(st().DialerName, "");
}

TEST_F(TrackingFixture, FailedDialKeepsTheNoticeUntilHangUp)
{
    core->dialup().executedial("Busy", "Local");
    settle();
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText, "The line is busy.");
    EXPECT_EQ(st().ErrorNotice, "Error press hangup button");
    core->Timer1Timer();
    EXPECT_EQ(st().ErrorNotice, "Error press hangup button");
    core->dialup().executehangup();
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText, "READY");
    EXPECT_EQ(st().ErrorNotice, "");

    // An entry the line does not know: "Error", the status stays.
    core->dialup().executedial("Gone", "Local");
    waitFor([this] { return st().StatusText != "READY"; }, 20);
    EXPECT_EQ(st().DialEventText, "Error");
    EXPECT_EQ(st().StatusText, "READY");
}

TEST_F(TrackingFixture, OutsideConnectionsAppearAndDropWithoutDialEvents)
{
    const ConnHandle a = line->connectFromOutside("ISP Two");
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText, "Connected");
    EXPECT_EQ(st().ActiveEntry, "ISP Two");
    EXPECT_TRUE(core->onlineTimeTicking());
    line->dropFromOutside(a);
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText, "READY");

    // Hanging up with two connections up hangs up both.
    line->connectFromOutside("ISP One");
    line->connectFromOutside("ISP Two");
    core->Timer1Timer();
    core->dialup().executehangup();
    std::vector<ConnectionInfo> left;
    line->enumConnections(left);
    EXPECT_TRUE(left.empty());

    // Hanging up with nothing up still reads READY and clears the event text.
    core->dialup().executedial("Gone", "Local");
    ASSERT_EQ(st().DialEventText, "Error");
    core->Timer1Timer();
    core->dialup().executehangup();
    EXPECT_EQ(st().StatusText, "READY");
    EXPECT_EQ(st().DialEventText, "");
}

TEST_F(TrackingFixture, KeepAlivePingsEveryThirtySecondsWithAFreshLookup)
{
    core->dialup().executedial("ISP One", "Local");
    settle();
    core->Timer1Timer();
    ASSERT_EQ(st().StatusText, "Connected");
    for (int s = 0; s <= 61; ++s) {
        core->Timer3Timer();
        if (lookup->pending) {
            lookup->complete(0, "10.9.9.9");
            waitFor([this] { return icmp->inFlight; }, 1000);
        }
        if (icmp->inFlight)
            icmp->finish(0);
    }
    EXPECT_EQ(lookup->started, (std::vector<std::string>{"keepalive.test", "keepalive.test", "keepalive.test"}));
    ASSERT_EQ(icmp->sent.size(), 3u);
    EXPECT_EQ(icmp->sent[0].ttl, 64);
    EXPECT_EQ(icmp->sent[0].timeoutMs, 400);
    EXPECT_EQ(st().SecondsOnline, 62u);
    EXPECT_EQ(st().TimeOnlineText, "0:1:1");

    // A look-up that cannot start turns keep-alive off until the next dial.
    lookup->refuseToStart = true;
    while (st().SecondsOnline % 30 != 0)
        core->Timer3Timer();
    core->Timer3Timer();
    EXPECT_FALSE(st().dialSettings.keepalive);
    lookup->refuseToStart = false;
    for (int s = 0; s < 40; ++s)
        core->Timer3Timer();
    EXPECT_EQ(lookup->started.size(), 3u);
    core->dialup().executedial("ISP One", "Local");
    EXPECT_TRUE(st().dialSettings.keepalive);
}

TEST_F(TrackingFixture, OperatorCommandsAskBeforeOverridingTheLock)
{
    ScriptedPrompter prompter;
    core->dialup().operatorDial("", prompter);
    ASSERT_EQ(prompter.said.size(), 1u);
    EXPECT_EQ(prompter.said[0].text, "You have not choose an entry yet");

    core->operatorLock();
    core->Timer1Timer();
    ASSERT_EQ(st().LockStatus, server::state::LineLock::Locked);
    prompter.answers = {Prompter::Button::No};
    core->dialup().operatorDial("ISP One", prompter);
    EXPECT_EQ(prompter.said.back().text,
              "Velora has detected that connection is currently locked\nDo you want to force dialing anyway ?");
    EXPECT_EQ(st().DialEventText, "");
    prompter.answers = {Prompter::Button::Yes};
    core->dialup().operatorDial("ISP One", prompter);
    EXPECT_EQ(st().DialerName, "Local");
    prompter.answers = {Prompter::Button::Yes};
    core->dialup().operatorHangup(prompter);
    EXPECT_EQ(prompter.said.back().text,
              "Velora has detected that connection is currently locked\nDo you want to force hang up anyway ?");
    EXPECT_EQ(st().StatusText, "READY");
}
