// The doors: what a login may do, audit rows, who a sender is, how many
// sessions a user holds, strangers and the dialled side.

#include "ServiceFixture.h"

TEST_F(ServiceFixture, AShutdownRequestIsToldToTheOperatorAndARefusalToo)
{
    Peer &a = login("pc1", "10.0.0.1", "all");
    std::vector<std::string> told;
    QObject::connect(&service, &ClientService::problem, [&](const std::string &t) { told.push_back(t); });
    a.send("shutdown\xE0");
    settle();
    EXPECT_EQ(told, std::vector<std::string>{"pc1 asked to shut this computer down."});
    shutdown.result = false;
    shutdown.error = "Access denied";
    a.send("shutdown\xE0");
    settle();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[1].find("Access denied"), std::string::npos);
    EXPECT_EQ(shutdown.calls.size(), 2u);
}

TEST_F(ServiceFixture, TheGateServesOnlyLoggedInUsersAndOnlyWhatTheirPrivilegesAllow)
{
    std::vector<std::string> heard;
    QObject::connect(&service, &ClientService::commandHeard,
                     [&](const std::string &user, const std::string &, const std::string &,
                         const std::string &action, const std::string &detail) {
                         heard.push_back(user + "|" + action + "|" + detail);
                     });
    int inboxes = 0;
    QObject::connect(&service, &ClientService::serverInboxReady, [&](const std::string &) { ++inboxes; });
    state.EntryNames = {"ISP"};
    service.operatorLock();
    service.runTickSteps();

    // Never logged in: every line but the login is ignored, unanswered.
    Peer &s = connect();
    for (const char *line : {"dial\xE0ISP\xE0x\xE0", "hangup\xE0x\xE0", "lock\xE0", "unlockall\xE0", "shutdown\xE0",
                             "pesan\xE0" "All\xE0" "6.6.6.6\xE3" "x\xE3" "hi\xE4\xE3\xE5\xE0", "stat\xE0"})
        s.send(line);
    settle();
    service.runTickSteps();
    EXPECT_TRUE(dial.calls.empty());
    EXPECT_TRUE(shutdown.calls.empty());
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(inboxes, 0);
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    EXPECT_EQ(s.next(200), "");

    // No privilege: refused, each with its row, and the status record back.
    service.operatorUnlock();
    Peer &n = login("pc9", "10.0.0.9", "none");
    service.runTickSteps();
    n.read();
    n.lines.clear();
    for (const char *line : {"dial\xE0ISP\xE0pc9\xE0", "hangup\xE0pc9\xE0", "unlockall\xE0", "shutdown\xE0"})
        n.send(line);
    settle();
    service.runTickSteps();
    EXPECT_TRUE(dial.calls.empty());
    EXPECT_TRUE(shutdown.calls.empty());
    EXPECT_EQ(heard, (std::vector<std::string>{"none|dial|ISP (refused: no dial privilege)",
                                               "none|hangup|refused: no hang-up privilege",
                                               "none|unlockall|refused: no unlock-all privilege",
                                               "none|shutdown|refused: no shutdown privilege"}));
    EXPECT_TRUE(wire::parsePushLine(n.next()).hasStatus);
    // Locking needs only the login.
    n.send("lock\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    n.send("lock\xE0");
    settle();
    service.runTickSteps();

    // Privileges are the store's as it is when the command comes.
    const std::string sep = "\xE3";
    test::writeFile(dir.file("user.cfg"), "none" + sep + "Guest" + sep + Encrypt("pw") + sep + "0" + sep + "0" + sep +
                                              "1" + sep + "0" + sep + "\r\n");
    ASSERT_TRUE(users.updateuserlist());
    heard.clear();
    n.send("dial\xE0" "Other\xE0pc9\xE0");
    n.send("shutdown\xE0");
    settle();
    EXPECT_EQ(dial.calls, (std::vector<std::string>{"dial Other pc9"}));
    EXPECT_EQ(heard, (std::vector<std::string>{"none|dial|Other (no such entry)",
                                               "none|shutdown|refused: no shutdown privilege"}));
    // A login the store no longer knows keeps no privilege.
    test::writeFile(dir.file("user.cfg"), "");
    ASSERT_TRUE(users.updateuserlist());
    n.send("hangup\xE0pc9\xE0");
    settle();
    EXPECT_EQ(heard.back(), "none|hangup|refused: the login is no longer valid");
    EXPECT_EQ(dial.calls.size(), 1u);
}

TEST_F(ServiceFixture, ReconnectingInALoopBuysNoNewAuditRows)
{
    service.setStrangerLimits(StrangerLimits{30, 4096, 100000, 0});
    std::size_t rows = 0;
    QObject::connect(&service, &ClientService::commandHeard,
                     [&](const std::string &, const std::string &, const std::string &, const std::string &,
                         const std::string &) { ++rows; });
    const std::string lines =
        wire::buildCommandLine("connect", {"pc1", "10.0.0.1", "all", Encrypt("pw")}) + "\r\nlock\xE0\r\n";
    for (int i = 0; i < 2000; ++i) {
        const int fd = rawConnect(listener.serverPort());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL), static_cast<ssize_t>(lines.size()));
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        if (i % 50 == 49)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_TRUE(waitFor([&] { return service.sessionCount() == 0; }, 10000));
    // The burst and about one a second: a few dozen, not two thousand.
    EXPECT_GE(rows, std::size_t(CommandGate::AuditBurst));
    EXPECT_LT(rows, std::size_t(CommandGate::AuditBurst) + 60);
}

