// The core's part in sharing and the relay, over the simulated line and a
// recording sharing switch: the switch before the dial and the dial it
// aborts, the check box's load rule, the relay's start at the first online
// second and its life across later connections.
#include <gtest/gtest.h>

#include <QObject>

#include <filesystem>
#include <memory>

#include "server/dialup/lines/PppdLine.h"
#include "server/frame/ServerCore.h"
#include "support/FakeNetInterfaces.h"
#include "support/FakeServerPlatform.h"
#include "support/RelaySockets.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora::server;
using namespace velora::test;

namespace {

struct Core {
    TempDir dir;
    FakePlatformParts parts;
    std::unique_ptr<frame::ServerCore> core;
    std::vector<std::string> problems;

    explicit Core(const std::string &dial)
    {
        const std::string base = dir.file("base");
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=0\n[general]\nonlinestartup=0\n[dial]\n" + dial);
        writeFile(base + "/config/phonebook.ini", "[ISP One]\ndelay=0\n[ISP Two]\ndelay=0\n");
        frame::ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<frame::ServerCore>(o, fakePlatform(base, &parts));
        QObject::connect(core.get(), &frame::ServerCore::problem,
                         [this](const QString &t) { problems.push_back(t.toStdString()); });
        core->inisiasiawal();
        core->Timer2Timer();
    }
    const state::ServerState &st() const { return core->state(); }
    bool said(const std::string &part) const
    {
        for (const auto &p : problems)
            if (p.find(part) != std::string::npos)
                return true;
        return false;
    }
    // Dials and ticks until the line is up, then runs the first online second.
    bool dialUp(const std::string &entry)
    {
        core->dialup().executedial(entry, "Local");
        const bool up = waitFor([&] {
            core->Timer1Timer();
            return st().ActiveStatus == state::LinkState::Connected && st().ActiveEntry == entry;
        }, 3000);
        core->Timer3Timer();
        return up;
    }
    void hangUp()
    {
        core->dialup().executehangup();
        waitFor([&] {
            core->Timer1Timer();
            return st().ActiveStatus == state::LinkState::None;
        }, 3000);
        core->Timer3Timer();
    }
};

}  // namespace

TEST(SharingCore, AFailingSwitchAbortsTheDialWithTheEntryText)
{
    Core c("ICS=1\n");
    c.parts.sharing->fails = true;
    c.core->dialup().executedial("ISP One", "Local");
    EXPECT_EQ(c.st().StatusText, "No matching dialup entry found");
    EXPECT_TRUE(c.said("refused by the fake"));
    // Nothing was dialled: no tick finds a connection.
    EXPECT_FALSE(waitFor([&] {
        c.core->Timer1Timer();
        return c.st().ActiveStatus != state::LinkState::None;
    }, 300));
    EXPECT_NE(c.st().DialEventText, "Dialing...");
}

TEST(SharingCore, TheSwitchRunsBeforeEachDialOnlyWhenTheOptionIsOn)
{
    {
        Core c("ICS=0\n");
        ASSERT_TRUE(c.dialUp("ISP One"));
        EXPECT_TRUE(c.parts.sharing->shared.empty());
        // Never asked either: a server without the option leaves the rules alone.
        EXPECT_EQ(c.parts.sharing->checks, 0);
    }
    int unsharedAtEnd = 0;
    {
        Core c("ICS=1\n");
        c.parts.sharing->unsharedAfterwards = &unsharedAtEnd;
        EXPECT_TRUE(c.core->settings().ics);
        ASSERT_TRUE(c.dialUp("ISP One"));
        // The simulated line has no kernel interface: the previous sharing goes, none comes.
        EXPECT_EQ(c.parts.sharing->shared, std::vector<std::string>{""});
        c.hangUp();
        ASSERT_TRUE(c.dialUp("ISP Two"));
        EXPECT_EQ(c.parts.sharing->shared.size(), 2u);
        EXPECT_EQ(unsharedAtEnd, 0);
    }
    EXPECT_EQ(unsharedAtEnd, 1) << "the table goes when the server ends";
}

TEST(SharingCore, TheBoxIsClearedWhereSharingCannotBeDriven)
{
    Core c("ICS=1\n");
    c.parts.sharing->canDrive = false;
    c.core->loadcfg();
    EXPECT_FALSE(c.core->settings().ics);
    EXPECT_FALSE(c.st().dialSettings.ics);
    EXPECT_TRUE(c.said("connection sharing cannot be used here: not allowed here"));
    c.parts.sharing->canDrive = true;
    c.core->loadcfg();
    EXPECT_TRUE(c.core->settings().ics);
}

