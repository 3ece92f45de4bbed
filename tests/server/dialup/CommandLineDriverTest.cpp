#include "support/DialupTestSupport.h"
#include "support/FakeNetInterfaces.h"

#include "server/dialup/entries/CommandWords.h"
#include "server/dialup/lines/CommandLine.h"
#include "server/dialup/lines/LineProcess.h"
#include "server/dialup/lines/LineFactory.h"
#include "server/dialup/entries/RasTexts.h"

#include <gtest/gtest.h>

using namespace velora::server::dialup;

namespace velora::test {
namespace {

class CommandLineDriverTest : public ::testing::Test {
protected:
    CommandLineDriverTest()
    {
        auto fake = std::make_unique<FakeNetInterfaces>();
        net = fake.get();
        CommandLine::Settings s;
        s.timeoutSeconds = 1;
        s.pollMs = 20;
        line = std::make_unique<CommandLine>(base.path, std::move(fake), s);
        QObject::connect(line.get(), &LineDriver::dialProgress,
                         [this](ConnHandle h, int state, int error) { steps.push_back({h, state, error}); });
    }

    std::string file(const std::string &name) const { return base.path + "/" + name; }
    static void put(const std::string &path) { std::ofstream(path) << ""; }

    ConnHandle dial(const std::string &entry, int expected = 0)
    {
        DialParams params;
        EXPECT_EQ(line->entries().getDialParams(entry, params), 0);
        ConnHandle h = 0;
        EXPECT_EQ(line->dial(params, h), expected);
        return h;
    }
    std::vector<ConnectionInfo> connections() const
    {
        std::vector<ConnectionInfo> list;
        EXPECT_EQ(line->enumConnections(list), 0);
        return list;
    }
    std::vector<int> states() const
    {
        std::vector<int> s;
        for (const Step &st : steps)
            s.push_back(st.state);
        return s;
    }

    BaseDir base;
    FakeNetInterfaces *net = nullptr;
    std::unique_ptr<CommandLine> line;
    std::vector<Step> steps;
};

TEST_F(CommandLineDriverTest, DialRunsConnectWaitsForTheAddressAndHangupRunsDisconnect)
{
    base.writePhonebook("[Office link]\n"
                        "connect=sh -c 'printf \"%s/%s/%s\" \"$VELORA_ENTRY\" \"$VELORA_USER\" \"$VELORA_PHONE\" > \"" + file("env") + "\"'\n"
                        "disconnect=sh -c \"sleep 0.2; touch '" + file("down") + "'\"\n"
                        "interface=fake0\nspeed=33600\nphone=555 1234\nuser=ann\n");
    const ConnHandle h = dial("office LINK");
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(steps.empty()) << "no step may be reported inside dial()";
    // The command has run and exited; the link is not there yet.
    ASSERT_TRUE(waitFor([&] { return states().size() == 4; })) << states().size();
    EXPECT_EQ(states(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(readFile(file("env")), "Office link/ann/555 1234");
    std::string ip;
    EXPECT_EQ(line->projectionAddress(h, ip), RasError::ProjectionNotComplete);

    net->set("fake0", true, "198.18.7.2");
    ASSERT_TRUE(waitFor([&] { return states().size() == 6; }));
    EXPECT_EQ(states(), (std::vector<int>{0, 1, 2, 3, 18, 8192}));
    for (const Step &s : steps)
        EXPECT_EQ(s.error, 0);
    auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entryName, "Office link");
    EXPECT_EQ(list[0].deviceName, "fake0");
    EXPECT_EQ(list[0].state, RasState::Connected);
    EXPECT_EQ(line->projectionAddress(h, ip), 0);
    EXPECT_EQ(ip, "198.18.7.2");
    std::uint32_t bps = 0;
    EXPECT_EQ(line->connectionSpeed(h, bps), 0);
    EXPECT_EQ(bps, 33600u);
    EXPECT_EQ(dial("Office link", RasError::PortAlreadyOpen), 0u);

    // While the disconnect command runs the link is on its way down: not shown.
    EXPECT_EQ(line->hangUp(h), 0);
    EXPECT_TRUE(connections().empty());
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(file("down")); }, 3000));
    ASSERT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }));
    // The fake link stayed up: now it is someone else's connection of the entry.
    list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_NE(list[0].handle, h);
    EXPECT_EQ(list[0].state, RasState::Connected);
}

