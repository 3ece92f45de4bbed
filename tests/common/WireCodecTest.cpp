#include <gtest/gtest.h>

#include "common/WireCodec.h"

using namespace velora::wire;

using Strings = std::vector<std::string>;

TEST(Splitting, EachSeparatorEndsTheElementBeforeIt)
{
    EXPECT_EQ(split("stat\xE0", FieldSep), Strings{"stat"});
    EXPECT_EQ(split("stat", FieldSep), Strings{});
    EXPECT_EQ(split("", FieldSep), Strings{});
    EXPECT_EQ(split("\xE0\xE0", FieldSep), (Strings{"", ""}));
    EXPECT_EQ(split("a\xE0" "b\xE0tail", FieldSep), (Strings{"a", "b"}));
    // Other separators are ordinary bytes at this level.
    EXPECT_EQ(split("a\xE2" "b\xE0", FieldSep), Strings{"a\xE2" "b"});
}

TEST(Splitting, MissingFieldsReadEmptyAndExtraFieldsAreDropped)
{
    const auto f = parseCommandLine("dial\xE0" "e1\xE0h\xE0" "3\xE0" "4\xE0" "5\xE0" "6\xE0" "7\xE0");
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[5], "5");
    EXPECT_EQ(at(f, 6), "");
    EXPECT_EQ(at(parseCommandLine("x"), 0), "");
}

TEST(CommandLine, BuildPutsASeparatorAfterEveryField)
{
    EXPECT_EQ(buildCommandLine("stat"), "stat\xE0");
    EXPECT_EQ(buildCommandLine("bandwidth", {"active"}), "bandwidth\xE0" "active\xE0");
    EXPECT_EQ(buildCommandLine("dial", {"My ISP", ""}), "dial\xE0My ISP\xE0\xE0");
    EXPECT_EQ(terminated("trm\xE0"), "trm\xE0\r\n");
}

TEST(LoginReply, AcceptedAndRefusedRoundTrip)
{
    const std::string ok = buildLoginAccepted("Front desk", "1", "0", "1");
    EXPECT_EQ(ok, "OK\xE0" "Front desk\xE0" "0\xE0" "1\xE0" "4\xE0" "0\xE0" "1\xE0");
    const auto r = parseLoginReply(ok);
    EXPECT_EQ(r.kind, LoginReply::Kind::Accepted);
    EXPECT_EQ(r.description, "Front desk");
    EXPECT_EQ(r.unlockAllPrivilege, "1");
    EXPECT_EQ(r.serverVersion, "4");
    EXPECT_EQ(r.dialHangupPrivilege, "0");
    EXPECT_EQ(r.shutdownPrivilege, "1");

    const auto f = parseLoginReply(buildLoginRefused("this user is disabled"));
    EXPECT_EQ(f.kind, LoginReply::Kind::Refused);
    EXPECT_EQ(f.reason, "this user is disabled");

    EXPECT_EQ(parseLoginReply("HELLO\xE0").kind, LoginReply::Kind::Invalid);
    EXPECT_EQ(parseLoginReply("OK").kind, LoginReply::Kind::Invalid);  // no separator, no field
    // A short accepted reply still parses; missing flags read empty.
    EXPECT_EQ(parseLoginReply("OK\xE0").shutdownPrivilege, "");
}

TEST(MessageRecords, BodiesAndRecords)
{
    const MessageRecord one{"10.0.0.2", "pc2", {"hello"}};
    EXPECT_EQ(buildMessageRecord(one), "10.0.0.2\xE3pc2\xE3hello\xE4\xE3\xE5");
    const MessageRecord blank{"a", "b", {"", ""}};
    EXPECT_EQ(buildMessageRecord(blank), "a\xE3" "b\xE3\xE4\xE4\xE3\xE5");

    const auto recs = parseMessageRecords(buildMessageRecord(one) + buildMessageRecord(blank) + "\xE2");
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].senderAddress, "10.0.0.2");
    EXPECT_EQ(recs[0].bodyLines, Strings{"hello"});
    EXPECT_EQ(recs[1].bodyLines, (Strings{"", ""}));
    EXPECT_EQ(bodyText({"", "", {"l1", "l2"}}), "l1\nl2");
}

TEST(PushLine, NothingChangedIsThreeSeparatorsAndTraffic)
{
    EXPECT_EQ(buildPushLine("", "", ""), "\xE0\xE2\xE0\xE0");
    const std::string line = buildPushLine("", "", buildTrafficPart(0, 0));
    EXPECT_EQ(line, "\xE0\xE2\xE0" "0\xE2" "0\xE2\xE0");
    const auto p = parsePushLine(line);
    EXPECT_FALSE(p.hasStatus);
    EXPECT_TRUE(p.messages.empty());
    EXPECT_EQ(p.traffic, (Strings{"0", "0"}));
    EXPECT_TRUE(parsePushLine("\xE0\xE2\xE0\xE0").traffic.empty());
}

TEST(PushLine, FullRecordWithMessagesRoundTrips)
{
    StatusRecord s;
    s.statusText = "Connected";
    s.activeEntry = "ISP";
    s.lockStatus = "free";
    s.speedValue = "115200";
    s.activeDevice = "modem";
    s.entryNames = {"ISP", "Backup"};
    s.clientNames = {"Admin@srv"};
    s.clientLocks = {"free"};
    s.clientAddresses = {"127.0.0.1"};
    s.ownLock = "locking";
    s.secondsOnline = "65";
    const std::string shared = buildSharedStatusItems(s);
    EXPECT_EQ(shared.rfind("Connected\xE2" "0:0:0\xE2ISP\xE2" "free\xE2\xE2" "115200\xE2", 0), 0u);

    const std::string mail = buildMessageRecord({"1.2.3.4", "a", {"x"}}) +
                             buildMessageRecord({"1.2.3.5", "b", {"y"}});
    const auto p = parsePushLine(buildPushLine(buildStatusRecord(shared, "locking", "65"), mail,
                                               buildTrafficPart(10, 20)));
    ASSERT_TRUE(p.hasStatus);
    EXPECT_EQ(p.status.statusText, "Connected");
    EXPECT_EQ(p.status.errorNotice, "");
    EXPECT_EQ(p.status.entryNames, (Strings{"ISP", "Backup"}));
    EXPECT_EQ(p.status.clientAddresses, Strings{"127.0.0.1"});
    EXPECT_EQ(p.status.ownLock, "locking");
    EXPECT_EQ(p.status.secondsOnline, "65");
    ASSERT_EQ(p.messages.size(), 2u);
    EXPECT_EQ(p.messages[1].senderName, "b");
    EXPECT_EQ(p.traffic, (Strings{"10", "20"}));

    StatusRecord none;
    none.entryNames = {};
    const auto q = parsePushLine(buildPushLine(buildStatusRecord(none), "", ""));
    EXPECT_TRUE(q.hasStatus);
    EXPECT_TRUE(q.status.entryNames.empty());
}
