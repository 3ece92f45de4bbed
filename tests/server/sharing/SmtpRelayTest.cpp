// The relay between real loopback sockets: bytes unchanged both ways, the
// other side closed when one closes, a refusing target, the connection cap,
// and memory that stays bounded while the target does not read.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "server/sharing/SmtpRelay.h"
#include "support/Wait.h"
#include "support/RelaySockets.h"

using namespace velora::server::sharing;
using namespace velora::test;

namespace {

struct Notes {
    std::mutex m;
    std::vector<std::string> lines;
    SmtpRelay::Report sink()
    {
        return [this](const std::string &l) {
            std::lock_guard<std::mutex> lock(m);
            lines.push_back(l);
        };
    }
    std::string joined()
    {
        std::lock_guard<std::mutex> lock(m);
        std::string all;
        for (const auto &l : lines)
            all += l + "\n";
        return all;
    }
};

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return s;
}

class RelayModes : public ::testing::TestWithParam<bool> {
protected:
    RelayLimits limits() const
    {
        RelayLimits l;
        l.splice = GetParam();
        return l;
    }
};

}  // namespace

TEST_P(RelayModes, PassesBytesUnchangedBothWaysAndClosesTheOtherSide)
{
    std::uint16_t targetPort = 0;
    Fd target = listenLoopback(targetPort);
    ASSERT_TRUE(target);
    SmtpRelay relay(limits());
    std::string why;
    ASSERT_TRUE(relay.start("127.0.0.1", 0, "127.0.0.1", targetPort, &why)) << why;
    ASSERT_NE(relay.port(), 0);

    Fd client = connectLoopback(relay.port());
    Fd server;
    ASSERT_TRUE(waitFor([&] { return bool(server = acceptOne(target)); }, 3000));
    ASSERT_TRUE(waitFor([&] { return relay.connections() == 1; }, 3000));

    // Every byte value, NULs and CR LF included, both ways.
    const std::string greeting = "220 mail.example ESMTP\r\n" + pattern(300000);
    ASSERT_EQ(::send(server.fd, greeting.data(), greeting.size(), MSG_NOSIGNAL), static_cast<ssize_t>(greeting.size()));
    std::string atClient;
    bool eof = false;
    ASSERT_TRUE(waitFor([&] { readAvailable(client, atClient, eof); return atClient.size() >= greeting.size() || eof; }, 5000));
    EXPECT_EQ(atClient, greeting);

    const std::string mail = "EHLO pc-a\r\n" + pattern(70000) + "\r\n.\r\n";
    std::size_t sent = 0;
    std::string atServer;
    ASSERT_TRUE(waitFor([&] {
        if (sent < mail.size()) {
            const ssize_t n = ::send(client.fd, mail.data() + sent, mail.size() - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        readAvailable(server, atServer, eof);
        return atServer.size() >= mail.size();
    }, 5000));
    EXPECT_EQ(atServer, mail);

    // The target hangs up: the mail program hears the end, and closes too.
    server.reset();
    atClient.clear();
    eof = false;
    EXPECT_TRUE(waitFor([&] { readAvailable(client, atClient, eof); return eof; }, 3000));
    client.reset();
    EXPECT_TRUE(waitFor([&] { return relay.connections() == 0; }, 3000));
    EXPECT_EQ(relay.bufferedBytes(), 0u);
}

TEST_P(RelayModes, AHalfCloseIsPassedOnAndTheLastReplyStillArrives)
{
    std::uint16_t targetPort = 0;
    Fd target = listenLoopback(targetPort);
    SmtpRelay relay(limits());
    std::string why;
    ASSERT_TRUE(relay.start("127.0.0.1", 0, "127.0.0.1", targetPort, &why)) << why;
    Fd client = connectLoopback(relay.port());
    Fd server;
    ASSERT_TRUE(waitFor([&] { return bool(server = acceptOne(target)); }, 3000));

    // The caller sends its last command and says it is done sending.
    const std::string quit = "QUIT\r\n";
    ASSERT_TRUE(waitFor([&] { return ::send(client.fd, quit.data(), quit.size(), MSG_NOSIGNAL) == 6; }, 3000));
    ASSERT_EQ(::shutdown(client.fd, SHUT_WR), 0);
    std::string atServer;
    bool serverEof = false;
    ASSERT_TRUE(waitFor([&] { readAvailable(server, atServer, serverEof); return serverEof; }, 3000));
    EXPECT_EQ(atServer, quit);
    EXPECT_EQ(relay.connections(), 1u);

    // The server still answers, then closes: the caller gets all of it.
    const std::string bye = "221 2.0.0 Bye\r\n";
    ASSERT_EQ(::send(server.fd, bye.data(), bye.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bye.size()));
    server.reset();
    std::string atClient;
    bool clientEof = false;
    ASSERT_TRUE(waitFor([&] { readAvailable(client, atClient, clientEof); return clientEof; }, 3000));
    EXPECT_EQ(atClient, bye);
    EXPECT_TRUE(waitFor([&] { return relay.connections() == 0; }, 3000));
}

TEST_P(RelayModes, AServerThatDoesNotReadHoldsTheSenderBackWithinTheBounds)
{
    std::uint16_t targetPort = 0;
    Fd target = listenLoopback(targetPort);
    RelayLimits l = limits();
    SmtpRelay relay(l);
    ASSERT_TRUE(relay.start("127.0.0.1", 0, "127.0.0.1", targetPort));
    Fd client = connectLoopback(relay.port());
    Fd server;
    ASSERT_TRUE(waitFor([&] { return bool(server = acceptOne(target)); }, 3000));

    // Far more than the kernel's buffers and ours together can hold.
    const std::string block = pattern(1 << 20);
    const std::size_t offered = 64u << 20;
    std::size_t sent = 0;
    int stalls = 0;
    waitFor([&] {
        const ssize_t n = ::send(client.fd, block.data() + (sent % block.size()),
                                 block.size() - (sent % block.size()), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            stalls = 0;
        } else {
            ++stalls;
        }
        return sent >= offered || stalls > 200;
    }, 4000);
    EXPECT_LT(sent, offered) << "the sender was never held back";
    EXPECT_LE(relay.peakBufferedBytes(), l.bufferBytes);

    // Once the target reads, every byte arrives, in order.
    std::string atServer;
    bool eof = false;
    ASSERT_TRUE(waitFor([&] { readAvailable(server, atServer, eof); return atServer.size() >= sent; }, 10000));
    ASSERT_EQ(atServer.size(), sent);
    bool same = true;
    for (std::size_t i = 0; i < sent && same; i += 4093)
        same = atServer[i] == block[i % block.size()];
    EXPECT_TRUE(same);
}

INSTANTIATE_TEST_SUITE_P(SpliceAndCopy, RelayModes, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "splice" : "copy"; });

TEST(SmtpRelay, ATargetThatRefusesClosesTheAcceptedConnection)
{
    SmtpRelay relay;
    ASSERT_TRUE(relay.start("127.0.0.1", 0, "127.0.0.1", closedPort()));
    Fd client = connectLoopback(relay.port());
    std::string got;
    bool eof = false;
    EXPECT_TRUE(waitFor([&] { readAvailable(client, got, eof); return eof; }, 3000));
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(waitFor([&] { return relay.connections() == 0; }, 3000));
}

TEST(SmtpRelay, TurnsAwayConnectionsOverTheCapAndSaysSo)
{
    std::uint16_t targetPort = 0;
    Fd target = listenLoopback(targetPort);
    Notes notes;
    RelayLimits l;
    l.maxConnections = 2;
    SmtpRelay relay(l, notes.sink());
    ASSERT_TRUE(relay.start("127.0.0.1", 0, "127.0.0.1", targetPort));
    Fd a = connectLoopback(relay.port()), b = connectLoopback(relay.port());
    ASSERT_TRUE(waitFor([&] { return relay.connections() == 2; }, 3000));
    Fd c = connectLoopback(relay.port());
    std::string got;
    bool eof = false;
    EXPECT_TRUE(waitFor([&] { readAvailable(c, got, eof); return eof; }, 3000));
    EXPECT_NE(notes.joined().find("2 connections are being relayed"), std::string::npos) << notes.joined();
    // The two that came first are still relayed.
    EXPECT_EQ(relay.connections(), 2u);
}

TEST(SmtpRelay, APortInUseOrNoPortIsRefusedAtStart)
{
    std::uint16_t taken = 0;
    Fd holder = listenLoopback(taken);
    SmtpRelay relay;
    std::string why;
    EXPECT_FALSE(relay.start("127.0.0.1", taken, "127.0.0.1", 25, &why));
    EXPECT_NE(why.find("cannot listen on port " + std::to_string(taken)), std::string::npos) << why;
    EXPECT_FALSE(relay.active());
    EXPECT_FALSE(relay.start("127.0.0.1", -1, "127.0.0.1", 25, &why));
    EXPECT_FALSE(relay.start("127.0.0.1", 0, "127.0.0.1", 70000, &why));
    EXPECT_NE(why.find("70000"), std::string::npos);
}

TEST(SmtpRelay, ATargetThatNeverAnswersIsGivenUpAfterTheTimeOut)
{
    // A target whose accept queue is full: the kernel drops further SYNs.
    std::uint16_t targetPort = 0;
    Fd target = listenLoopback(targetPort);
    ::listen(target.fd, 0);
    std::vector<Fd> queued;
    for (int i = 0; i < 4; ++i)
        queued.push_back(connectLoopback(targetPort));
    RelayLimits l;
    l.connectTimeoutMs = 300;
    SmtpRelay relay(l);
    ASSERT_TRUE(relay.start("127.0.0.1", 0, "127.0.0.1", targetPort));
    Fd client = connectLoopback(relay.port());
    ASSERT_TRUE(waitFor([&] { return relay.connections() == 1; }, 2000));
    std::string got;
    bool eof = false;
    EXPECT_FALSE(waitFor([&] { readAvailable(client, got, eof); return eof; }, 150)) << "closed before the time-out";
    EXPECT_TRUE(waitFor([&] { readAvailable(client, got, eof); return eof; }, 3000));
    EXPECT_TRUE(waitFor([&] { return relay.connections() == 0; }, 1000));
}
