#include "support/DialupTestSupport.h"
#include "support/FakeNetInterfaces.h"

#include "server/dialup/engine/TDialUp.h"
#include "server/dialup/lines/PppdLine.h"
#include "server/dialup/entries/RasTexts.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>

using namespace velora::server::dialup;

namespace velora::test {
namespace {

namespace fs = std::filesystem;

void put(const std::string &path, const std::string &text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// pppd's log lines of a session that comes up, as pppd prints them with
// nodetach (debug on), with chat -v logging to the same stream.
const char kConnects[] = R"sh(trap 'echo "Terminating on signal 15."; exit 5' TERM
echo "abort on (BUSY)"
echo "send (ATZ^M)"
echo "expect (OK)"
echo "OK"
echo " -- got it"
echo "send (ATDT0804123^M)"
sleep 0.05
echo "expect (CONNECT)"
echo "CONNECT 115200"
echo " -- got it"
echo "Script /usr/sbin/chat -v -f /etc/chatscripts/pap -T 0804123 finished (pid 4242), status = 0x0"
echo "Serial connection established."
echo "using channel 7"
echo "Using interface ppp0"
echo "Connect: ppp0 <--> /dev/modem"
echo "sent [LCP ConfReq id=0x1 <asyncmap 0x0> <magic 0x5f3e2a11>]"
echo "sent [PAP AuthReq id=0x1 user=\"ann@metro\" password=<hidden>]"
echo "rcvd [PAP AuthAck id=0x1 \"\"]"
echo "PAP authentication succeeded"
echo "local  IP address 10.64.64.64"
echo "remote IP address 10.64.64.1"
echo "primary   DNS address 10.11.12.13"
echo "Script /etc/ppp/ip-up started (pid 4250)"
echo "Script /etc/ppp/ip-up finished (pid 4250), status = 0x0"
while :; do sleep 0.05; done
)sh";

// Without debug: no ip-up line; connected once both addresses are set.
const char kQuiet[] = R"sh(trap 'exit 5' TERM
echo "Serial connection established."
echo "Using interface ppp0"
echo "Connect: ppp0 <--> /dev/ttyUSB0"
echo "CHAP authentication succeeded"
echo "local  IP address 10.64.64.65"
echo "remote IP address 10.64.64.1"
while :; do sleep 0.05; done
)sh";

const char kAuthFails[] = R"sh(echo "Serial connection established."
echo "Using interface ppp0"
echo "Connect: ppp0 <--> /dev/modem"
echo "sent [PAP AuthReq id=0x1 user=\"ann@metro\" password=<hidden>]"
echo "rcvd [PAP AuthNak id=0x1 \"Login incorrect\"]"
echo "PAP authentication failed"
echo "Connection terminated."
exit 19
)sh";

const char kModemHangsUp[] = R"sh(echo "Serial connection established."
echo "Using interface ppp0"
echo "Connect: ppp0 <--> /dev/modem"
echo "Modem hangup"
echo "Connection terminated."
exit 16
)sh";

// A pppd that ignores SIGTERM.
const char kStubborn[] = R"sh(trap '' TERM
echo "Serial connection established."
exec sleep 30
)sh";

const char kIdle[] = R"sh(trap 'exit 5' TERM
echo "Using interface ppp3"
while :; do sleep 0.05; done
)sh";

