#include <gtest/gtest.h>

#include <map>

#include "server/traffic/TrafficSampler.h"
#include "support/FakeInterfaceTable.h"

using namespace velora::server::traffic;
using velora::test::FakeInterfaceTable;

namespace {

constexpr std::uint32_t kEther = 1;

// A sampler over a fake table and a made-up set of connections: address →
// entry for PPP links, interface name → entry for lines that name theirs.
struct SamplerFixture : ::testing::Test {
    FakeInterfaceTable table;
    std::map<std::string, std::string> connectedAddresses;
    std::vector<NamedInterface> named;
    std::map<std::string, std::uint32_t> lineSpeeds;
    std::vector<std::string> fed;
    TrafficSampler sampler{table, view()};

    void SetUp() override
    {
        sampler.onFigures = [this](const std::string &e, std::uint64_t d, std::uint64_t u) {
            fed.push_back(e + ":" + std::to_string(d) + "/" + std::to_string(u));
        };
        table.add(1, "lo", 772, "127.0.0.1");
        table.add(2, "eth0", kEther, "192.168.1.10").speed = 100000000;
    }
    ConnectionView view()
    {
        ConnectionView v;
        v.entryForAddress = [this](const std::string &a) {
            const auto it = connectedAddresses.find(a);
            return it == connectedAddresses.end() ? std::string("unknown") : it->second;
        };
        v.namedInterfaces = [this] { return named; };
        v.connectionSpeed = [this](const std::string &e) { return lineSpeeds.count(e) ? lineSpeeds[e] : 0u; };
        return v;
    }
    void tick(const std::string &entry)
    {
        sampler.sample();
        sampler.entryUpdate(entry);
    }
    const Tmibdata *record(const std::string &description)
    {
        for (const Tmibdata &r : sampler.Tmibarray())
            if (r.description == description)
                return &r;
        return nullptr;
    }
};

}  // namespace

TEST_F(SamplerFixture, ThePppLinkOfTheConnectionStartsAtZeroThenCountsWhatMoved)
{
    EXPECT_EQ(sampler.BandwidthText(), "");
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "") << "no interface of the entry yet";
    EXPECT_TRUE(fed.empty());

    connectedAddresses["10.1.1.2"] = "ISP One";
    lineSpeeds["ISP One"] = 56000;
    table.add(7, "ppp0", kArphrdPpp, "10.1.1.2");
    table.row("ppp0").inOctets = 5000;
    table.row("ppp0").outOctets = 700;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "0\xE2" "0\xE2");
    table.row("ppp0").inOctets += 4000;
    table.row("ppp0").outOctets += 250;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "4000\xE2" "250\xE2");
    EXPECT_EQ(fed, (std::vector<std::string>{"ISP One:0/0", "ISP One:4000/250"}));

    // Records keep the order the interfaces first appeared in.
    ASSERT_EQ(sampler.Tmibarray().size(), 3u);
    EXPECT_EQ(sampler.Tmibarray()[2].displayName, "ISP One");
    EXPECT_EQ(sampler.Tmibarray()[1].displayName, "eth0");
    EXPECT_EQ(sampler.Tmibarray()[0].address, "127.0.0.1");

    // The kernel has no speed for PPP: the line's connect speed.
    std::uint32_t speed = 7;
    EXPECT_EQ(sampler.speedOfEntry("ISP One", speed, {}), "56.00 Kbps");
    EXPECT_EQ(speed, 56000u);
    EXPECT_EQ(sampler.speedOfEntry("ISP Two", speed, {}), "");
    EXPECT_EQ(speed, 56000u) << "kept when nothing matches";
}

