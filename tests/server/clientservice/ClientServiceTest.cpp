// Sessions as a client sees them: logins, the list, locks, dials, the
// commands that touch the server and the mail.

#include "ServiceFixture.h"

TEST_F(ServiceFixture, LoginRepliesAndTheClientList)
{
    Peer &a = connect();
    a.send(wire::buildCommandLine("connect", {"pc1", "10.0.0.1", "ann", Encrypt("pw")}));
    EXPECT_EQ(a.next(), "OK\xE0" "Front desk\xE0" "0\xE0" "1\xE0" "4\xE0" "1\xE0" "0\xE0");
    // A second login on the same connection does not add the record twice.
    a.send(wire::buildCommandLine("connect", {"pc1", "10.0.0.1", "ann", Encrypt("pw")}));
    EXPECT_EQ(a.next().substr(0, 3), "OK\xE0");
    ASSERT_EQ(service.clientList().size(), 2u);
    EXPECT_EQ(service.clientList()[1]->ClientName, "pc1");

    Peer &b = connect();
    b.send(wire::buildCommandLine("connect", {"pc2", "10.0.0.2", "off", Encrypt("pw")}));
    EXPECT_EQ(b.next(), "FAIL\xE0this user is disabled\xE0");
    EXPECT_TRUE(waitFor([&] { return b.socket.state() == QAbstractSocket::UnconnectedState; }));

    Peer &c = connect();
    c.send(wire::buildCommandLine("connect", {"pc3", "10.0.0.3", "ANN", Encrypt("pw")}));
    EXPECT_EQ(c.next(), "FAIL\xE0wrong username/password\xE0");

    // Letters in a matching user's cipher end the session without a reply.
    Peer &d = connect();
    d.send(wire::buildCommandLine("connect", {"pc4", "10.0.0.4", "ann", "12a-"}));
    EXPECT_TRUE(waitFor([&] { return d.socket.state() == QAbstractSocket::UnconnectedState; }));
    d.read();
    EXPECT_TRUE(d.lines.empty());
    EXPECT_EQ(service.clientList().size(), 2u);

    // Disconnect removes the record.
    a.socket.disconnectFromHost();
    EXPECT_TRUE(waitFor([&] { return service.clientList().size() == 1; }));
}

TEST_F(ServiceFixture, LocksDialsAndTheLineLockWord)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    a.send("stat\xE0");
    settle();
    service.runTickSteps();
    const auto first = wire::parsePushLine(a.next());
    ASSERT_TRUE(first.hasStatus);
    EXPECT_EQ(first.status.clientNames, (std::vector<std::string>{"Admin@srv", "pc1", "pc2"}));
    b.next();

    a.send("lock\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    const auto pa = wire::parsePushLine(a.next());
    const auto pb = wire::parsePushLine(b.next());
    EXPECT_EQ(pa.status.lockStatus, "locked");
    EXPECT_EQ(pa.status.ownLock, "locking");
    EXPECT_EQ(pb.status.lockStatus, "locked");
    EXPECT_EQ(pb.status.ownLock, "free");
    EXPECT_EQ(pb.status.clientLocks, (std::vector<std::string>{"free", "locking", "free"}));

    // Locked: dial and hang-up are dropped, but the entry name follows.
    b.send("dial\xE0ISP\xE0pc2\xE0");
    b.send("hangup\xE0pc2\xE0");
    settle();
    EXPECT_EQ(dial.calls, std::vector<std::string>{"entry ISP"});

    b.send("unlockall\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Free);
    b.send("dial\xE0ISP\xE0pc2\xE0");
    b.send("hangup\xE0\xE0");
    settle();
    EXPECT_EQ(dial.calls, (std::vector<std::string>{"entry ISP", "dial ISP pc2", "hangup"}));

    // The operator's lock counts for the line too; a client's unlockall frees it.
    service.operatorLock();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Locked);
    EXPECT_EQ(service.operatorLockState(), ClientLock::Locking);
    a.send("unlockall\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(state.LockStatus, LineLock::Free);
    EXPECT_EQ(service.operatorLockState(), ClientLock::Free);

}

TEST_F(ServiceFixture, EachCommandIsHeardWithItsUserHostAndAddressAndALockKeepsItsTime)
{
    std::vector<std::string> heard;
    QObject::connect(&service, &ClientService::commandHeard,
                     [&](const std::string &user, const std::string &host, const std::string &address,
                         const std::string &action, const std::string &detail) {
                         heard.push_back(user + "|" + host + "|" + address + "|" + action + "|" + detail);
                     });
    std::vector<ClientRow> rows;
    QObject::connect(&service, &ClientService::clientListUpdated,
                     [&](const std::vector<ClientRow> &r) { rows = r; });
    Peer &a = login("pc1", "10.0.0.1", "all");
    service.runTickSteps();
    a.send("dial\xE0ISP\xE0pc1\xE0");
    const std::int64_t before = QDateTime::currentSecsSinceEpoch();
    a.send("lock\xE0");
    settle();
    service.runTickSteps();
    service.UpdateClientList();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].lock, "locking");
    EXPECT_GE(rows[1].lockedSince, before);
    EXPECT_LE(rows[1].lockedSince, QDateTime::currentSecsSinceEpoch());
    EXPECT_EQ(rows[0].lockedSince, 0);

    a.send("hangup\xE0pc1\xE0");
    a.send("lock\xE0");
    a.send("unlockall\xE0");
    a.send("shutdown\xE0");
    settle();
    service.UpdateClientList();
    EXPECT_EQ(rows[1].lock, "free");
    EXPECT_EQ(rows[1].lockedSince, 0);
    // The address is the connection's, not the one the client claims.
    const std::string who = "all|pc1|127.0.0.1|";
    // An entry the server does not have is named as such.
    EXPECT_EQ(heard, (std::vector<std::string>{who + "dial|ISP (no such entry)", who + "lock|",
                                               who + "hangup|refused: the line is locked", who + "unlock|",
                                               who + "unlockall|", who + "shutdown|"}));

    // A loop of commands writes a burst, then says how many it left out.
    heard.clear();
    std::string flood;
    for (int i = 0; i < ClientService::AuditBurst + 40; ++i)
        flood += "lock\xE0\r\n";
    a.write(flood);
    settle();
    EXPECT_GE(heard.size(), std::size_t(ClientService::AuditBurst) - 6);  // the burst less what the six above took
    EXPECT_LT(heard.size(), std::size_t(ClientService::AuditBurst));
    a.socket.disconnectFromHost();
    EXPECT_TRUE(waitFor([&] { return service.clientList().size() == 1; }));
    // Told once the rows refill, whether the connection is still there or not.
    EXPECT_TRUE(waitFor([&] {
        service.runTickSteps();
        return !heard.empty() && heard.back().rfind(who + "left out|", 0) == 0;
    }, 3000));
}

