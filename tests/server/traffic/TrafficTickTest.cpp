// The sampler inside the status tick, on the simulated line's made-up link.
#include <gtest/gtest.h>

#include "server/frame/ServerCore.h"
#include "support/FakeServerPlatform.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora::server::frame;
using namespace velora::test;

namespace {

struct TickFixture : ::testing::Test {
    TempDir dir;
    FakePlatformParts parts;
    std::unique_ptr<ServerCore> core;
    std::int64_t now = 1000000;
    std::vector<std::pair<int, std::string>> pairs;  // tick counter, BandwidthText after the tick

    void SetUp() override
    {
        const std::string base = dir.file("base");
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=0\n");
        // 64000 bit/s: the simulated link moves 4000 bytes in and 1000 out a second.
        writeFile(base + "/config/phonebook.ini", "[ISP One]\nspeed=64000\naddress=10.1.1.2\ndelay=1\n");
        ServerPlatform platform = fakePlatform(base, &parts);
        parts.line->setClock([this] { return now; });
        ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<ServerCore>(o, std::move(platform));
        core->inisiasiawal();
        core->Timer2Timer();
    }
    // One status tick, 500 ms after the last.
    void tick()
    {
        now += 500;
        core->Timer1Timer();
        pairs.emplace_back(core->tickCounter(), core->sampler().BandwidthText());
    }
    void connect()
    {
        core->dialup().executedial("ISP One", "pc1");
        ASSERT_TRUE(waitFor([&] {
            tick();
            return core->state().StatusText == "Connected";
        }, 3000));
    }
};

}  // namespace

TEST_F(TickFixture, EvenTicksSampleTheConnectionAndTheShortGapGivesHalf)
{
    connect();
    pairs.clear();
    for (int i = 0; i < 24; ++i)
        tick();
    EXPECT_EQ(core->state().SpeedText, "64.00 Kbps");
    EXPECT_EQ(core->state().SpeedValue, "64000");

    // Figures of the samples after a 500 ms gap (counter 0) and a 1000 ms one;
    // the first even tick may be the link's first sample.
    std::vector<int> after0, after2;
    bool first = true;
    for (const auto &[counter, text] : pairs) {
        if (counter % 2 != 0)
            continue;
        if (first) {
            first = false;
            continue;
        }
        (counter == 0 ? after0 : after2).push_back(std::stoi(text));
    }
    ASSERT_FALSE(after0.empty());
    ASSERT_FALSE(after2.empty());
    for (int d : after2)
        EXPECT_NEAR(d, 4000, 40);
    for (int d : after0)
        EXPECT_NEAR(d, 2000, 40) << "counter 10 then 0: half a second";
    // Odd ticks leave the pair alone.
    for (std::size_t i = 1; i < pairs.size(); ++i) {
        if (pairs[i].first % 2 == 1) {
            EXPECT_EQ(pairs[i].second, pairs[i - 1].second);
        }
    }
}

TEST_F(TickFixture, AfterHangUpTheLastPairStaysAndNothingIsSampled)
{
    QString meterEntry;
    quint64 meterDown = 0;
    QObject::connect(core.get(), &OperatorConsole::bandwidthSample, [&](const QString &e, quint64 d, quint64) {
        meterEntry = e;
        meterDown = d;
    });
    connect();
    for (int i = 0; i < 6; ++i)
        tick();
    const std::string last = core->sampler().BandwidthText();
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(meterEntry, QStringLiteral("ISP One"));
    EXPECT_EQ(std::to_string(meterDown) + "\xE2", last.substr(0, last.find('\xE2') + 1));

    core->dialup().executehangup();
    for (int i = 0; i < 6; ++i)
        tick();
    EXPECT_EQ(core->state().StatusText, "READY");
    EXPECT_EQ(core->sampler().BandwidthText(), last);
    EXPECT_EQ(core->state().SpeedText, "--");
}
