#include <gtest/gtest.h>

#include "server/clientservice/StrangerGuard.h"

using velora::server::clientservice::StrangerGuard;
using velora::server::clientservice::StrangerLimits;

namespace {
struct GuardFixture : ::testing::Test {
    std::int64_t t = 1'000'000;
    StrangerGuard guard{[this] { return t; }};
};
}  // namespace

TEST_F(GuardFixture, TheBackoffStartsAtTheFifthFailureDoublesAndEndsWithAGoodLogin)
{
    for (int i = 0; i < 4; ++i)
        guard.loginFailed("10.0.0.9");
    EXPECT_EQ(guard.loginHeldUntil("10.0.0.9"), 0);
    std::int64_t expected = 10'000;
    for (int i = 0; i < 8; ++i) {
        guard.loginFailed("10.0.0.9");
        EXPECT_EQ(guard.loginHeldUntil("10.0.0.9"), t + expected) << i;
        EXPECT_EQ(guard.loginHeldUntil("10.0.0.8"), 0);
        t += expected;
        EXPECT_EQ(guard.loginHeldUntil("10.0.0.9"), 0);
        expected = std::min<std::int64_t>(expected * 2, 300'000);
    }
    guard.loginSucceeded("10.0.0.9");
    for (int i = 0; i < 4; ++i)
        guard.loginFailed("10.0.0.9");
    EXPECT_EQ(guard.loginHeldUntil("10.0.0.9"), 0);
}

TEST_F(GuardFixture, RefusalsAreToldOnceABurstIsOverThenAtMostOnceAMinute)
{
    using A = StrangerGuard::Admission;
    guard.setLimits(StrangerLimits{30, 2, 1, 8});
    EXPECT_EQ(guard.admit("a", 0, 0), A::Admit);
    EXPECT_EQ(guard.admit("a", 1, 1), A::Refuse);  // per address
    // A full waiting room makes room: the oldest stranger goes, counted.
    EXPECT_EQ(guard.admit("b", 2, 0), A::AdmitAfterEvicting);
    guard.evicted("a");
    EXPECT_EQ(guard.refusedReport(), "");  // the burst may go on
    EXPECT_EQ(guard.admit("b", 2, 0), A::AdmitAfterEvicting);
    guard.evicted("b");
    t += 500;
    EXPECT_EQ(guard.refusedReport(), "");
    t += 500;
    EXPECT_EQ(guard.refusedReport(), "refused 3 connections that had not logged in, from a (2), b (1)");
    guard.refusedUnseen(4);
    t += 30'000;
    EXPECT_EQ(guard.refusedReport(), "");
    t += 30'000;
    EXPECT_EQ(guard.refusedReport(),
              "refused 4 connections that had not logged in, from unseen for lack of descriptors (4)");
    EXPECT_EQ(guard.refusedReport(), "");
    EXPECT_EQ(guard.refusedTotal(), 7u);
}

TEST_F(GuardFixture, NoWaitingRoomRefusesEveryStranger)
{
    guard.setLimits(StrangerLimits{30, 0, 16, 8});
    EXPECT_EQ(guard.admit("a", 0, 0), StrangerGuard::Admission::Refuse);
    EXPECT_EQ(guard.refusedTotal(), 1u);
}

TEST_F(GuardFixture, ALoginIsOverdueAfterTheTimeout)
{
    guard.setLimits(StrangerLimits{2, 64, 16, 8});
    const std::int64_t accepted = t;
    t += 1999;
    EXPECT_FALSE(guard.overdue(accepted));
    t += 1;
    EXPECT_TRUE(guard.overdue(accepted));
}
