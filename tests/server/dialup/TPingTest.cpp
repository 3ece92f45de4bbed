#include "support/DialupFakes.h"
#include "support/DialupTestSupport.h"

#include "server/dialup/keepalive/LinuxIcmpPort.h"
#include "server/dialup/keepalive/QtHostLookup.h"
#include "server/dialup/keepalive/TPing.h"

#include <QElapsedTimer>

#include <cstdio>
#include <optional>

#include <gtest/gtest.h>

using namespace velora::server::dialup;

namespace velora::test {
namespace {

class TPingTest : public ::testing::Test {
protected:
    TPingTest()
    {
        QObject::connect(&ping, &TPing::roundFinished,
                         [this](const EchoResult &r) { results.push_back(r); });
    }

    FakeHostLookup lookup;
    FakeIcmpPort icmp;
    TPing ping{lookup, icmp};
    std::vector<EchoResult> results;
};

TEST_F(TPingTest, ARoundLooksTheHostUpThenSendsOneEcho)
{
    ASSERT_TRUE(ping.startRound("keepalive.example"));
    EXPECT_EQ(lookup.started, std::vector<std::string>{"keepalive.example"});
    EXPECT_TRUE(icmp.sent.empty());
    lookup.complete(0, "10.1.2.3");
    ASSERT_EQ(icmp.sent.size(), 1u);
    const auto &echo = icmp.sent[0];
    EXPECT_EQ(echo.address, "10.1.2.3");
    EXPECT_EQ(echo.ttl, 64);
    EXPECT_EQ(echo.timeoutMs, 400);
    EXPECT_EQ(echo.payload.size(), 56u);
    EXPECT_EQ(echo.payload.substr(0, 45), TPing::kSignature);
    EXPECT_EQ(echo.payload.substr(45), std::string(11, ' '));
    EXPECT_TRUE(results.empty());
    icmp.finish(0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].replies(), 1);
    EXPECT_FALSE(ping.busy());

    // Every round resolves the name afresh.
    ASSERT_TRUE(ping.startRound("keepalive.example"));
    EXPECT_EQ(lookup.started.size(), 2u);
}

TEST_F(TPingTest, ADottedAddressNeedsNoLookUpAndNothingHappensInsideTheCall)
{
    int lookupsDone = 0;
    QObject::connect(&ping, &TPing::OnDnsLookupDone, [&](int error) {
        EXPECT_EQ(error, 0);
        ++lookupsDone;
    });
    ASSERT_TRUE(ping.startRound("127.0.0.1"));
    EXPECT_EQ(lookupsDone, 0);
    EXPECT_TRUE(icmp.sent.empty());
    ASSERT_TRUE(waitFor([&] { return !icmp.sent.empty(); }));
    EXPECT_TRUE(lookup.started.empty());
    EXPECT_EQ(lookupsDone, 1);
    EXPECT_EQ(icmp.sent[0].address, "127.0.0.1");
    icmp.finish(PingError::TimedOut);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].replies(), 0);
}

TEST_F(TPingTest, FailedRoundsEndQuietlyAndTheNextRoundTriesAgain)
{
    // A look-up that fails ends the round without an echo.
    ASSERT_TRUE(ping.startRound("gone.example"));
    lookup.complete(PingError::HostNotFound);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].errorCode, PingError::HostNotFound);
    EXPECT_TRUE(icmp.sent.empty());

    // No socket: the round fails the same way.
    icmp.noSocket = true;
    ASSERT_TRUE(ping.startRound("host.example"));
    lookup.complete(0, "10.0.0.1");
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[1].errorCode, PingError::GeneralFailure);
    EXPECT_EQ(results[1].errorText, "no ICMP socket (test)");

    icmp.noSocket = false;
    ASSERT_TRUE(ping.startRound("host.example"));
    lookup.complete(0, "10.0.0.1");
    EXPECT_EQ(icmp.sent.size(), 1u);

    // A round still running when the next one starts is dropped silently.
    ASSERT_TRUE(ping.startRound("next.example"));
    EXPECT_EQ(icmp.cancels, 1);
    icmp.finish(0);
    EXPECT_EQ(results.size(), 2u);

    // A look-up that cannot start says so to the caller, who turns keep-alive off.
    lookup.refuseToStart = true;
    std::string why;
    EXPECT_FALSE(ping.startRound("any.example", &why));
    EXPECT_EQ(why, "any.example: can't start DNS lookup, error #10022");
    EXPECT_FALSE(ping.busy());
}

TEST(QtHostLookupTest, RefusesUnusableNamesAndReportsFailures)
{
    QtHostLookup lookup;
    std::string why;
    EXPECT_FALSE(lookup.start("", &why));
    EXPECT_FALSE(lookup.start("two words", &why));
    EXPECT_FALSE(lookup.start(std::string(300, 'a'), &why));

    std::optional<std::pair<int, std::string>> done;
    QObject::connect(&lookup, &HostLookup::finished,
                     [&](int code, const std::string &a) { done.emplace(code, a); });
    ASSERT_TRUE(lookup.start("localhost", &why));
    EXPECT_FALSE(done) << "never inside start()";
    ASSERT_TRUE(waitFor([&] { return done.has_value(); }, 3000));
    EXPECT_EQ(done->first, 0);
    EXPECT_EQ(done->second.rfind("127.", 0), 0u) << done->second;

    done.reset();
    ASSERT_TRUE(lookup.start("no-such-host.invalid", &why));
    if (!waitFor([&] { return done.has_value(); }, 4000))
        GTEST_SKIP() << "the system resolver gave no answer within 4 s";
    EXPECT_NE(done->first, 0);
    EXPECT_TRUE(done->second.empty());
}

TEST(LinuxIcmpPortTest, RealEchoToLoopbackIsAnsweredWithin400ms)
{
    QtHostLookup lookup;
    LinuxIcmpPort icmp;
    TPing ping{lookup, icmp};
    std::optional<EchoResult> result;
    QObject::connect(&ping, &TPing::roundFinished, [&](const EchoResult &r) { result = r; });

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(ping.startRound("127.0.0.1"));
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }, 2000));
    if (result->errorCode == PingError::GeneralFailure)
        GTEST_SKIP() << "no ICMP socket can be opened here: " << result->errorText;
    const char *kind = icmp.lastSocketKind() == LinuxIcmpPort::SocketKind::Ping ? "ping" : "raw";
    std::printf("echo over a %s socket, round trip %d ms\n", kind, result->roundTripMs);
    EXPECT_EQ(result->errorCode, 0) << result->errorText;
    EXPECT_EQ(result->address, "127.0.0.1");
    EXPECT_LT(clock.elapsed(), 400);

    // Further echoes on the same port match their own sequence numbers.
    result.reset();
    ASSERT_TRUE(ping.startRound("127.0.0.1"));
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }, 2000));
    EXPECT_EQ(result->errorCode, 0) << result->errorText;
}

}  // namespace
}  // namespace velora::test
