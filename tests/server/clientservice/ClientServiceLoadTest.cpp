// Peers that misbehave or pile on: silent, slow or flooding clients, huge
// mailboxes and lines, and a listener out of descriptors.

#include "ServiceFixture.h"

TEST_F(ServiceFixture, PollingClosesClientsThatStoppedAnswering)
{
    state.PollingMinutes = 1;
    Peer &quiet = login("quiet", "10.0.0.1");
    Peer &answering = login("answers", "10.0.0.2");
    auto answeringRecord = [&]() -> TSimpleClient * {
        for (TSimpleClient *r : service.clientList())
            if (r->ClientName == "answers")
                return r;
        return nullptr;
    };
    auto tick = [&] {
        service.runTickSteps();
        // Lines go out after a polling round (and after the logins); nothing
        // else changes here.
        if (service.pollCount() != 0 && state.StatusChanged == 0 && service.statusFresh() == 0)
            return;
        // The answering client says "trm" for every non-empty line it reads.
        if (answering.next(500).empty())
            return;
        answering.lines.clear();
        answering.send("trm\xE0");
        waitFor([&] { return answeringRecord() && answeringRecord()->Alive == "1"; });
    };
    for (int i = 0; i < 121; ++i)
        tick();  // first round: everyone was alive since login
    EXPECT_EQ(service.clientList().size(), 3u);
    for (int i = 0; i < 121; ++i)
        tick();  // second round: the quiet one never answered
    EXPECT_TRUE(waitFor([&] { return quiet.socket.state() == QAbstractSocket::UnconnectedState; }));
    ASSERT_EQ(service.clientList().size(), 2u);
    EXPECT_EQ(service.clientList()[1]->ClientName, "answers");

    state.PollingMinutes = 0;
    for (int i = 0; i < 300; ++i)
        service.runTickSteps();
    EXPECT_EQ(service.clientList().size(), 2u);
}

TEST_F(ServiceFixture, ASlowReaderIsDroppedAndTheOthersKeepTheirLines)
{
    Peer &slow = login("slow", "10.0.0.1");
    Peer &fast = login("fast", "10.0.0.2");
    slow.socket.setReadBufferSize(1);  // stops reading from the kernel almost at once
    state.ActiveStatus = LinkState::Connected;
    slow.send("bandwidth\xE0" "active\xE0");
    fast.send("bandwidth\xE0" "active\xE0");
    settle();
    slow.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    service.setTrafficText(std::string(16000, '7') + "\xE2" "1\xE2");
    int received = 0;
    int ticks = 0;
    for (int i = 0; i < 5000 && service.clientList().size() == 3; ++i, ++ticks) {
        service.runTickSteps();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        fast.read();
        received += static_cast<int>(fast.lines.size());
        fast.lines.clear();
    }
    ASSERT_EQ(service.clientList().size(), 2u);
    EXPECT_EQ(service.clientList()[1]->ClientName, "fast");
    // The fast client got a line on every tick, before the drop and after it.
    for (int i = 0; i < 5; ++i, ++ticks)
        service.runTickSteps();
    EXPECT_TRUE(waitFor([&] {
        fast.read();
        received += static_cast<int>(fast.lines.size());
        fast.lines.clear();
        return received >= ticks;
    }));
    EXPECT_EQ(received, ticks);
    EXPECT_GT(ticks, 20);
}

TEST_F(ServiceFixture, ALargeMailboxIsSpreadOverWholeLines)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    a.next();
    b.next();
    service.runTickSteps();
    service.runTickSteps();
    for (int i = 0; i < 200; ++i) {
        std::string body = std::to_string(i) + ":" + std::string(190, 'x');
        a.send("pesan\xE0" "10.0.0.2\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {body}}) + "\xE0");
    }
    settle();
    ASSERT_TRUE(waitFor([&] { return service.clientList()[2]->Mailbox.size() > 200 * 200; }));
    // A status change on the same tick puts the status record in the first line.
    state.StatusText = "Dialing...";
    service.runTickSteps();
    std::vector<wire::MessageRecord> got;
    int lines = 0;
    bool statusSeen = false;
    while (got.size() < 200) {
        const std::string l = b.next();
        ASSERT_FALSE(l.empty()) << "after " << got.size();
        EXPECT_LE(l.size(), LineFramer::MaxLineLength);
        const auto p = wire::parsePushLine(l);
        if (lines == 0)
            statusSeen = p.hasStatus && p.status.statusText == "Dialing...";
        else
            EXPECT_FALSE(p.hasStatus);
        got.insert(got.end(), p.messages.begin(), p.messages.end());
        ++lines;
    }
    EXPECT_TRUE(statusSeen);
    EXPECT_GT(lines, 2);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(got[i].bodyLines.at(0).substr(0, std::to_string(i).size() + 1), std::to_string(i) + ":");
    EXPECT_EQ(b.next(200), "");
}

