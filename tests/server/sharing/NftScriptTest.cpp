// What may reach a rule: the interface name goes into the nftables text, so
// a name that could end the string or start a command never does.
#include <gtest/gtest.h>

#include "server/sharing/NftSharing.h"

using namespace velora::server::sharing;

TEST(NftSharing, OnlyKernelInterfaceNamesReachTheRule)
{
    for (const char *ok : {"ppp0", "veth-up.1", "wwan0", "enp0s31f6", "a:b@c"})
        EXPECT_TRUE(validInterfaceName(ok)) << ok;
    for (const char *bad : {"", "sixteen-chars-xx", "ppp0\" accept", "a;b", "a b", "a/b", ".", "..", "x\n"})
        EXPECT_FALSE(validInterfaceName(bad)) << bad;
    NftSharing nft({}, "/nonexistent/ip_forward");
    std::string why;
    // Refused before nftables is asked anything.
    EXPECT_FALSE(nft.share("ppp0\"; flush ruleset", &why));
    EXPECT_NE(why.find("not an interface name"), std::string::npos);
}

TEST(NftSharing, TheGuardDropsNewConnectionsToOurPortsFromTheLineOnly)
{
    const std::string s = NftSharing::guardScript({"veth1", "ppp*"}, {2250, 25});
    EXPECT_NE(s.find("add chain inet velora input { type filter hook input priority filter; policy accept; }"),
              std::string::npos);
    // Replaced as a whole: one transaction empties and refills the chain.
    EXPECT_LT(s.find("flush chain inet velora input"), s.find("add rule"));
    EXPECT_NE(s.find("iifname \"veth1\" tcp dport { 2250, 25 } ct state new drop"), std::string::npos);
    EXPECT_NE(s.find("iifname \"ppp*\" tcp dport { 2250, 25 } ct state new drop"), std::string::npos);
    EXPECT_EQ(NftSharing::guardScript({}, {2250}).find("add rule"), std::string::npos);
    for (const char *bad : {"p*p", "*", "a\"b*", "x; flush ruleset"})
        EXPECT_EQ(NftSharing::guardScript({bad}, {2250}), "") << bad;
    EXPECT_EQ(NftSharing::guardScript({"ppp0"}, {0}), "");
    EXPECT_EQ(NftSharing::guardScript({"ppp0"}, {65536}), "");
}