TEST_F(ServiceFixture, ChatSendersAreWhoTheyLoggedInAsAndMailGoesOnlyToTheRealComputer)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    a.next();
    b.next();
    // Forged as the operator: the server puts the sender's own fields back.
    a.send("pesan\xE0" "10.0.0.2\xE0" +
           wire::buildMessageRecord({"192.0.2.1", "Admin@srv", {"shut down now"}}) + "\xE0");
    // Its own fields pass as they are, byte for byte.
    const std::string own = wire::buildMessageRecord({"10.0.0.1", "pc1", {"hello", ""}});
    a.send("pesan\xE0" "10.0.0.2\xE0" + own + "\xE0");
    settle();
    service.runTickSteps();
    const auto got = wire::parsePushLine(b.next()).messages;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].senderAddress, "10.0.0.1");
    EXPECT_EQ(got[0].senderName, "pc1");
    EXPECT_EQ(got[0].bodyLines, std::vector<std::string>{"shut down now"});
    EXPECT_EQ(wire::buildMessageRecord(got[1]), own);

    // A second record on the same line cannot slip through unchecked.
    EXPECT_EQ(CommandGate::honestRecord(*service.clientList()[1],
                                        wire::buildMessageRecord({"10.0.0.1", "pc1", {"a"}}) +
                                            wire::buildMessageRecord({"192.0.2.1", "Admin@srv", {"b"}})),
              wire::buildMessageRecord({"10.0.0.1", "pc1", {"a"}}));
}

TEST_F(ServiceFixture, TheDiallersNameLosesItsControlBytesAndOneUserHoldsAtMostItsSessions)
{
    Peer &a = login("pc1", "10.0.0.1", "all");
    service.runTickSteps();
    a.send("dial\xE0ISP\xE0=1+2\x1B[2J\rLocal\xE0");
    settle();
    EXPECT_EQ(dial.calls.back(), "dial ISP =1+2[2JLocal");

    service.setStrangerLimits(StrangerLimits{30, 64, 16, 2});
    login("pc2", "10.0.0.2", "all");
    Peer &third = connect();
    third.send(wire::buildCommandLine("connect", {"pc3", "10.0.0.3", "all", Encrypt("pw")}));
    EXPECT_EQ(third.next(), "FAIL\xE0too many sessions of this user\xE0");
    login("pc4", "10.0.0.4", "ann");
}

TEST_F(ServiceFixture, AFullWaitingRoomLetsTheNewcomerInInPlaceOfTheOldestStranger)
{
    service.setStrangerLimits(StrangerLimits{30, 2, 16, 8});
    Peer &first = connect();
    Peer &second = connect();
    first.send("conn");  // a stranger that said something goes after a silent one
    settle();
    peers.push_back(std::make_unique<Peer>());
    Peer &third = *peers.back();
    third.socket.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(third.socket.waitForConnected(2000));
    EXPECT_TRUE(waitFor([&] { return second.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(service.pendingCount(), 2u);
    third.send(wire::buildCommandLine("connect", {"pc3", "10.0.0.3", "ann", Encrypt("pw")}));
    EXPECT_EQ(wire::parseLoginReply(third.next()).kind, wire::LoginReply::Kind::Accepted);
    EXPECT_EQ(first.socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(ServiceFixture, AConnectionOverTheDialledLineIsClosedUnread)
{
    // Loopback plays the line here: its addresses face "the provider".
    DialledSide side;
    side.setLineInterfaces({"lo"});
    listener.setDialledSide(&side);
    QTcpSocket c;
    c.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(c.waitForConnected(2000));
    c.write(wire::buildCommandLine("connect", {"x", "1.2.3.4", "ann", Encrypt("pw")}).c_str());
    c.write("\r\n");
    EXPECT_TRUE(waitFor([&] { return c.state() == QAbstractSocket::UnconnectedState; }, 2000));
    EXPECT_EQ(service.sessionCount(), 0u);
    EXPECT_EQ(side.lastInterface(), "lo");

    listener.setDialledSide(nullptr);
    Peer &p = login("pc1", "10.0.0.1");
    EXPECT_EQ(p.socket.state(), QAbstractSocket::ConnectedState);
}