TEST_F(ServiceFixture, OverlongLineEndsOnlyThatSession)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    a.socket.write(QByteArray(20000, 'x'));
    EXPECT_TRUE(waitFor([&] { return a.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(waitFor([&] { return service.clientList().size() == 2; }));
    b.send("lock\xE0");
    settle();
    service.runTickSteps();
    EXPECT_EQ(wire::parsePushLine(b.next()).status.ownLock, "locking");

    service.goOffline();
    EXPECT_TRUE(service.clientList().empty());
    EXPECT_TRUE(waitFor([&] { return b.socket.state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(ServiceFixture, AChatFloodNeitherStallsNorDropsTheOthers)
{
    Peer &b = login("pc2", "10.0.0.2");
    service.runTickSteps();
    b.next();
    service.runTickSteps();
    service.runTickSteps();

    // Another thread floods "pesan" to All as fast as the kernel takes it.
    constexpr int Messages = 500;
    const int fd = rawConnect(listener.serverPort());
    ASSERT_GE(fd, 0);
    std::atomic<bool> written{false};
    // It logs in first and reads what it is sent, as a client does.
    std::thread drainer([fd] {
        char buf[65536];
        while (::recv(fd, buf, sizeof buf, 0) > 0) {
        }
    });
    std::thread flooder([&] {
        const std::string hello = wire::buildCommandLine("connect", {"pc9", "10.0.0.9", "ann", Encrypt("pw")}) + "\r\n";
        if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size()))
            return;
        for (int i = 0; i < Messages; ++i) {
            const std::string body = std::to_string(i) + ":" + std::string(8000, 'f');
            const std::string line = "pesan\xE0" "All\xE0" + wire::buildMessageRecord({"10.0.0.9", "flood", {body}}) + "\xE0\r\n";
            for (std::size_t done = 0; done < line.size();) {
                const ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                done += static_cast<std::size_t>(n);
            }
        }
        written = true;
    });

    std::size_t largestMailbox = 0;
    qint64 longestGap = 0;
    std::vector<wire::MessageRecord> got;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        for (const TSimpleClient *r : service.clientList())
            largestMailbox = std::max(largestMailbox, r->Mailbox.size());
        service.runTickSteps();
    });
    tick.start(50);
    QElapsedTimer total;
    total.start();
    while (got.size() < Messages && total.elapsed() < 20000 && service.clientList().size() >= 2) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        b.read();
        for (const std::string &l : b.lines) {
            EXPECT_LE(l.size(), LineFramer::MaxLineLength);
            const auto p = wire::parsePushLine(l);
            got.insert(got.end(), p.messages.begin(), p.messages.end());
        }
        b.lines.clear();
    }
    tick.stop();
    flooder.join();
    // Once drained, the flooder's session still takes lines.
    const std::string tail = "pesan\xE0" "All\xE0" + wire::buildMessageRecord({"10.0.0.9", "flood", {"tail"}}) + "\xE0\r\n";
    EXPECT_EQ(::send(fd, tail.data(), tail.size(), MSG_NOSIGNAL), static_cast<ssize_t>(tail.size()));
    ASSERT_TRUE(waitFor([&] { return service.clientList().front()->Mailbox.find("tail") != std::string::npos; }));
    ::shutdown(fd, SHUT_RDWR);
    drainer.join();
    ::close(fd);

    EXPECT_TRUE(written);
    // The reader keeps its session and gets every message, whole and in order.
    ASSERT_TRUE(waitFor([&] { return service.clientList().size() == 2; }));
    EXPECT_EQ(service.clientList()[1]->ClientName, "pc2");
    ASSERT_EQ(got.size(), static_cast<std::size_t>(Messages));
    for (int i = 0; i < Messages; ++i)
        ASSERT_EQ(got[i].bodyLines.at(0).substr(0, std::to_string(i).size() + 1), std::to_string(i) + ":");
    // What waits for the next tick stays small, and the ticks keep coming.
    EXPECT_LE(largestMailbox, std::size_t{1} << 20);
    EXPECT_LT(longestGap, 400);
}

TEST_F(ServiceFixture, OversizedTextsFromOnePeerDoNotBreakTheOthersLines)
{
    Peer &a = login("pc1", "10.0.0.1");
    Peer &b = login("pc2", "10.0.0.2");
    service.setTrafficText("123456789\xE2" "987654321\xE2");
    service.runTickSteps();
    a.next();
    b.next();

    // A record that fills a command line leaves no room in a push line for the rest.
    const std::string big = wire::buildMessageRecord({"10.0.0.1", "pc1", {std::string(16357, 'x')}});
    ASSERT_EQ(big.size() + 11, LineFramer::MaxLineLength);
    a.send("pesan\xE0" "All\xE0" + big + "\xE0");
    settle();
    service.runTickSteps();
    // A host name as long as a line would go into everyone's status record.
    Peer &c = connect();
    const std::string longName(16300, 'n');
    c.send(wire::buildCommandLine("connect", {longName, "10.0.0.3", "ann", Encrypt("pw")}));
    EXPECT_EQ(wire::parseLoginReply(c.next()).kind, wire::LoginReply::Kind::Accepted);
    settle();
    service.runTickSteps();
    a.send("pesan\xE0" "All\xE0" + wire::buildMessageRecord({"10.0.0.1", "pc1", {"after"}}) + "\xE0");
    settle();
    service.runTickSteps();

    // Every line b is sent fits its reader, and it still hears the next message.
    LineFramer strict;
    std::vector<std::string> lines;
    bool heardAfter = false;
    waitFor([&] {
        const QByteArray bytes = b.socket.readAll();
        EXPECT_TRUE(strict.feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), lines));
        for (const auto &l : lines)
            for (const auto &m : wire::parsePushLine(l).messages)
                heardAfter = heardAfter || m.bodyLines == std::vector<std::string>{"after"};
        lines.clear();
        return heardAfter || strict.failed();
    });
    EXPECT_FALSE(strict.failed());
    EXPECT_TRUE(heardAfter);
    ASSERT_EQ(service.clientList().size(), 4u);
    const std::string &shownName = service.clientList()[3]->ClientName;
    EXPECT_FALSE(shownName.empty());
    EXPECT_EQ(longName.compare(0, shownName.size(), shownName), 0);
}