TEST_F(CommandLineDriverTest, FailuresCarryTheCommandsOwnWords)
{
    base.writePhonebook("[Says why]\nconnect=sh -c \"echo progress; echo 'first' >&2; printf 'modem: NO CARRIER \\342\\206\\222 line 1\\n\\n' >&2; exit 3\"\ninterface=fake0\n"
                        "[Silent]\nconnect=sh -c 'exit 4'\ninterface=fake0\n"
                        "[Missing]\nconnect=/nonexistent/dialer --now\ninterface=fake0\n"
                        "[Slow]\nconnect=sh -c \"echo 'still ringing' >&2; exec sleep 5\"\ninterface=fake0\n"
                        "[Unquoted]\nconnect=sh -c 'exit 0\ninterface=fake0\n"
                        "[No interface]\nconnect=true\n");
    struct Case {
        const char *entry;
        std::string text;
    };
    const Case cases[] = {
        // An arrow has no place in the wire's code page; it becomes '?'.
        {"Says why", "Connect failed: modem: NO CARRIER ? line 1"},
        {"Silent", "Connect command failed with exit code 4."},
        {"Missing", "Cannot run the connect command: "},
        {"Slow", "No address on fake0 after 1 s: still ringing"},
    };
    for (const Case &c : cases) {
        steps.clear();
        const ConnHandle h = dial(c.entry);
        ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().error != 0; }, 3000)) << c.entry;
        const std::string text = line->errorText(steps.back().error);
        EXPECT_EQ(text.substr(0, c.text.size()), c.text) << c.entry;
        EXPECT_LE(text.size(), 100u);
        // The failed dial stays, with its own text, until it is hung up.
        const auto list = connections();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(line->errorText(list[0].errorCode), text);
        EXPECT_EQ(line->hangUp(h), 0);
        EXPECT_TRUE(connections().empty());
    }
    // The slow command was stopped, not left behind.
    EXPECT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }, 4000));
    EXPECT_EQ(dial("Unquoted", RasError::CommandSyntax), 0u);
    EXPECT_EQ(dial("No interface", RasError::EntryIncomplete), 0u);
    DialParams nobody;
    nobody.entryName = "Nobody";
    ConnHandle h = 0;
    EXPECT_EQ(line->dial(nobody, h), RasError::CannotFindPhonebookEntry);
}

TEST_F(CommandLineDriverTest, HangupWhileConnectingStopsTheCommandAndReportsNothingMore)
{
    base.writePhonebook("[Hangs]\nconnect=sleep 30\ninterface=fake0\n"
                        "[Witness]\nconnect=true\ninterface=fake1\n");
    const ConnHandle h = dial("Hangs");
    ASSERT_TRUE(waitFor([&] { return states().size() == 3; }));
    EXPECT_EQ(line->hangUp(h), 0);
    EXPECT_TRUE(connections().empty());
    ASSERT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }));
    net->set("fake0", true, "198.18.7.2");
    // A second dial that only the poll can bring up: once it is up, the poll
    // has looked at every dial with fake0 up.
    const ConnHandle w = dial("Witness");
    const auto reached = [&](ConnHandle handle, int state) {
        return std::any_of(steps.begin(), steps.end(), [&](const Step &s) { return s.handle == handle && s.state == state; });
    };
    ASSERT_TRUE(waitFor([&] { return reached(w, RasState::DeviceConnected); }));
    net->set("fake1", true, "198.18.8.2");
    ASSERT_TRUE(waitFor([&] { return reached(w, RasState::Connected); }));
    std::vector<int> ofHangs;
    for (const Step &st : steps)
        if (st.handle == h)
            ofHangs.push_back(st.state);
    EXPECT_EQ(ofHangs, (std::vector<int>{0, 1, 2}));
}