TEST_F(ServiceFixture, ADroppedDialOrHangUpIsAnsweredWithTheStatusToItsSenderOnly)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    a.send("lock\xE0");
    settle();
    service.runTickSteps();
    service.runTickSteps();
    // What the lock and the logins brought is not what this is about.
    settle();
    a.read();
    b.read();
    a.lines.clear();
    b.lines.clear();

    // Refused by the lock: nothing in the status changes, yet b hears it.
    b.send("dial\xE0ISP\xE0pc2\xE0");
    settle();
    service.runTickSteps();
    const auto pb = wire::parsePushLine(b.next());
    ASSERT_TRUE(pb.hasStatus);
    EXPECT_EQ(pb.status.lockStatus, "locked");
    EXPECT_EQ(pb.status.ownLock, "free");
    EXPECT_EQ(a.next(200), "");
    // Once: the tick after has nothing for it.
    service.runTickSteps();
    EXPECT_EQ(b.next(200), "");

    a.send("hangup\xE0pc1\xE0");
    settle();
    service.runTickSteps();
    const auto pa = wire::parsePushLine(a.next());
    ASSERT_TRUE(pa.hasStatus);
    EXPECT_EQ(pa.status.ownLock, "locking");
    EXPECT_EQ(b.next(200), "");
}

TEST_F(ServiceFixture, CommandsThatTouchTheServerState)
{
    Peer &a = login("pc1", "10.0.0.1", "all");
    a.send("stat");  // no separator: no field, ignored
    a.send("STAT\xE0");
    settle();
    EXPECT_EQ(state.StatusChanged, 0);
    a.send("stat\xE0");
    settle();
    EXPECT_EQ(state.StatusChanged, 2);

    a.send("bandwidth\xE0" "active\xE0");
    settle();
    EXPECT_TRUE(service.clientList()[1]->MeterWanted);
    a.send("bandwidth\xE0" "ACTIVE\xE0");
    settle();
    EXPECT_FALSE(service.clientList()[1]->MeterWanted);

    shutdownMode = 5;
    a.send("shutdown\xE0");
    settle();
    shutdownMode = 1;
    a.send("shutdown\xE0");
    settle();
    shutdownMode = 7;
    a.send("shutdown\xE0");
    settle();
    EXPECT_EQ(shutdown.calls, (std::vector<int>{0, 8, 8}));
}

TEST_F(ServiceFixture, MessagesReachMailboxesAndTheOperator)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    a.next();
    b.next();
    service.runTickSteps();
    service.runTickSteps();  // let the status record go stale

    std::string inbox;
    QObject::connect(&service, &ClientService::serverInboxReady, [&](const std::string &m) { inbox = m; });
    const std::string rec = wire::buildMessageRecord({"10.0.0.1", "pc1", {"hello"}});
    a.send("pesan\xE0" "All\xE0" + rec + "\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(inbox, rec);
    for (Peer *p : {&a, &b}) {
        const auto line = wire::parsePushLine(p->next());
        EXPECT_FALSE(line.hasStatus);
        ASSERT_EQ(line.messages.size(), 1u);
        EXPECT_EQ(line.messages[0].bodyLines, std::vector<std::string>{"hello"});
    }

    // To one address: only that client gets a line; two messages arrive together.
    a.send("pesan\xE0" "10.0.0.2\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {"one"}}) + "\xE0");
    a.send("pesan\xE0" "10.0.0.2\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {"two"}}) + "\xE0");
    a.send("pesan\xE0" "10.9.9.9\xE0" + rec + "\xE0");  // nobody there: dropped
    settle();
    service.runTickSteps();
    const std::string raw = b.next();
    const auto line = wire::parsePushLine(raw);
    ASSERT_EQ(line.messages.size(), 2u) << raw;
    EXPECT_EQ(line.messages[1].bodyLines[0], "two");
    EXPECT_EQ(a.next(300), "");

    // The operator's message to one client: everyone gets a line, only it has mail.
    service.pesanserver("10.0.0.1", wire::buildMessageRecord({"192.0.2.1", "Admin@srv", {"hi"}}));
    service.runTickSteps();
    EXPECT_EQ(wire::parsePushLine(a.next()).messages.size(), 1u);
    EXPECT_EQ(wire::parsePushLine(b.next()).messages.size(), 0u);
}
