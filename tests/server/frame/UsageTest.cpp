// Usage by computer: the meter's reads of a fake counter source into the
// usage rows, the billing cycle's boundaries, and the volume cap on the
// simulated line with both ticks driven by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "server/frame/ServerCore.h"
#include "server/frame/UsageMeter.h"
#include "support/FakeServerPlatform.h"
#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server;
using namespace velora::server::frame;
using namespace velora::test;
using log::BillingCycle;
using log::ComputerUsage;

namespace {

QDate d(int y, int m, int day) { return QDate(y, m, day); }

struct MeterFixture : ::testing::Test {
    TempDir dir;
    log::LogDatabase db;
    state::ServerState st;
    FakeUsageCounters counters;
    QDate today = d(2026, 3, 14);
    std::string iface = "ppp0";
    std::unique_ptr<UsageMeter> meter;

    void SetUp() override
    {
        ASSERT_TRUE(db.open(dir.file("log.db")));
        makeMeter();
        st.ActiveStatus = state::LinkState::Connected;
        st.dialSettings.ics = true;
    }
    void makeMeter()
    {
        meter = std::make_unique<UsageMeter>(
            st, UsageMeter::Parts{counters, db, [this] { return iface; },
                                  [](const std::string &a) { return a == "192.168.1.5" ? std::string("pc-five") : a; },
                                  [] { return std::string("Admin@server"); }, [this] { return today; }});
    }
    // Online seconds from..to-1, as the online-time tick runs them.
    void online(int from, int to)
    {
        for (int s = from; s < to; ++s) {
            st.SecondsOnline = std::uint64_t(s);
            meter->secondTick();
        }
    }
    std::vector<ComputerUsage> rows() { return *meter->book().computers(log::cycleOf(today, 1)); }
    std::uint64_t upOf(const std::string &address)
    {
        for (const ComputerUsage &c : rows())
            if (c.address == address)
                return c.up;
        return 0;
    }
};

}  // namespace

TEST_F(MeterFixture, MinuteReadsBookWhatEachComputerGainedNamedByItsClient)
{
    counters.move("192.168.1.5", 5000, 100);  // before the counting began here: not ours
    online(0, 1);
    ASSERT_EQ(counters.counted, std::vector<std::string>{"ppp0"});
    counters.move("192.168.1.5", 1000, 300);
    counters.move("192.168.1.9", 10, 20);
    counters.figures.ownDown = 7;
    counters.figures.ownUp = 3;
    online(1, 60);
    EXPECT_TRUE(rows().empty()) << "nothing is booked before the whole minute";
    online(60, 61);
    EXPECT_EQ(rows(), (std::vector<ComputerUsage>{{"192.168.1.5", "pc-five", 1000, 300},
                                                  {"192.168.1.9", "192.168.1.9", 10, 20},
                                                  {log::kThisComputer, "Admin@server", 7, 3}}));
    // The next minute books only the gain.
    counters.move("192.168.1.9", 0, 5000);
    online(61, 121);
    EXPECT_EQ(upOf("192.168.1.9"), 5020u);
    EXPECT_EQ(rows().front().address, "192.168.1.9") << "largest first";

    // The line drops: its last seconds are read once, then nothing more.
    counters.move("192.168.1.5", 0, 40);
    st.ActiveStatus = state::LinkState::None;
    const int reads = counters.reads;
    meter->secondTick();
    meter->secondTick();
    EXPECT_EQ(counters.reads, reads + 1);
    EXPECT_EQ(upOf("192.168.1.5"), 340u);
}

TEST_F(MeterFixture, ACounterResetOrARestartLosesAtMostTheLastMinute)
{
    online(0, 1);
    counters.move("192.168.1.5", 0, 1000);
    online(1, 61);
    // The table was made again: 300 counted since then are all new.
    counters.figures.computers = {{"192.168.1.5", 0, 300}};
    online(61, 121);
    EXPECT_EQ(upOf("192.168.1.5"), 1300u);

    // A restart of the server: the counters it finds were booked up to the
    // previous run's last minute, and the 50 since then are lost.
    counters.move("192.168.1.5", 0, 50);
    makeMeter();
    online(0, 1);
    counters.move("192.168.1.5", 0, 200);
    online(1, 61);
    EXPECT_EQ(upOf("192.168.1.5"), 1500u);
}