class PppdLineTest : public ::testing::Test {
protected:
    PppdLineTest()
    {
        const std::string d = base.path;
        // The stand-in pppd plays the session named like the peer ($2 of "call <peer> nodetach").
        put(d + "/bin/pppd", "#!/bin/sh\n. \"$(dirname \"$0\")/sessions/$2\"\n");
        fs::permissions(d + "/bin/pppd", fs::perms::owner_all);
        for (const auto &[name, text] : std::vector<std::pair<std::string, std::string>>{
                 {"provider", kConnects}, {"quiet", kQuiet}, {"authfail", kAuthFails},
                 {"hangup", kModemHangsUp}, {"stubborn", kStubborn}, {"dsl", kIdle}})
            put(d + "/bin/sessions/" + name, text);

        put(peers("provider"), "# Debian-style peer\nuser \"ann@metro\"\n"
                               "connect \"/usr/sbin/chat -v -f /etc/chatscripts/pap -T 0804123\"\n"
                               "/dev/modem\n115200\nnoipdefault\ndefaultroute\nmtu 1492   # not a speed\n");
        put(peers("dsl"), "plugin rp-pppoe.so\nnic-eth0\nuser dsluser\n# /dev/ttyS9 in a comment is no device\nnoauth\n");
        put(peers("inline"), "ttyUSB0\nname bob\nremotename isp\nlinkname office\n"
                             "connect \"chat -v '' ATZ OK 'ATDT 0815 222' CONNECT ''\"\n");
        put(peers("mobile"), "/dev/ttyACM0\nconnect '/usr/sbin/chat -v -f " + d + "/chat-mobile'\n");
        put(d + "/chat-mobile", "ABORT BUSY\n'' AT\nOK ATD*99#\nCONNECT ''\n");
        for (const char *name : {"quiet", "authfail", "hangup", "stubborn"})
            put(peers(name), "/dev/ttyUSB0\n");
        for (const char *junk : {"provider~", ".hidden", "old.dpkg-old"})
            put(peers(junk), "/dev/ttyS0\n");
        put(secrets("pap-secrets"), "# Secrets for authentication using PAP\n"
                                    "# client\tserver\tsecret\t\t\tIP addresses\n"
                                    "\"ann@metro\"\t*\t\"s3cret pass\"\n"
                                    "dsluser * dslpw 10.0.0.1\n");
        put(secrets("chap-secrets"), "# client server secret\nbob other wrong\nbob isp \"b#b\\\"pw\"\n");

        PppdLine::Settings s;
        s.pppd = d + "/bin/pppd";
        s.peersDir = d + "/peers";
        s.secretsDir = d + "/ppp";
        s.runDir = d + "/run";
        s.connectedSettleMs = 50;
        s.killAfterMs = 300;
        fs::create_directories(s.runDir);
        auto fake = std::make_unique<FakeNetInterfaces>();
        net = fake.get();
        line = std::make_unique<PppdLine>(s, std::move(fake));
        QObject::connect(line.get(), &LineDriver::dialProgress,
                         [this](ConnHandle h, int state, int error) { steps.push_back({h, state, error}); });
    }

    std::string peers(const std::string &name) const { return base.path + "/peers/" + name; }
    std::string secrets(const std::string &name) const { return base.path + "/ppp/" + name; }

    ConnHandle dial(const std::string &entry)
    {
        DialParams params;
        EXPECT_EQ(line->entries().getDialParams(entry, params), 0);
        ConnHandle h = 0;
        EXPECT_EQ(line->dial(params, h), 0);
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
    std::unique_ptr<PppdLine> line;
    std::vector<Step> steps;
};

TEST_F(PppdLineTest, EntriesPropertiesAndPasswordsFromRecordedFiles)
{
    // File names are UTF-8, entry names the wire's code page.
    put(peers("caf\xC3\xA9"), "/dev/ttyS3\n");
    put(peers("\xE2\x86\x92 no"), "/dev/ttyS3\n");
    std::vector<std::string> names;
    EXPECT_EQ(line->entries().enumEntries(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"authfail", "caf\xE9", "dsl", "hangup", "inline", "mobile",
                                               "provider", "quiet", "stubborn"}));
    EntryProperties cafe;
    EXPECT_EQ(line->entries().getEntryProperties("caf\xE9", cafe), 0);
    EXPECT_EQ(cafe.deviceName, "/dev/ttyS3");
    struct Want {
        const char *entry, *phone, *device, *type, *user, *password;
    };
    net->set("eth0", true, "");
    const Want wants[] = {
        {"provider", "0804123", "/dev/modem", "modem", "ann@metro", "s3cret pass"},
        {"dsl", "", "eth0", "PPPoE", "dsluser", "dslpw"},
        {"inline", "0815 222", "/dev/ttyUSB0", "modem", "bob", "b#b\"pw"},
        {"mobile", "*99#", "/dev/ttyACM0", "modem", "", ""},
    };
    for (const Want &w : wants) {
        EntryProperties props;
        ASSERT_EQ(line->entries().getEntryProperties(w.entry, props), 0) << w.entry;
        EXPECT_EQ(props.phoneNumber, w.phone) << w.entry;
        EXPECT_EQ(props.deviceName, w.device) << w.entry;
        EXPECT_EQ(props.deviceType, w.type) << w.entry;
        DialParams params;
        ASSERT_EQ(line->entries().getDialParams(w.entry, params), 0);
        EXPECT_EQ(params.userName, w.user) << w.entry;
        EXPECT_EQ(params.password, w.password) << w.entry;
        EXPECT_EQ(params.passwordSaved, *w.password != 0) << w.entry;
    }
    DialParams params;
    EXPECT_EQ(line->entries().getDialParams("provider~", params), RasError::CannotFindPhonebookEntry);
    EXPECT_EQ(line->entries().getDialParams("../ppp/pap-secrets", params), RasError::CannotFindPhonebookEntry);
    // Malformed files give what can be read, never a crash.
    put(peers("broken"), "connect \"chat ATDT123\nuser\n\\");
    put(secrets("pap-secrets"), "\"unterminated\n* *\n");
    EXPECT_EQ(line->entries().getDialParams("broken", params), 0);
    EXPECT_EQ(params.password, "");
}

