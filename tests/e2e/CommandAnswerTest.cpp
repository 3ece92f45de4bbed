// The real server on what a person or a client of any make runs into:
// a wrong [line] driver, and commands the status does not follow.
#include <gtest/gtest.h>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"

using namespace velora::test;

namespace {

const std::string DemoLogin = "demo" + F + "245-53-210-81-" + F + "\r\n";

void writeDemoUser(const std::string &base)
{
    writeFile(base + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
}

// Reads push lines (answering each) until none came for a second.
void drain(RawClient &c)
{
    while (!c.line(1200).empty())
        c.send("trm" + F + "\r\n");
}

// The next line that carries a whole status record, within ms.
std::vector<std::string> nextStatus(RawClient &c, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        const std::string l = c.line(ms - static_cast<int>(t.elapsed()));
        if (l.empty())
            break;
        c.send("trm" + F + "\r\n");
        const auto items = statusItems(l);
        if (items.size() == 13)
            return items;
    }
    return {};
}

}  // namespace

TEST(CommandAnswer, AnUnknownLineDriverIsNamedOnStderr)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    server.writeConfig("[server]\nport=0\n[line]\ndriver=bogus\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("line: simulated")) << server.output();
    EXPECT_NE(server.output().find("unknown line driver \"bogus\""), std::string::npos) << server.output();
}

TEST(CommandAnswer, IgnoredDialAndHangUpAreAnsweredWithTheStatus)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    server.writeConfig("[server]\nport=0\n");
    writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\ndelay=5\n");
    writeDemoUser(server.baseDir());
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    const quint16 port = server.listeningPort();

    RawClient a, b;
    ASSERT_TRUE(a.open(port));
    ASSERT_TRUE(b.open(port));
    a.send("connect" + F + "pc-a" + F + "10.0.0.1" + F + DemoLogin);
    b.send("connect" + F + "pc-b" + F + "10.0.0.2" + F + DemoLogin);
    ASSERT_EQ(a.line().substr(0, 3), "OK" + F);
    ASSERT_EQ(b.line().substr(0, 3), "OK" + F);
    drain(a);
    drain(b);

    // An entry the line does not know: the status stays READY.
    a.send("dial" + F + "Nowhere" + F + "pc-a" + F + "\r\n");
    const auto afterDial = nextStatus(a, 5000);
    ASSERT_EQ(afterDial.size(), 13u);
    EXPECT_EQ(afterDial[0], "READY");
    EXPECT_EQ(afterDial[2], "--");

    // Hanging up while idle changes nothing either.
    drain(b);
    b.send("hangup" + F + "pc-b" + F + "\r\n");
    const auto afterHangup = nextStatus(b, 5000);
    ASSERT_EQ(afterHangup.size(), 13u);
    EXPECT_EQ(afterHangup[0], "READY");
}