TEST_F(MeterFixture, NothingIsCountedWithoutSharingAndAFailedReadIsToldOnce)
{
    st.dialSettings.ics = false;
    online(0, 61);
    EXPECT_TRUE(counters.counted.empty());
    EXPECT_EQ(counters.reads, 0);

    st.dialSettings.ics = true;
    std::vector<QString> told;
    QObject::connect(meter.get(), &UsageMeter::problem, [&](const QString &t) { told.push_back(t); });
    counters.unreadable = true;
    online(0, 181);
    EXPECT_EQ(told.size(), 1u);
}

TEST(BillingCycle, StartsOnTheBillingDayAcrossMonthsFebruaryAndTheYearsTurn)
{
    using log::cycleOf;
    EXPECT_EQ(cycleOf(d(2026, 3, 14), 15), (BillingCycle{d(2026, 2, 15), d(2026, 3, 14)}));
    EXPECT_EQ(cycleOf(d(2026, 3, 15), 15), (BillingCycle{d(2026, 3, 15), d(2026, 4, 14)}));
    EXPECT_EQ(cycleOf(d(2026, 2, 14), 15).days(), 31);
    EXPECT_EQ(cycleOf(d(2026, 2, 20), 15).days(), 28);
    EXPECT_EQ(cycleOf(d(2028, 2, 20), 15).days(), 29);
    EXPECT_EQ(cycleOf(d(2027, 1, 3), 15), (BillingCycle{d(2026, 12, 15), d(2027, 1, 14)}));
    EXPECT_EQ(cycleOf(d(2026, 12, 31), 1), (BillingCycle{d(2026, 12, 1), d(2026, 12, 31)}));
    EXPECT_EQ(cycleOf(d(2026, 2, 28), 28), (BillingCycle{d(2026, 2, 28), d(2026, 3, 27)}));
    EXPECT_EQ(cycleOf(d(2026, 5, 1), 0), cycleOf(d(2026, 5, 1), 1)) << "out of range counts as 1";
    EXPECT_EQ(cycleOf(d(2026, 5, 1), 31), cycleOf(d(2026, 5, 1), 1));
    EXPECT_EQ(log::cycleStartingIn(12, 2026, 15), (BillingCycle{d(2026, 12, 15), d(2027, 1, 14)}));
}

TEST_F(MeterFixture, TheCycleSumsOnlyItsOwnDaysAndProjectsToItsEnd)
{
    ASSERT_TRUE(meter->book().add(d(2026, 2, 14), {{"10.0.0.2", "a", 1, 1}}));
    ASSERT_TRUE(meter->book().add(d(2026, 2, 15), {{"10.0.0.2", "a", 100, 0}}));
    ASSERT_TRUE(meter->book().add(d(2026, 3, 14), {{"10.0.0.2", "b", 0, 100}}));
    ASSERT_TRUE(meter->book().add(d(2026, 3, 15), {{"10.0.0.2", "b", 7, 7}}));
    const BillingCycle c = log::cycleOf(d(2026, 3, 1), 15);
    EXPECT_EQ(meter->book().bytesUsed(c), 200u);
    const auto rows = *meter->book().computers(c);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "b") << "the latest name";
    const auto days = *meter->book().days(c);
    ASSERT_EQ(days.size(), 28u);
    EXPECT_EQ(days.front().down, 100u);
    // 100 in the first of 10 days so far: 280 over 28 days.
    EXPECT_EQ(log::projectedBytes(days, d(2026, 2, 24)), 280u);
}

namespace {

// The volume cap on the simulated line; the cycle's bytes are put into the
// book as the meter would.
struct CapFixture : ::testing::Test {
    TempDir dir;
    std::string base = dir.file("base");
    server::dialup::SimulatedLine *line = nullptr;
    std::unique_ptr<ServerCore> core;
    std::vector<std::string> notes;