TEST_F(PppdLineTest, WritingCredentialsAndEntriesKeepsEveryOtherLine)
{
    const std::string chapBefore = readFile(secrets("chap-secrets"));
    DialParams p;
    ASSERT_EQ(line->entries().getDialParams("provider", p), 0);
    p.password = "new pw";
    p.phoneNumber = "0899 1";
    ASSERT_EQ(line->entries().setDialParams("provider", p, false), 0);
    EXPECT_EQ(readFile(secrets("pap-secrets")), "# Secrets for authentication using PAP\n"
                                                "# client\tserver\tsecret\t\t\tIP addresses\n"
                                                "\"ann@metro\"\t*\t\"new pw\"\n"
                                                "dsluser * dslpw 10.0.0.1\n");
    EXPECT_EQ(readFile(secrets("chap-secrets")), chapBefore + "\"ann@metro\"\t*\t\"new pw\"\n");
    for (const char *f : {"pap-secrets", "chap-secrets"}) {
        struct stat st {};
        ASSERT_EQ(::stat(secrets(f).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    DialParams back;
    ASSERT_EQ(line->entries().getDialParams("provider", back), 0);
    EXPECT_EQ(back.password, "new pw");
    EXPECT_EQ(back.phoneNumber, "0899 1");
    EXPECT_NE(readFile(peers("provider")).find("-T '0899 1'\""), std::string::npos) << "one chat word";

    // A new user name goes into the peer file; "name" stays for CHAP.
    ASSERT_EQ(line->entries().getDialParams("inline", p), 0);
    p.userName = "carol";
    p.password = "x\"y";
    ASSERT_EQ(line->entries().setDialParams("inline", p, false), 0);
    EXPECT_NE(readFile(peers("inline")).find("name bob\n"), std::string::npos);
    ASSERT_EQ(line->entries().getDialParams("inline", back), 0);
    EXPECT_EQ(back.userName, "carol");
    EXPECT_EQ(back.password, "x\"y");
    EXPECT_EQ(line->entries().setDialParams("inline", p, true), 0);
    ASSERT_EQ(line->entries().getDialParams("inline", back), 0);
    EXPECT_EQ(back.password, "");
    EXPECT_FALSE(back.passwordSaved);
    p.password = "two\nlines";
    EXPECT_EQ(line->entries().setDialParams("inline", p, false), RasError::InvalidParameter);

    ASSERT_EQ(line->entries().createEntry("new one", {"555 1234", "/dev/ttyS1", "modem"}), 0);
    EntryProperties props;
    ASSERT_EQ(line->entries().getEntryProperties("new one", props), 0);
    EXPECT_EQ(props.phoneNumber, "555 1234");
    EXPECT_EQ(props.deviceName, "/dev/ttyS1");
    EXPECT_EQ(line->entries().setEntryProperties("new one", {"777", "/dev/ttyS2", "modem"}), 0);
    ASSERT_EQ(line->entries().getEntryProperties("new one", props), 0);
    EXPECT_EQ(props.phoneNumber, "777");
    EXPECT_EQ(props.deviceName, "/dev/ttyS2");
    EXPECT_EQ(line->entries().createEntry("new one", {}), RasError::AlreadyExists);
    EXPECT_EQ(line->entries().createEntry("bad", {"1; reboot", "", ""}), RasError::InvalidParameter);
    EXPECT_EQ(line->entries().renameEntry("new one", "provider"), RasError::AlreadyExists);
    EXPECT_EQ(line->entries().renameEntry("new one", "a/b"), RasError::InvalidParameter);
    EXPECT_EQ(line->entries().renameEntry("new one", "renamed"), 0);
    EXPECT_FALSE(fs::exists(peers("new one")));
    EXPECT_EQ(line->entries().deleteEntry("renamed"), 0);
    EXPECT_FALSE(fs::exists(peers("renamed")));
    EXPECT_EQ(line->entries().deleteEntry("renamed"), RasError::CannotFindPhonebookEntry);
    // The number of a chat file is not ours to rewrite.
    ASSERT_EQ(line->entries().getDialParams("mobile", p), 0);
    p.phoneNumber = "*98#";
    EXPECT_EQ(line->entries().setDialParams("mobile", p, false), RasError::NotSupported);
}

TEST_F(PppdLineTest, DialReachesConnectedAndHangupEndsPppd)
{
    net->set("ppp0", true, "10.64.64.64", kArphrdPpp);
    const ConnHandle h = dial("provider");
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(steps.empty()) << "no step may be reported inside dial()";
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().state == RasState::Connected; }, 3000))
        << states().size();
    EXPECT_EQ(states(), (std::vector<int>{0, 1, 2, 3, 4, 5, 14, 18, 8192}));
    const auto list = connections();
    ASSERT_EQ(list.size(), 1u) << "ppp0 is this dial's, not someone else's";
    EXPECT_EQ(list[0].entryName, "provider");
    EXPECT_EQ(list[0].deviceName, "/dev/modem");
    std::string ip;
    EXPECT_EQ(line->projectionAddress(h, ip), 0);
    EXPECT_EQ(ip, "10.64.64.64");
    std::uint32_t bps = 0;
    EXPECT_EQ(line->connectionSpeed(h, bps), 0);
    EXPECT_EQ(bps, 115200u) << "the modem's CONNECT speed";

    EXPECT_EQ(line->hangUp(h), 0);
    EXPECT_TRUE(connections().empty()) << "a pppd on its way out is not shown";
    ASSERT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }));
    net->remove("ppp0");
    EXPECT_EQ(steps.size(), 9u);

    // Without pppd's debug lines the link counts as up once both addresses are set.
    steps.clear();
    const ConnHandle q = dial("quiet");
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().state == RasState::Connected; }, 3000));
    EXPECT_EQ(states(), (std::vector<int>{0, 1, 3, 4, 14, 18, 8192}));
    EXPECT_EQ(line->projectionAddress(q, ip), 0);
    EXPECT_EQ(ip, "10.64.64.65") << "pppd's word, while the interface is not seen";
    EXPECT_EQ(line->hangUp(q), 0);
    EXPECT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }));
}