TEST_F(CommandLineDriverTest, RedialAfterHangupWaitsForTheDisconnectCommand)
{
    const std::string up = file("up");
    base.writePhonebook("[Link]\nconnect=sh -c \"test ! -e '" + up + "' && touch '" + up + "'\"\n"
                        "disconnect=sh -c \"sleep 0.2; rm '" + up + "'\"\ninterface=fake0\n");
    net->set("fake0", true, "198.18.7.2");
    net->upWhileFile["fake0"] = up;
    put(up);
    const auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(line->hangUp(list[0].handle), 0);
    // The link is still up while the disconnect command runs; the dial waits
    // for it, or its connect command would find the link up and fail.
    const ConnHandle h = dial("Link");
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && (steps.back().state == RasState::Connected || steps.back().error); }, 3000));
    EXPECT_EQ(steps.back().error, 0) << line->errorText(steps.back().error);
    // The link may be seen before the command's start and exit are; the
    // steps between are then not reported.
    const auto s = states();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s.front(), 0);
    EXPECT_EQ(std::vector<int>(s.end() - 2, s.end()), (std::vector<int>{18, 8192}));
    EXPECT_TRUE(std::filesystem::exists(up)) << "raised again after the disconnect removed it";
}

TEST_F(CommandLineDriverTest, ALinkRaisedElsewhereIsTheFirstEntryNamingItsInterface)
{
    base.writePhonebook("[Other]\nconnect=true\ninterface=eth9\n"
                        "[First]\nconnect=true\ndisconnect=sh -c \"touch '" + file("down") + "'\"\ninterface=wwan0\ndevice=LTE stick\n"
                        "[Second]\nconnect=true\ninterface=wwan0\n");
    net->set("wwan0", true, "100.64.1.9", 1, 150);
    net->set("eth9", true, "");  // up without an address: not connected
    auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entryName, "First");
    EXPECT_EQ(list[0].deviceName, "LTE stick");
    EXPECT_EQ(connections()[0].handle, list[0].handle) << "the handle stays while the link does";
    std::uint32_t bps = 0;
    EXPECT_EQ(line->connectionSpeed(list[0].handle, bps), 0);
    EXPECT_EQ(bps, 150000000u);
    std::string ip;
    EXPECT_EQ(line->projectionAddress(list[0].handle, ip), 0);
    EXPECT_EQ(ip, "100.64.1.9");
    EXPECT_EQ(dial("Second", RasError::PortAlreadyOpen), 0u);

    EXPECT_EQ(line->hangUp(list[0].handle), 0);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(file("down")); }));
    net->remove("wwan0");
    EXPECT_TRUE(connections().empty());
}

TEST(LineProcess, CommandWordsAndOutputTails)
{
    using W = std::vector<std::string>;
    EXPECT_EQ(splitCommand("  nmcli  connection up 'Office LTE'\t--wait 30 "),
              (W{"nmcli", "connection", "up", "Office LTE", "--wait", "30"}));
    EXPECT_EQ(splitCommand(R"(sh -c "echo \"a b\" \\ \$x" a\ b '' x"y"'z')"),
              (W{"sh", "-c", R"(echo "a b" \ \$x)", "a b", "", "xyz"}));
    EXPECT_EQ(splitCommand(""), W{});
    EXPECT_FALSE(splitCommand("say 'unfinished"));
    EXPECT_FALSE(splitCommand("say \"unfinished \\\""));

    EXPECT_EQ(outputTail("one\ntwo  \n \n\n", 100), "two");
    // "à" and "ã" are separator bytes in the wire's code page.
    EXPECT_EQ(outputTail("no\xC3\xA0 sep\xC3\xA3" "arators\r", 100), "no separators");
    EXPECT_EQ(outputTail("bad \xE0\xE3 bytes", 100), "bad ?? bytes");
    EXPECT_EQ(outputTail("0123456789abcdef", 6), "abcdef");
    EXPECT_EQ(outputTail("caf\xC3\xA9\ttab", 100), "caf\xE9 tab");
    EXPECT_EQ(outputTail("", 100), "");
}

