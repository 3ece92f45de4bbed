#include "support/DialupTestSupport.h"

#include "server/dialup/entries/RasTexts.h"

#include <gtest/gtest.h>

using namespace velora::server::dialup;

namespace velora::test {
namespace {

class SimulatedLineTest : public ::testing::Test {
protected:
    SimulatedLineTest()
    {
        writeDemoPhonebook(base.path);
        line.setDefaultStepDelay(0);
        QObject::connect(&line, &LineDriver::dialProgress,
                         [this](ConnHandle h, int state, int error) {
                             steps.push_back({h, state, error});
                         });
    }

    ConnHandle dial(const std::string &entry)
    {
        DialParams params;
        EXPECT_EQ(line.entries().getDialParams(entry, params), 0);
        ConnHandle h = 0;
        EXPECT_EQ(line.dial(params, h), 0);
        return h;
    }

    std::vector<ConnectionInfo> connections() const
    {
        std::vector<ConnectionInfo> list;
        EXPECT_EQ(line.enumConnections(list), 0);
        return list;
    }

    BaseDir base;
    SimulatedLine line{base.path};
    std::vector<Step> steps;
};

TEST_F(SimulatedLineTest, DialWalksTheStatesWithTheirTextsAndComesUp)
{
    const ConnHandle h = dial("Metro Online");
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(steps.empty()) << "no step may be reported inside dial()";
    ASSERT_TRUE(waitFor([&] { return steps.size() == 9; }));

    std::vector<std::string> texts;
    for (const Step &s : steps) {
        EXPECT_EQ(s.handle, h);
        EXPECT_EQ(s.error, 0);
        texts.push_back(rasStateText(s.state));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Opening port", "Port opened", "Connecting device", "Device connected",
                         "All devices connected", "Start authenticating", "Authenticated",
                         "Projected", "Connected"}));

    const auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entryName, "Metro Online");
    EXPECT_EQ(list[0].deviceName, "Simulated modem");
    EXPECT_EQ(list[0].deviceType, "modem");
    EXPECT_EQ(list[0].state, RasState::Connected);
    std::string ip;
    EXPECT_EQ(line.projectionAddress(h, ip), 0);
    EXPECT_EQ(ip, "10.64.10.2");
    std::uint32_t speed = 0;
    EXPECT_EQ(line.connectionSpeed(h, speed), 0);
    EXPECT_EQ(speed, 56000u);

    EXPECT_EQ(line.hangUp(h), 0);
    EXPECT_TRUE(connections().empty());
    EXPECT_EQ(line.hangUp(h), RasError::InvalidHandle);
}

TEST_F(SimulatedLineTest, BusyEntryFailsAtItsStateAndStaysUntilHungUp)
{
    const ConnHandle h = dial("Busy Provider");
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().error != 0; }));
    EXPECT_EQ(steps.back(), (Step{h, RasState::ConnectDevice, RasError::LineBusy}));
    EXPECT_EQ(line.errorText(steps.back().error), "The line is busy.");
    EXPECT_EQ(line.errorText(RasError::NoDialTone), "There is no dial tone.");

    ASSERT_TRUE(letQueuedTimersRun());
    EXPECT_EQ(steps.size(), 3u) << "nothing follows a failed step";
    auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].errorCode, RasError::LineBusy);
    std::string ip;
    EXPECT_EQ(line.projectionAddress(h, ip), RasError::ProjectionNotComplete);

    EXPECT_EQ(line.hangUpLastDial(), 0);
    EXPECT_TRUE(connections().empty());
}

TEST_F(SimulatedLineTest, HangUpDuringTheWalkStopsIt)
{
    line.setDefaultStepDelay(5);
    const ConnHandle h = dial("Harbour Net");
    ASSERT_TRUE(waitFor([&] { return steps.size() >= 2; }));
    EXPECT_EQ(line.hangUp(h), 0);
    const std::size_t seen = steps.size();
    EXPECT_TRUE(connections().empty());
    EXPECT_TRUE(line.interfaces().empty());

    // The entry can be dialled again at once, and to the end. The timers of
    // the first walk were started before the second's, with the same delay:
    // had they reported anything, it would show before the second ends.
    const ConnHandle again = dial("Harbour Net");
    EXPECT_NE(again, h);
    ASSERT_TRUE(waitFor([&] { return steps.back().state == RasState::Connected; }));
    ASSERT_EQ(steps.size(), seen + 9);
    for (std::size_t i = seen; i < steps.size(); ++i)
        EXPECT_EQ(steps[i].handle, again) << i;
}

TEST_F(SimulatedLineTest, OutsideConnectionIsUpAtOnceAndCanDrop)
{
    std::int64_t now = 1000;
    line.setClock([&] { return now; });

    const ConnHandle h = line.connectFromOutside("Harbour Net");
    ASSERT_NE(h, 0u);
    EXPECT_EQ(line.connectFromOutside("harbour net"), 0u) << "already active";
    DialParams params;
    line.entries().getDialParams("Harbour Net", params);
    ConnHandle other = 0;
    EXPECT_EQ(line.dial(params, other), RasError::PortAlreadyOpen);

    auto list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].state, RasState::Connected);
    EXPECT_EQ(list[0].entryName, "Harbour Net");

    // The interface's counters grow with the time it is up: half the line's
    // speed in, an eighth out.
    auto ifs = line.interfaces();
    ASSERT_EQ(ifs.size(), 1u);
    EXPECT_EQ(ifs[0].name, "ppp0");
    EXPECT_EQ(ifs[0].address, "10.64.20.2");
    EXPECT_EQ(ifs[0].speed, 33600u);
    EXPECT_EQ(ifs[0].inOctets, 0u);
    now += 2000;
    ifs = line.interfaces();
    EXPECT_EQ(ifs[0].inOctets, 33600u * 2 / 16);
    EXPECT_EQ(ifs[0].outOctets, 33600u * 2 / 64);

    // A second line comes up on the next unit; an entry the phonebook lacks
    // still connects, with the defaults.
    const ConnHandle stranger = line.connectFromOutside("Somebody Else");
    ASSERT_NE(stranger, 0u);
    ifs = line.interfaces();
    ASSERT_EQ(ifs.size(), 2u);
    EXPECT_EQ(ifs[1].name, "ppp1");
    EXPECT_NE(ifs[1].index, ifs[0].index);

    EXPECT_TRUE(line.dropFromOutside(h));
    EXPECT_FALSE(line.dropFromOutside(h));
    list = connections();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].entryName, "Somebody Else");
    EXPECT_TRUE(steps.empty()) << "outside connections report no dial steps";
    EXPECT_EQ(line.connectFromOutside("bad]name"), 0u);
}

}  // namespace
}  // namespace velora::test