    void startCore(const std::string &policy)
    {
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=0\n[policy]\n" + policy);
        writeFile(base + "/config/user.cfg", "");
        writeFile(base + "/config/phonebook.ini", "[ISP One]\nspeed=56000\ndelay=0\n");
        FakePlatformParts parts;
        ServerPlatform platform = fakePlatform(base, &parts);
        line = parts.line;
        ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<ServerCore>(o, std::move(platform));
        QObject::connect(core.get(), &OperatorConsole::problem,
                         [this](const QString &text) { notes.push_back(text.toStdString()); });
        core->inisiasiawal();
        core->Timer2Timer();
    }
    void use(std::uint64_t megabytes)
    {
        ASSERT_TRUE(core->usage().book().add(QDate::currentDate(), {{"192.168.1.5", "pc", 0, megabytes * 1048576}}));
    }
    std::size_t connections()
    {
        std::vector<server::dialup::ConnectionInfo> c;
        line->enumConnections(c);
        return c.size();
    }
    void connect()
    {
        core->dialup().executedial("ISP One", "pc7");
        ASSERT_TRUE(waitFor([this] {
            core->Timer1Timer();
            return core->state().StatusText == "Connected";
        }, 3000));
    }
    void minute()
    {
        for (int s = 0; s < 60; ++s) {
            core->Timer1Timer();
            core->Timer3Timer();
        }
    }
    std::size_t count(const std::string &part)
    {
        std::size_t n = 0;
        for (const std::string &t : notes)
            n += t.find(part) != std::string::npos;
        return n;
    }
    std::vector<std::string> audited()
    {
        std::vector<std::string> out;
        const auto rows = core->logDatabase().auditRows(100);
        for (const auto &r : rows.value_or(std::vector<server::log::AuditRow>{}))
            out.push_back(r.action + ": " + r.detail);
        return out;
    }
};

}  // namespace

TEST_F(CapFixture, WarningsAt80And95PercentThenAHangUpAMinuteAfterTheLastWarning)
{
    startCore("monthlybytes=100\nbillingday=15\n");
    use(79);
    connect();
    const auto *own = core->clients().clientList().at(0);
    core->Timer3Timer();  // 0:00
    EXPECT_EQ(count("% of the monthly volume"), 0u);
    use(1);
    minute();
    EXPECT_EQ(count("80 % of the monthly volume is used: 80 MB of 100 MB."), 1u);
    EXPECT_NE(own->Mailbox.find("80 % of the monthly volume is used"), std::string::npos);
    minute();
    EXPECT_EQ(count("80 %"), 1u) << "each level is told once";
    use(16);
    minute();
    EXPECT_EQ(count("95 % of the monthly volume is used: 96 MB of 100 MB."), 1u);
    use(4);
    minute();
    EXPECT_EQ(count("The monthly volume of 100 MB is used up: the line will be hung up in one minute."), 1u);
    EXPECT_NE(own->Mailbox.find("the line will be hung up in one minute"), std::string::npos);
    EXPECT_EQ(connections(), 1u);
    minute();
    EXPECT_EQ(connections(), 0u);
    EXPECT_EQ(count("Hung up ISP One: the monthly volume of 100 MB is used up"), 1u);
    const auto rows = audited();
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const std::string &r) { return r.find("monthly volume") != std::string::npos; }), 4);
}

TEST_F(CapFixture, AReachedVolumeRefusesDialsUnlessTheOperatorConfirms)
{
    startCore("monthlybytes=100\n");
    use(100);
    core->dialup().executedial("ISP One", "pc7");
    EXPECT_EQ(core->state().StatusText, "Monthly volume reached");
    EXPECT_EQ(connections(), 0u);
    ScriptedPrompter prompter;
    prompter.answers = {Prompter::Button::No};
    core->operatorDial("ISP One", prompter);
    ASSERT_EQ(prompter.said.size(), 1u);
    EXPECT_EQ(prompter.said[0].text, "Monthly volume reached\nDo you want to dial anyway ?");
    EXPECT_EQ(connections(), 0u);
    prompter.answers = {Prompter::Button::Yes};
    core->operatorDial("ISP One", prompter);
    EXPECT_EQ(connections(), 1u);
    // The operator's word holds for that connection: no hang-up a minute on.
    ASSERT_TRUE(waitFor([this] {
        core->Timer1Timer();
        return core->state().StatusText == "Connected";
    }, 3000));
    minute();
    minute();
    EXPECT_EQ(connections(), 1u);
    const auto rows = audited();
    EXPECT_NE(std::find(rows.begin(), rows.end(), "dial past the volume cap: "), rows.end());
    EXPECT_NE(std::find_if(rows.begin(), rows.end(), [](const std::string &r) { return r.find("Dial refused: the monthly volume of 100 MB") != std::string::npos; }), rows.end());
}
