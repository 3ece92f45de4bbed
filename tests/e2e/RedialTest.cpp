// The real server on the simulated line: the provider ends a client's
// connection, and the line comes back by itself.
#include <gtest/gtest.h>

#include <string>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

TEST(RedialE2E, AnOutsideDropOfTheDialledEntryIsRedialled)
{
    TempDir dir;
    ServerProcess server{dir.file("base")};
    server.writeConfig("[server]\nport=0"
                       "\n[policy]\nredial=1\nredialholdoff=1\nredialmaxfail=2\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    // The first connection ends 1.5 s after it came up, the redialled one stays.
    writeFile(server.baseDir() + "/config/phonebook.ini",
              "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=5\ndropafter=1500\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    const quint16 port = server.listeningPort();
    RawClient client;
    ASSERT_TRUE(client.open(port));
    client.send("connect" + F + "pc-redial" + F + "10.0.0.7" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(client.line().substr(0, 3), "OK" + F);

    client.send("dial" + F + "Metro" + F + "pc-redial" + F + "\r\n");
    ASSERT_FALSE(client.lineWith("Connected" + I).empty()) << server.output();
    const std::string waiting = client.lineWith("Redialing in ");
    ASSERT_FALSE(waiting.empty()) << server.output();
    EXPECT_EQ(statusItems(waiting).at(0), "Redialing in 1 s (attempt 1 of 2)");
    const std::string back = client.lineWith("Connected" + I);
    ASSERT_FALSE(back.empty()) << server.output();
    EXPECT_EQ(statusItems(back).at(2), "Metro");
}