TEST(LineFactory, DriverChoiceAndFallbacks)
{
    BaseDir base;
    std::filesystem::create_directories(base.path + "/config");
    const std::string ini = base.path + "/config/config.ini";
    struct Case {
        std::string config;
        std::string driver;
        std::string problem;
    };
    const Case cases[] = {
        {"", "simulated", ""},
        {"[line]\ndriver=command\ntimeout=5\n", "command", ""},
        {"[line]\ndriver=command\ntimeout=5s\n", "command", ini + ": [line] timeout=5s is not a whole number from 1"},
        {"[line]\ndriver=pppd\npppd=/bin/sh\n", "pppd", ""},
        {"[line]\ndriver=pppd\npppd=/nonexistent/pppd\n", "simulated", "pppd not found"},
        {"[line]\ndriver=modem\n", "simulated", "unknown line driver \"modem\""},
    };
    for (const Case &c : cases) {
        std::ofstream(ini, std::ios::trunc) << c.config;
        std::string problem;
        const auto driver = makeLineDriver(IniProfile(ini), base.path, problem);
        EXPECT_EQ(driver->driverName(), c.driver) << c.config;
        EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem) << c.config;
        EXPECT_EQ(problem.empty(), c.problem.empty()) << c.config;
    }
}

TEST(LinuxNetInterfaces, LoopbackAsTheKernelShowsIt)
{
    const LinuxNetInterfaces net;
    const auto names = net.names();
    ASSERT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
    const auto lo = net.find("lo");
    ASSERT_TRUE(lo);
    EXPECT_EQ(lo->type, 772);  // ARPHRD_LOOPBACK
    if (lo->up) {
        EXPECT_EQ(lo->ipv4, "127.0.0.1");
    }
    EXPECT_FALSE(net.find("../lo"));
    EXPECT_FALSE(net.find("velora-none0"));
    EXPECT_EQ(bitsPerSecondFromMbps(-1), 0u);
    EXPECT_EQ(bitsPerSecondFromMbps(100), 100000000u);
    EXPECT_EQ(bitsPerSecondFromMbps(10000), 4294967295u);
}

TEST_F(CommandLineDriverTest, TheEntryDialogEditsTheCommandsAndChecksThem)
{
    EntryStore &store = line->entries();
    std::vector<EntryField> f = store.entryFields({});
    std::vector<std::string> keys;
    for (const EntryField &x : f)
        keys.push_back(x.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"connect", "disconnect", "interface", "speed", "device"}));
    std::string why;
    EXPECT_EQ(store.saveEntryFields("Fresh", f, true, &why), RasError::InvalidParameter);
    EXPECT_EQ(why, "Connect command is needed.");
    f[0].value = "ip link set veth-a up";
    f[2].value = "eth 0";
    EXPECT_EQ(store.saveEntryFields("Fresh", f, true, &why), RasError::InvalidParameter);
    EXPECT_NE(why.find("network interface name"), std::string::npos) << why;
    f[2].value = "veth-a";
    f[3].value = "64000";
    EXPECT_EQ(store.saveEntryFields("Fresh", f, true, &why), 0) << why;
    EXPECT_EQ(store.saveEntryFields("Fresh", f, true, &why), RasError::AlreadyExists);
    f[3].value = "128000";
    EXPECT_EQ(store.saveEntryFields("Fresh", f, false, &why), 0);
    const auto again = store.entryFields("Fresh");
    EXPECT_EQ(again[0].value, "ip link set veth-a up");
    EXPECT_EQ(again[2].value, "veth-a");
    EXPECT_EQ(again[3].value, "128000");
}

}  // namespace
}  // namespace velora::test