TEST_F(PppdLineTest, TheEngineDialsAPeerByItsNameAlonePppdReadsTheSecrets)
{
    DialParams params;
    params.password = "left over";
    EXPECT_EQ(line->dialParams("provider", params), 0);
    EXPECT_EQ(params.entryName, "provider");
    EXPECT_EQ(params.password, "") << "the secrets are pppd's to read";
    net->set("ppp0", true, "10.64.64.64", kArphrdPpp);
    TDialUp engine(*line);
    std::vector<int> errors;
    QObject::connect(&engine, &TDialUp::OnError, [&](int code, const std::string &) { errors.push_back(code); });
    engine.setEntry("provider");
    EXPECT_EQ(engine.Dial(), 0);
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().state == RasState::Connected; }, 3000));
    engine.HangUp();
    ASSERT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }));
    // A peer that is not there still ends the dial at once.
    engine.setEntry("nobody");
    EXPECT_EQ(engine.Dial(), RasError::CannotFindPhonebookEntry);
    EXPECT_EQ(errors, std::vector<int>{RasError::CannotFindPhonebookEntry});
}

TEST_F(PppdLineTest, FailuresAreExitStatusesWithTheirTexts)
{
    struct Case {
        const char *entry;
        int code;
        int state;
        const char *text;
    };
    const Case cases[] = {
        {"authfail", RasError::PppdExit + 19, RasState::Authenticate,
         "Authentication failed: the provider refused the user name or password."},
        {"hangup", RasError::PppdExit + 16, RasState::AllDevicesConnected, "The modem hung up."},
    };
    for (const Case &c : cases) {
        steps.clear();
        const ConnHandle h = dial(c.entry);
        ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().error != 0; }, 3000)) << c.entry;
        EXPECT_EQ(steps.back().error, c.code) << c.entry;
        EXPECT_EQ(steps.back().state, c.state) << c.entry;
        EXPECT_EQ(line->errorText(c.code), c.text);
        const auto list = connections();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].errorCode, c.code);
        EXPECT_EQ(line->hangUp(h), 0);
        EXPECT_TRUE(connections().empty());
    }
    EXPECT_EQ(line->errorText(RasError::PppdExit + 42), "The dialer ended with exit status 42.");

    PppdLine::Settings s = line->settings();
    s.pppd = base.path + "/no-such-pppd";
    PppdLine missing(s, std::make_unique<FakeNetInterfaces>());
    std::vector<Step> got;
    QObject::connect(&missing, &LineDriver::dialProgress,
                     [&](ConnHandle h, int state, int error) { got.push_back({h, state, error}); });
    DialParams params;
    params.entryName = "provider";
    ConnHandle h = 0;
    ASSERT_EQ(missing.dial(params, h), 0);
    ASSERT_TRUE(waitFor([&] { return !got.empty() && got.back().error != 0; }));
    EXPECT_EQ(got.back().error, RasError::DialerNotStarted);
}

