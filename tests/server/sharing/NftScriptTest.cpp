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
