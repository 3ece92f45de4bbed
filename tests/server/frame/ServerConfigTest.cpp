#include <gtest/gtest.h>

#include "support/FakeAutostart.h"
#include "server/frame/ServerConfig.h"
#include "support/RecordingShutdown.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::test;
using namespace velora::server::state;

namespace {
struct ConfigFixture : ::testing::Test {
    test::TempDir dir;
    test::FakeAutostart autostart;
    ServerState state;
    std::string base() { return dir.file("base"); }
    std::string ini() { return base() + "/config/config.ini"; }
    void write(const std::string &content)
    {
        std::filesystem::create_directories(base() + "/config");
        test::writeFile(ini(), content);
    }
};
}  // namespace

TEST_F(ConfigFixture, NoFileGivesThePageDefaultsAndTheStartupDefaults)
{
    ServerConfig config(base(), autostart);
    const ServerSettings s = config.loadcfg(state);
    EXPECT_EQ(s.port, "225");
    EXPECT_FALSE(s.onlineStartup);           // the page shows it unchecked ...
    EXPECT_TRUE(config.onlineAtStartup());   // ... while start-up goes online
    EXPECT_EQ(config.listenPort(), 225);
    EXPECT_EQ(s.pingIp, "127.0.0.1");
    EXPECT_EQ(s.smtpPort, "25");
    EXPECT_FALSE(config.startMinimizedAtStartup());
    EXPECT_FALSE(config.tipAtStartup());
    const DialSettings d = config.dialSettings();
    EXPECT_FALSE(d.keepalive);
    EXPECT_EQ(d.pingip, "127.0.0.1");
    EXPECT_EQ(d.smtpport, "25");
}

TEST_F(ConfigFixture, OddValuesReadAsTheirDefinedMeaning)
{
    write("[server]\nport=abc\n[general]\nstartminimized=yes\nclientpolling=9\nshutdownmode=x\n"
          "[dial]\npingip=  example.test  \n");
    ServerConfig config(base(), autostart);
    const ServerSettings s = config.loadcfg(state);
    EXPECT_EQ(s.port, "abc");               // shown as typed
    EXPECT_EQ(config.listenPort(), 225);    // but listened on the default
    EXPECT_FALSE(s.startMinimized);         // the page: only "1" checks it
    EXPECT_TRUE(config.startMinimizedAtStartup());  // start-up: anything but "0" keeps it hidden
    EXPECT_EQ(s.clientPolling, 9);
    EXPECT_EQ(state.PollingMinutes, 9);
    EXPECT_EQ(s.shutdownMode, 0);
    EXPECT_EQ(config.dialSettings().pingip, "example.test");
}

TEST_F(ConfigFixture, SaveWritesEveryKeyAndKeepsTheRest)
{
    write("[schedule]\nduration=030\ntforce=1\n[general]\nwinstart=1\n");
    ServerConfig config(base(), autostart);
    ServerSettings s = config.loadcfg(state);
    s.port = "2250";
    s.startWithSystem = true;
    s.onlineStartup = true;
    s.shutdownMode = 1;
    s.tipOfTheDay = true;
    s.pingIp = " 10.0.0.1 ";
    s.clientPolling = 3;
    s.portChanged = true;
    state.ServerState = server::state::ServerMode::Online;
    const auto r = config.savecfg(s, state);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.restartNotice);
    EXPECT_FALSE(s.portChanged);
    EXPECT_TRUE(autostart.enabled);

    IniProfile ini(this->ini());
    EXPECT_EQ(ini.readString("schedule", "duration", ""), "030");
    EXPECT_EQ(ini.readString("schedule", "tforce", ""), "1");
    EXPECT_EQ(ini.readString("general", "winstart", ""), "1");
    EXPECT_EQ(ini.readString("general", "shutdownmode", ""), "1");
    EXPECT_EQ(ini.readString("general", "tipoftheday", ""), "1");
    EXPECT_EQ(ini.readString("dial", "pingip", ""), "10.0.0.1");
    EXPECT_EQ(ini.readString("dial", "ICS", ""), "0");
    EXPECT_EQ(ini.readString("general", "clientpolling", ""), "3");
    EXPECT_EQ(config.listenPort(), 2250);

    // Saving again without editing the port: no notice.
    EXPECT_FALSE(config.savecfg(s, state).restartNotice);
}

TEST_F(ConfigFixture, ServiceModeNeverStartsWithTheDesktop)
{
    autostart.enabled = true;
    state.ServiceMode = true;
    ServerConfig config(base(), autostart);
    ServerSettings s = config.loadcfg(state);
    EXPECT_FALSE(s.startWithSystem);
    EXPECT_FALSE(s.startWithSystemEnabled);
    EXPECT_FALSE(autostart.enabled);
    s.startWithSystem = true;
    ASSERT_TRUE(config.savecfg(s, state).ok);
    EXPECT_FALSE(autostart.enabled);
    EXPECT_EQ(IniProfile(ini()).readString("general", "winstart", ""), "0");
}

TEST(ShutdownFlags, ModesMapAndUnknownKeepsThePrevious)
{
    EXPECT_EQ(shutdownFlagsFor(0, 0), 1);
    EXPECT_EQ(shutdownFlagsFor(1, 0), 8);
    EXPECT_EQ(shutdownFlagsFor(2, 0), 4);
    EXPECT_EQ(shutdownFlagsFor(5, 0), 0);
    EXPECT_EQ(shutdownFlagsFor(5, 8), 8);
}

TEST_F(ConfigFixture, NumbersAreReadStrictlyAndABadOneIsNamed)
{
    ServerConfig config(base(), autostart);
    // Each of these once became another number without a word.
    for (const char *port : {"2251abc", "0x8CA", "4294969546", "65536", "-225"}) {
        write(std::string("[server]\nport=") + port + "\n[general]\nclientpolling=-1\n");
        std::vector<std::string> problems;
        const ServerSettings s = config.loadcfg(state, &problems);
        EXPECT_EQ(config.listenPort(), 225) << port;
        EXPECT_EQ(s.clientPolling, 0);
        EXPECT_EQ(state.PollingMinutes, 0);
        ASSERT_EQ(problems.size(), 2u) << port;
        EXPECT_EQ(problems[0], ini() + ": [server] port=" + port + " is not a whole number from 0 to 65535; using 225");
        EXPECT_EQ(problems[1], ini() + ": [general] clientpolling=-1 is not a whole number from 0 to 60; using 0");
    }
    write("[general]\nclientpolling=20000000\n[policy]\nredialholdoff=99999999999\nidlehangup=5\n");
    std::vector<std::string> problems;
    const ServerSettings s = config.loadcfg(state, &problems);
    EXPECT_EQ(s.clientPolling, 0);
    EXPECT_EQ(s.policy.redialholdoff, 30);
    EXPECT_EQ(s.policy.idlehangup, 5);
    EXPECT_EQ(problems.size(), 2u);
}