TEST(SharingCore, TheRelayStartsAtTheFirstSecondAndOutlivesTheConnection)
{
    std::uint16_t targetPort = 0;
    Fd target = listenLoopback(targetPort);
    const std::uint16_t relayPort = closedPort();
    Core c("smtpautorelay=1\nsmtpport=" + std::to_string(relayPort) + "\n");
    ASSERT_TRUE(c.core->logDatabase().saveSmtp("ISP One", {"127.0.0.1", std::to_string(targetPort)}));

    ASSERT_TRUE(c.dialUp("ISP One"));
    const sharing::SmtpRelay *relay = c.core->smtpRelay();
    ASSERT_NE(relay, nullptr) << (c.problems.empty() ? "" : c.problems.back());
    EXPECT_EQ(relay->port(), relayPort);
    EXPECT_EQ(relay->targetPort(), targetPort);
    EXPECT_TRUE(c.st().SmtpRelayStarted);
    Fd mail = connectLoopback(relayPort);
    Fd atTarget;
    EXPECT_TRUE(waitFor([&] { return bool(atTarget = acceptOne(target)); }, 3000));

    // Later seconds of the same connection start nothing new.
    c.core->Timer3Timer();
    EXPECT_EQ(c.core->smtpRelay(), relay);

    // An entry without a row: mail still goes to the first entry's server.
    c.hangUp();
    EXPECT_FALSE(c.st().SmtpRelayStarted);
    ASSERT_TRUE(c.dialUp("ISP Two"));
    EXPECT_EQ(c.core->smtpRelay(), relay);
    EXPECT_TRUE(relay->active());
    EXPECT_EQ(relay->targetPort(), targetPort);
}

TEST(SharingCore, ARelayPortThatCannotBeBoundIsSaid)
{
    std::uint16_t taken = 0;
    Fd holder = listenLoopback(taken);
    Core c("smtpautorelay=1\nsmtpport=" + std::to_string(taken) + "\n");
    ASSERT_TRUE(c.core->logDatabase().saveSmtp("ISP One", {"127.0.0.1", "25"}));
    ASSERT_TRUE(c.dialUp("ISP One"));
    EXPECT_EQ(c.core->smtpRelay(), nullptr);
    EXPECT_TRUE(c.said("SMTP relay not started: cannot listen on port " + std::to_string(taken)));
    // Tried once per connection, as the rule says.
    EXPECT_TRUE(c.st().SmtpRelayStarted);
}

TEST(SharingCore, ALinkThatNamesItsInterfaceOnlyOnceUpIsSharedThen)
{
    // A stand-in pppd: the interface is known only from its log, once it runs.
    TempDir dir;
    const std::string d = dir.file("ppp");
    std::filesystem::create_directories(d + "/peers");
    std::filesystem::create_directories(d + "/run");
    writeFile(d + "/pppd", "#!/bin/sh\ntrap 'exit 5' TERM\necho \"Using interface ppp5\"\n"
                           "echo \"local  IP address 10.64.64.65\"\necho \"remote IP address 10.64.64.1\"\n"
                           "while :; do sleep 0.05; done\n");
    std::filesystem::permissions(d + "/pppd", std::filesystem::perms::owner_all);
    writeFile(d + "/peers/dsl", "/dev/ttyUSB0\n");
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    writeFile(base + "/config/config.ini", "[server]\nport=0\n[general]\nonlinestartup=0\n[dial]\nICS=1\n");
    dialup::PppdLine::Settings ps;
    ps.pppd = d + "/pppd";
    ps.peersDir = d + "/peers";
    ps.secretsDir = d;
    ps.runDir = d + "/run";
    ps.connectedSettleMs = 50;
    auto net = std::make_unique<FakeNetInterfaces>();
    FakeNetInterfaces *interfaces = net.get();
    FakePlatformParts parts;
    frame::ServerPlatform platform = fakePlatform(base, &parts);
    platform.line = std::make_unique<dialup::PppdLine>(ps, std::move(net));
    frame::ServerOptions o;
    o.baseDir = base;
    o.listenAddress = "127.0.0.1";
    frame::ServerCore core(o, std::move(platform));
    core.inisiasiawal();
    core.Timer2Timer();

    core.dialup().executedial("dsl", "Local");
    ASSERT_EQ(parts.sharing->shared, std::vector<std::string>{""}) << "un-shared only, at the dial";
    // pppd makes the interface as it runs.
    interfaces->set("ppp5", true, "10.64.64.65", 512);
    ASSERT_TRUE(waitFor([&] {
        core.Timer1Timer();
        return core.state().ActiveStatus == state::LinkState::Connected && core.state().ActiveEntry == "dsl";
    }, 5000)) << core.state().StatusText;
    EXPECT_EQ(parts.sharing->shared, (std::vector<std::string>{"", "ppp5"}));
    core.Timer1Timer();
    EXPECT_EQ(parts.sharing->shared.size(), 2u) << "completed once";
    core.dialup().executehangup();
}