TEST_F(SamplerFixture, CountersThatWrapRestartOrRunPastThirtyTwoBits)
{
    connectedAddresses["10.1.1.2"] = "ISP One";
    InterfaceRow &ppp = table.add(7, "ppp0", kArphrdPpp, "10.1.1.2");
    ppp.counters32 = true;
    ppp.inOctets = 0xFFFFFF00u;
    ppp.outOctets = 0xFFFFFFF0u;
    tick("ISP One");
    table.row("ppp0").inOctets = 0x100;  // wrapped past 2^32
    table.row("ppp0").outOctets = 0x10;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "512\xE2" "32\xE2");

    // A 32-bit counter that drops from the middle restarted: nothing moved.
    table.row("ppp0").inOctets = 0x80000000u;
    tick("ISP One");
    table.row("ppp0").inOctets = 0x1000;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "0\xE2" "0\xE2");

    // 64-bit counters never wrap in practice: lower is a new interface.
    InterfaceRow &p64 = table.row("ppp0");
    p64.counters32 = false;
    p64.inOctets = 900000;
    p64.outOctets = 1000;
    tick("ISP One");
    table.row("ppp0").inOctets = 100;
    table.row("ppp0").outOctets = 2000;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "0\xE2" "1000\xE2");

    // More than 2^32 in one sample stays a valid 32-bit decimal on the wire.
    table.row("ppp0").inOctets += 5ULL << 32;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "4294967295\xE2" "0\xE2");
    EXPECT_EQ(fed.back(), "ISP One:21474836480/0") << "the meter gets the whole figure";
}

TEST_F(SamplerFixture, OnlyTheConnectionsOwnLinkMatchesTheEntry)
{
    connectedAddresses["10.1.1.2"] = "ISP One";
    table.add(7, "ppp0", kArphrdPpp, "10.1.1.2");
    table.add(8, "ppp1", kArphrdPpp, "10.9.9.9");  // another device's link
    table.add(9, "ppp2", kArphrdPpp);              // no address at all
    tick("ISP One");
    table.row("ppp0").inOctets = 100;
    table.row("ppp1").inOctets = 99999;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "100\xE2" "0\xE2");
    EXPECT_EQ(record("ppp1")->displayName, "unknown");
    EXPECT_EQ(record("ppp2")->address, "!not_found!");
    EXPECT_EQ(record("ppp2")->displayName, "unknown");

    // A link a line names as its own takes the entry's name, whatever its
    // type; its speed is the line's figure, else the interface's.
    named.push_back({"eth0", "Cable"});
    tick("Cable");
    EXPECT_EQ(record("eth0")->displayName, "Cable");
    std::uint32_t speed = 0;
    EXPECT_EQ(sampler.speedOfEntry("Cable", speed, {",", "."}), "100,00 Mbps");
    lineSpeeds["Cable"] = 2000000;
    tick("Cable");
    EXPECT_EQ(sampler.speedOfEntry("Cable", speed, {}), "2.00 Mbps");
}

TEST_F(SamplerFixture, GoneInterfacesAreDroppedAndAnUnreadableTableEmptiesTheList)
{
    connectedAddresses["10.1.1.2"] = "ISP One";
    table.add(7, "ppp0", kArphrdPpp, "10.1.1.2").inOctets = 300;
    tick("ISP One");
    table.row("ppp0").inOctets = 600;
    tick("ISP One");
    table.remove("ppp0");
    tick("ISP One");
    EXPECT_EQ(sampler.Tmibarray().size(), 2u);
    EXPECT_EQ(sampler.BandwidthText(), "300\xE2" "0\xE2") << "kept after the link went";

    // The re-created link is a new record with zero figures.
    table.add(11, "ppp0", kArphrdPpp, "10.1.1.2").inOctets = 50;
    tick("ISP One");
    EXPECT_EQ(sampler.BandwidthText(), "0\xE2" "0\xE2");
    EXPECT_EQ(sampler.Tmibarray().back().index, 11u);

    table.readable = false;
    tick("ISP One");
    EXPECT_TRUE(sampler.Tmibarray().empty());
    EXPECT_EQ(sampler.BandwidthText(), "0\xE2" "0\xE2");
}
