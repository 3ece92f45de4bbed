// The line policies of [policy] on the simulated line, with both ticks
// driven by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/frame/ServerCore.h"
#include "support/FakeServerPlatform.h"
#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server::dialup;
using namespace velora::server::frame;
using namespace velora::test;

namespace {

struct PolicyFixture : ::testing::Test {
    TempDir dir;
    std::string base = dir.file("base");
    SimulatedLine *line = nullptr;
    std::unique_ptr<ServerCore> core;
    std::vector<std::string> notes;
    std::int64_t clockMs = 0;
    bool clockRuns = false;

    void startCore(const std::string &policy, const std::string &dial = "")
    {
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=0\n[dial]\n" + dial + "[policy]\n" + policy);
        writeFile(base + "/config/user.cfg", "");
        writeFile(base + "/config/phonebook.ini",
                  "[ISP One]\nspeed=56000\ndelay=1\n[Busy]\nfailcode=676\nfailstate=2\ndelay=1\n");
        FakePlatformParts parts;
        ServerPlatform platform = fakePlatform(base, &parts);
        line = parts.line;
        line->setClock([this] { return clockMs; });
        ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<ServerCore>(o, std::move(platform));
        QObject::connect(core.get(), &OperatorConsole::problem,
                         [this](const QString &text) { notes.push_back(text.toStdString()); });
        core->inisiasiawal();
        core->Timer2Timer();
    }
    const server::state::ServerState &st() const { return core->state(); }
    std::size_t connections()
    {
        std::vector<ConnectionInfo> c;
        line->enumConnections(c);
        return c.size();
    }
    bool tickUntil(const std::function<bool()> &done, int ms = 3000)
    {
        return waitFor([&] {
            core->Timer1Timer();
            return done();
        }, ms);
    }
    void connect(const std::string &entry = "ISP One")
    {
        core->dialup().executedial(entry, "pc7");
        ASSERT_TRUE(tickUntil([this] { return st().StatusText == "Connected"; }));
    }
    void dropFromOutside()
    {
        std::vector<ConnectionInfo> c;
        line->enumConnections(c);
        ASSERT_EQ(c.size(), 1u);
        line->dropFromOutside(c[0].handle);
        core->Timer1Timer();
    }
    // One second online: two status ticks and one online-time tick.
    void second()
    {
        if (clockRuns)
            clockMs += 1000;
        core->Timer1Timer();
        core->Timer1Timer();
        core->Timer3Timer();
    }
    bool noted(const std::string &part) const
    {
        for (const std::string &n : notes)
            if (n.find(part) != std::string::npos)
                return true;
        return false;
    }
};

}  // namespace

TEST_F(PolicyFixture, TheConfigurationPageKeepsThePolicyKeys)
{
    startCore("");
    EXPECT_EQ(core->settings().policy, PolicySettings{});
    PolicySettings p;
    p.redial = true;
    p.redialholdoff = 12;
    p.redialmaxfail = 5;
    p.idlehangup = 10;
    p.idlebytes = 2048;
    p.monthlybudget = " 150000.5 ";
    core->settings().policy = p;
    ASSERT_TRUE(core->savecfg().ok);
    p.monthlybudget = "150000.5";
    EXPECT_EQ(core->settings().policy, p);
    EXPECT_EQ(core->config().policySettings(), p);

    EXPECT_EQ(costUnits("150000.5"), 1500005000);
    EXPECT_EQ(costUnits("12,25"), 122500);
    EXPECT_EQ(costUnits("abc"), std::nullopt);
    EXPECT_EQ(costUnits(""), std::nullopt);
}

TEST_F(PolicyFixture, ADroppedLineIsRedialledAfterTheHoldOff)
{
    startCore("redial=1\nredialholdoff=2\nredialmaxfail=2\n");
    connect();
    dropFromOutside();
    EXPECT_EQ(st().StatusText, "Redialing in 2 s (attempt 1 of 2)");
    core->Timer1Timer();
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText, "Redialing in 1 s (attempt 1 of 2)");
    core->Timer1Timer();
    EXPECT_EQ(connections(), 0u);
    core->Timer1Timer();
    EXPECT_EQ(connections(), 1u);
    ASSERT_TRUE(tickUntil([this] { return st().StatusText == "Connected"; }));
    EXPECT_EQ(st().ActiveEntry, "ISP One");
    // The redial is on the audit trail, as the server's own dial.
    const auto rows = core->logDatabase().auditRows(10);
    ASSERT_TRUE(rows);
    ASSERT_FALSE(rows->empty());
    EXPECT_EQ(rows->front().user, "server");
    EXPECT_EQ(rows->front().action, "redial");
    EXPECT_EQ(rows->front().detail, "ISP One, attempt 1 of 2");

    // A connection that came back counts its failures from nothing again.
    dropFromOutside();
    EXPECT_EQ(st().StatusText, "Redialing in 2 s (attempt 1 of 2)");
}