TEST_F(ServiceFixture, TheListenerAcceptsAgainAfterRunningOutOfFiles)
{
    // Sockets made first, so that only the listener meets the limit.
    std::vector<int> fds;
    for (int i = 0; i < 6; ++i)
        fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::size_t open = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++open;
    rlimit tight = saved;
    tight.rlim_cur = open + 1;  // room for two sessions (the iterator held one)
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(listener.serverPort());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto connectFd = [&](int fd) { return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0; };
    bool ranOut = false;
    QObject::connect(&listener, &QTcpServer::acceptError, [&] { ranOut = true; });
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(connectFd(fds[i]));  // the kernel completes them from the backlog
    // Those it could take are sessions by the time it says it ran out.
    waitFor([&] { return ranOut; }, 2000);
    const std::size_t atLimit = service.sessionCount();
    EXPECT_LT(atLimit, 4u);

    // Files free up again: the waiting and the new connections get their sessions.
    for (int i = 0; i < 2; ++i)
        ::close(fds[i]);
    EXPECT_TRUE(waitFor([&] { return service.sessionCount() < atLimit; }));
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(connectFd(fds[4]));
    EXPECT_TRUE(waitFor([&] { return service.sessionCount() == 3; }, 5000)) << service.sessionCount();
    for (int i = 2; i < 6; ++i)
        ::close(fds[i]);
}