TEST_F(PppdLineTest, HangupWhileDialingKillsAPppdThatIgnoresSigtermAndARedialWaitsForIt)
{
    const ConnHandle h = dial("stubborn");
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().state == RasState::DeviceConnected; }));
    EXPECT_EQ(line->hangUp(h), 0);
    EXPECT_TRUE(connections().empty());
    EXPECT_EQ(line->childrenLeft(), 1u);
    EXPECT_EQ(states(), (std::vector<int>{0, 1, 3}));
    // Dialled again at once: the new pppd starts only once the old one is gone.
    std::size_t leftAtStart = 99;
    QObject::connect(line.get(), &LineDriver::dialProgress, [&](ConnHandle, int state, int) {
        if (state == RasState::PortOpened)
            leftAtStart = line->childrenLeft();
    });
    steps.clear();
    const ConnHandle again = dial("stubborn");
    ASSERT_TRUE(waitFor([&] { return leftAtStart != 99; }, 2000));
    EXPECT_EQ(leftAtStart, 0u);
    EXPECT_EQ(line->hangUp(again), 0);
    ASSERT_TRUE(waitFor([&] { return line->childrenLeft() == 0; }, 2000));
}

TEST_F(PppdLineTest, PppInterfacesOfAnotherDialerAreConnectedWithTheirEntry)
{
    // Someone ran "pppd call dsl"; its pid file names ppp3.
    QProcess other;
    other.start(QString::fromStdString(base.path + "/bin/pppd"), {QStringLiteral("call"), QStringLiteral("dsl"), QStringLiteral("nodetach")});
    ASSERT_TRUE(other.waitForReadyRead(2000)) << "its trap is set";
    put(base.path + "/run/ppp3.pid", std::to_string(other.processId()) + "\n");
    // A link named "office" (the inline peer's linkname) on ppp1; ppp2 is nobody's.
    put(base.path + "/run/ppp-office.pid", "1\nppp1\n");
    net->set("ppp1", true, "10.1.1.1", kArphrdPpp);
    net->set("ppp2", true, "10.2.2.2", kArphrdPpp);
    net->set("ppp3", true, "10.3.3.3", kArphrdPpp, 2);
    net->set("ppp4", false, "10.4.4.4", kArphrdPpp);  // down
    net->set("eth0", true, "192.0.2.1");               // not PPP

    const auto list = connections();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].entryName, "inline");
    EXPECT_EQ(list[1].entryName, "unknown");
    EXPECT_EQ(list[1].deviceName, "ppp2");
    EXPECT_EQ(list[2].entryName, "dsl");
    EXPECT_EQ(list[2].deviceType, "PPPoE");
    for (const auto &c : list)
        EXPECT_EQ(c.state, RasState::Connected);
    std::string ip;
    EXPECT_EQ(line->projectionAddress(list[2].handle, ip), 0);
    EXPECT_EQ(ip, "10.3.3.3");
    std::uint32_t bps = 0;
    EXPECT_EQ(line->connectionSpeed(list[2].handle, bps), 0);
    EXPECT_EQ(bps, 2000000u);
    EXPECT_EQ(connections()[2].handle, list[2].handle);

    // Hanging up another dialer's link ends that pppd; pid 1 is no pppd and is left alone.
    EXPECT_EQ(line->hangUp(list[2].handle), 0);
    ASSERT_TRUE(other.waitForFinished(2000));
    EXPECT_EQ(other.exitCode(), 5);
    EXPECT_EQ(connections().size(), 2u) << "the link on its way down is not shown";
    EXPECT_EQ(line->hangUp(list[0].handle), RasError::NotSupported);
}