TEST_F(PolicyFixture, ConsecutiveFailuresEndTheRedials)
{
    startCore("redial=1\nredialholdoff=0\nredialmaxfail=2\n");
    std::vector<std::string> seen;
    std::vector<std::string> entries;  // "Connected via" while it fails
    core->dialup().executedial("Busy", "Local");
    ASSERT_TRUE(tickUntil([&] {
        if (seen.empty() || seen.back() != st().StatusText)
            seen.push_back(st().StatusText);
        entries.push_back(core->statusView().entry);
        return noted("given up after 2 failed attempts");
    }));
    std::vector<std::string> redials;
    for (const std::string &s : seen)
        if (s.rfind("Redialing in", 0) == 0)
            redials.push_back(s);
    // Why it failed, after the count down.
    EXPECT_EQ(redials, (std::vector<std::string>{"Redialing in 0 s (attempt 1 of 2) after: The line is busy.",
                                                 "Redialing in 0 s (attempt 2 of 2) after: The line is busy."}));
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "--"), static_cast<std::ptrdiff_t>(entries.size()));
    EXPECT_EQ(st().StatusText, "The line is busy.");
    EXPECT_FALSE(tickUntil([this] { return core->policy().redialPending(); }, 200));
}

TEST_F(PolicyFixture, AHangUpALockChangeOrGoingOfflineCancelsAPendingRedial)
{
    startCore("redial=1\nredialholdoff=5\nredialmaxfail=3\n");
    connect();
    dropFromOutside();
    ASSERT_TRUE(core->policy().redialPending());
    core->dialup().executehangup();
    EXPECT_EQ(st().StatusText, "READY");
    EXPECT_FALSE(tickUntil([this] { return connections() > 0 || core->policy().redialPending(); }, 200));

    connect();
    dropFromOutside();
    ASSERT_TRUE(core->policy().redialPending());
    core->operatorLock();
    core->Timer1Timer();  // the line's lock word follows
    core->Timer1Timer();
    EXPECT_FALSE(core->policy().redialPending());
    EXPECT_EQ(st().StatusText, "READY");
    EXPECT_TRUE(noted("Redial cancelled: the lock changed"));

    connect();
    dropFromOutside();
    ASSERT_TRUE(core->policy().redialPending());
    core->goOffline();
    EXPECT_FALSE(core->policy().redialPending());
    EXPECT_FALSE(tickUntil([this] { return connections() > 0; }, 200));
}

TEST_F(PolicyFixture, WithoutPolicyKeysADropStaysDown)
{
    startCore("");
    connect();
    dropFromOutside();
    EXPECT_EQ(st().StatusText, "READY");
    EXPECT_FALSE(tickUntil([this] { return connections() > 0; }, 200));
}

TEST_F(PolicyFixture, AnIdleLineIsHungUpButNotWhileLockedOrBusy)
{
    startCore("idlehangup=2\n");
    connect();
    // The frozen clock moves no bytes; the second idle minute ends the line.
    for (int s = 0; s < 120; ++s)
        second();
    EXPECT_EQ(connections(), 1u);
    second();
    EXPECT_EQ(connections(), 0u);
    EXPECT_TRUE(noted("fewer than 1024 bytes a minute for 2 minutes"));
    core->Timer1Timer();
    core->Timer3Timer();

    // Locked: never for idleness.
    notes.clear();
    core->operatorLock();
    connect();
    for (int s = 0; s < 300; ++s)
        second();
    EXPECT_EQ(connections(), 1u);
    core->operatorUnlock();
    core->Timer1Timer();

    // Busy: the simulated modem moves its speed's worth while the clock runs.
    clockRuns = true;
    for (int s = 0; s < 300; ++s)
        second();
    EXPECT_EQ(connections(), 1u);
    EXPECT_FALSE(noted("bytes a minute"));
}

TEST_F(PolicyFixture, ASpentBudgetRefusesDialsUnlessTheOperatorConfirms)
{
    startCore("monthlybudget=100\n", "connectionlogging=1\n");
    ASSERT_TRUE(core->logDatabase().saveHarga("ISP One", "3600"));  // one unit a second
    server::state::ServerState earlier;
    earlier.ActiveEntry = "ISP One";
    earlier.SecondsOnline = 100;
    ASSERT_TRUE(core->logDatabase().writelog(0, earlier));
    core->logDatabase().forgetRow();
    ASSERT_EQ(core->monthCost(), 1000000);

    core->dialup().executedial("ISP One", "pc7");  // a client's dial
    EXPECT_EQ(st().StatusText, "Monthly budget reached");
    EXPECT_EQ(connections(), 0u);

    ScriptedPrompter prompter;
    prompter.answers = {Prompter::Button::No};
    core->operatorDial("ISP One", prompter);
    ASSERT_EQ(prompter.said.size(), 1u);
    EXPECT_EQ(prompter.said[0].text, "Monthly budget reached\nDo you want to dial anyway ?");
    EXPECT_EQ(connections(), 0u);
    prompter.answers = {Prompter::Button::Yes};
    core->operatorDial("ISP One", prompter);
    EXPECT_EQ(connections(), 1u);
    // The confirmation was for that one dial.
    core->dialup().executehangup();
    core->dialup().executedial("ISP One", "pc7");
    EXPECT_EQ(connections(), 0u);
}

TEST_F(PolicyFixture, ACrossedBudgetWarnsEveryoneAndHangsUpAMinuteLater)
{
    startCore("monthlybudget=100\n", "connectionlogging=1\n");
    ASSERT_TRUE(core->logDatabase().saveHarga("ISP One", "3600"));
    connect();
    const auto *own = core->clients().clientList().at(0);
    for (int s = 0; s < 60; ++s)
        second();
    EXPECT_EQ(own->Mailbox.find("budget"), std::string::npos);
    // At 60 units the next minute would pass 100.
    core->Timer3Timer();
    EXPECT_NE(own->Mailbox.find("\xE3The monthly budget is spent in one minute: the line will then be hung up.\xE4\xE3\xE5"),
              std::string::npos);
    EXPECT_EQ(own->Mailbox.find(ServerCore::ownAddress() + "\xE3" + ServerCore::ownClientName() + "\xE3"), 0u);
    for (int s = 61; s < 120; ++s)
        second();
    EXPECT_EQ(connections(), 1u);
    second();
    EXPECT_EQ(connections(), 0u);
    EXPECT_TRUE(noted("the monthly budget of 100 is spent"));
}

TEST_F(PolicyFixture, AFirstMinuteThatWouldCrossTheBudgetIsWarnedOfAtOnce)
{
    startCore("monthlybudget=50\n", "connectionlogging=1\n");
    ASSERT_TRUE(core->logDatabase().saveHarga("ISP One", "3600"));
    server::state::ServerState earlier;
    earlier.ActiveEntry = "ISP One";
    earlier.SecondsOnline = 20;
    ASSERT_TRUE(core->logDatabase().writelog(0, earlier));
    core->logDatabase().forgetRow();
    connect();
    const auto *own = core->clients().clientList().at(0);
    second();
    EXPECT_NE(own->Mailbox.find("The monthly budget is spent in one minute"), std::string::npos)
        << "20 spent, 60 more in the first minute, 50 the budget";
    for (int s = 1; s < 60; ++s)
        second();
    EXPECT_EQ(connections(), 1u);
    second();
    EXPECT_EQ(connections(), 0u) << "hung up at 1:00";
    EXPECT_EQ(core->monthCost(), 800000);
}

TEST_F(PolicyFixture, AFailedDialAwaitingItsRedialShowsTheWaitNotTheError)
{
    startCore("redial=1\nredialholdoff=5\nredialmaxfail=1\n");
    core->dialup().executedial("Busy", "Local");
    ASSERT_TRUE(tickUntil([this] { return core->policy().redialPending(); }));
    core->Timer1Timer();
    EXPECT_EQ(st().StatusText.rfind("Redialing in", 0), 0u) << st().StatusText;
    EXPECT_EQ(st().ErrorNotice, "");
    // Once given up the failure is final and shown as such.
    ASSERT_TRUE(tickUntil([this] { return noted("given up after 1 failed attempts"); }));
    core->Timer1Timer();
    EXPECT_EQ(st().ErrorNotice, "Error press hangup button");
}