TEST_F(PppdLineTest, AnotherDialersLinkIsReadOnceWhileItStays)
{
    put(base.path + "/run/ppp-office.pid", "1\nppp1\n");
    net->set("ppp1", true, "10.1.1.1", kArphrdPpp);
    auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entryName, "inline");
    EXPECT_EQ(list[0].deviceName, "/dev/ttyUSB0");

    // The status tick asks again and again; the files are not read again
    // while the link is the same one.
    put(peers("inline"), "/dev/ttyS7\n38400\nlinkname office\n");
    for (int tick = 0; tick < 3; ++tick) {
        list = connections();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].deviceName, "/dev/ttyUSB0");
        std::uint32_t bps = 0;
        EXPECT_EQ(line->connectionSpeed(list[0].handle, bps), RasError::NotSupported);
    }
    EXPECT_EQ(line->outsideLinks().readings(), 1u);

    // Another pppd brings up a new ppp1, between two ticks: read anew.
    net->remove("ppp1");
    net->set("ppp1", true, "10.1.1.1", kArphrdPpp);
    list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].deviceName, "/dev/ttyS7");
    std::uint32_t bps = 0;
    EXPECT_EQ(line->connectionSpeed(list[0].handle, bps), 0);
    EXPECT_EQ(bps, 38400u);
    EXPECT_EQ(line->outsideLinks().readings(), 2u);

    // Gone and back: read again.
    net->remove("ppp1");
    EXPECT_TRUE(connections().empty());
    std::filesystem::remove(base.path + "/run/ppp-office.pid");
    net->set("ppp1", true, "10.1.1.1", kArphrdPpp);
    list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entryName, "unknown");
    EXPECT_EQ(line->outsideLinks().readings(), 3u);
}

TEST(ProcessReaper, StopsChildrenThatIgnoreSigtermWithinOneGracePeriod)
{
    constexpr int kGraceMs = 400;
    std::vector<qint64> pids;
    QElapsedTimer timer;
    {
        ProcessReaper reaper;
        for (int i = 0; i < 3; ++i) {
            auto *p = new QProcess;
            p->start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                            QStringLiteral("trap '' TERM; echo ready; while :; do sleep 0.05; done")});
            ASSERT_TRUE(p->waitForReadyRead(2000)) << "its trap is set";
            pids.push_back(p->processId());
            reaper.retire(p, kGraceMs);
        }
        EXPECT_EQ(reaper.count(), 3u);
        timer.start();
    }
    const qint64 took = timer.elapsed();
    EXPECT_GE(took, kGraceMs - 50) << "SIGTERM alone does not end them";
    EXPECT_LT(took, 2 * kGraceMs) << "one grace period for all, not one each";
    for (const qint64 pid : pids)
        EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0) << pid;
}

TEST_F(PppdLineTest, TheEntryDialogWritesAPeerAndItsSecrets)
{
    EntryStore &store = line->entries();
    std::vector<EntryField> f = store.entryFields({});
    ASSERT_EQ(f.size(), 4u);
    f[0].value = "ttyS1";  // not a device path
    std::string why;
    EXPECT_EQ(store.saveEntryFields("newisp", f, true, &why), RasError::InvalidParameter);
    EXPECT_NE(why.find("/dev/ttyS0"), std::string::npos) << why;
    f[0].value = "/dev/ttyUSB1";
    f[1].value = "0800 55";
    f[2].value = "nina@isp";
    f[3].value = "pass word";
    EXPECT_EQ(store.saveEntryFields("newisp", f, true, &why), 0) << why;
    EXPECT_NE(readFile(peers("newisp")).find("/dev/ttyUSB1\n"), std::string::npos);
    EXPECT_NE(readFile(peers("newisp")).find("ATDT0800 55"), std::string::npos);
    const auto shown = store.entryFields("newisp");
    EXPECT_EQ(shown[2].value, "nina@isp");
    EXPECT_EQ(shown[3].value, "pass word");
    EXPECT_TRUE(shown[3].secret);
    EXPECT_EQ(fs::status(secrets("pap-secrets")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace velora::test
