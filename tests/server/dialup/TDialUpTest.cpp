#include "support/DialupTestSupport.h"

#include "server/dialup/entries/RasTexts.h"
#include "server/dialup/engine/TDialUp.h"

#include <gtest/gtest.h>

using namespace velora::server::dialup;

namespace velora::test {
namespace {

class TDialUpTest : public ::testing::Test {
protected:
    TDialUpTest()
    {
        writeDemoPhonebook(base.path);
        line.setDefaultStepDelay(0);
        QObject::connect(&engine, &TDialUp::OnDialing, [this] { log.push_back("dialing"); });
        QObject::connect(&engine, &TDialUp::OnError, [this](int code, const std::string &text) {
            log.push_back("error " + std::to_string(code) + " " + text);
        });
        QObject::connect(&engine, &TDialUp::OnAsyncEvent,
                         [this](int state, const std::string &text, int error) {
                             events.push_back({state, text, error});
                         });
    }

    struct Event {
        int state;
        std::string text;
        int error;
    };

    bool dialTo(const std::string &entry)
    {
        engine.setEntry(entry);
        return engine.Dial() == 0;
    }
    bool waitConnected()
    {
        return waitFor([&] { return !events.empty() && events.back().state == RasState::Connected; });
    }
    std::vector<std::string> activeEntries() const
    {
        std::vector<ConnectionInfo> list;
        line.enumConnections(list);
        std::vector<std::string> names;
        for (const auto &c : list)
            names.push_back(c.entryName);
        return names;
    }

    BaseDir base;
    SimulatedLine line{base.path};
    TDialUp engine{line};
    std::vector<std::string> log;
    std::vector<Event> events;
};

TEST_F(TDialUpTest, ProgressArrivesInOrderOneStepAtATime)
{
    // A receiver that spins the loop (as the form's dialing handler does)
    // must never get a step inside another.
    // The first receiver spins until the line has reported its whole walk.
    int depth = 0, deepest = 0;
    std::size_t lineSteps = 0;
    QObject::connect(&line, &LineDriver::dialProgress, [&](ConnHandle, int, int) { ++lineSteps; });
    QObject::connect(&engine, &TDialUp::OnAsyncEvent, [&](int, const std::string &, int) {
        deepest = std::max(deepest, ++depth);
        EXPECT_TRUE(waitFor([&] { return lineSteps == 9; }));
        --depth;
    });
    ASSERT_TRUE(dialTo("Metro Online"));
    EXPECT_EQ(log, std::vector<std::string>{"dialing"});
    EXPECT_TRUE(events.empty()) << "steps come from the event loop, not from Dial()";
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(deepest, 1);

    std::vector<int> states;
    for (const Event &e : events) {
        states.push_back(e.state);
        EXPECT_EQ(e.text, rasStateText(e.state));
        EXPECT_EQ(e.error, 0);
    }
    EXPECT_EQ(states, (std::vector<int>{0, 1, 2, 3, 4, 5, 14, 18, 8192}));
    EXPECT_EQ(engine.ownHandle(), line.lastDial());
}

TEST_F(TDialUpTest, DialingAgainDropsTheEnginesOwnConnectionFirst)
{
    ASSERT_TRUE(dialTo("Metro Online"));
    ASSERT_TRUE(waitConnected());
    const ConnHandle first = engine.ownHandle();
    events.clear();

    ASSERT_TRUE(dialTo("Harbour Net"));
    EXPECT_EQ(activeEntries(), std::vector<std::string>{"Harbour Net"});
    ASSERT_TRUE(waitConnected());
    EXPECT_NE(engine.ownHandle(), first);
    EXPECT_EQ(events.front().state, RasState::OpenPort);
    EXPECT_EQ(events.size(), 9u);
}

TEST_F(TDialUpTest, HangUpDuringADialSwallowsItsQueuedSteps)
{
    line.setDefaultStepDelay(2);
    ASSERT_TRUE(dialTo("Metro Online"));
    // Let the line report a few steps without the engine delivering them.
    QObject::connect(&line, &LineDriver::dialProgress, &engine, [&](ConnHandle, int state, int) {
        if (state == RasState::DeviceConnected)
            engine.HangUp();
    });
    ASSERT_TRUE(waitFor([&] { return activeEntries().empty(); }));
    const std::size_t delivered = events.size();
    ASSERT_TRUE(letQueuedTimersRun());
    EXPECT_EQ(events.size(), delivered);
    for (const Event &e : events)
        EXPECT_LT(e.state, RasState::DeviceConnected);
    EXPECT_EQ(engine.ownHandle(), 0u);
}

TEST_F(TDialUpTest, FailuresReportTheirCodesAndTexts)
{
    ASSERT_FALSE(dialTo("Deleted Meanwhile"));
    EXPECT_EQ(log, std::vector<std::string>{"error 623 GetEntryDialParams failed"});

    log.clear();
    line.connectFromOutside("Harbour Net");
    ASSERT_FALSE(dialTo("Harbour Net"));
    EXPECT_EQ(log, (std::vector<std::string>{"dialing", "error 602 The port is already open."}));

    ASSERT_TRUE(dialTo("Busy Provider"));
    ASSERT_TRUE(waitFor([&] { return !events.empty() && events.back().error != 0; }));
    EXPECT_EQ(events.back().text, "The line is busy.");
    EXPECT_EQ(events.back().error, RasError::LineBusy);
}

TEST_F(TDialUpTest, EnumerationReportsEveryConnectionAndHangsUpAll)
{
    const ConnHandle outside = line.connectFromOutside("Harbour Net");
    ASSERT_TRUE(dialTo("Busy Provider"));
    ASSERT_TRUE(waitFor([&] { return !events.empty() && events.back().error != 0; }));

    std::vector<std::string> seen;
    QObject::connect(&engine, &TDialUp::OnActiveConnection,
                     [&](ConnHandle h, const std::string &device, const std::string &,
                         const std::string &entry, const std::string &text, const ConnectionInfo &) {
                         seen.push_back(entry + "|" + device + "|" + text);
                         engine.HangUpConnection(h);
                     });
    EXPECT_EQ(engine.GetActiveConnections(), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"Harbour Net|Simulated modem|Connected",
                                              "Busy Provider|Simulated modem|The line is busy."}));
    EXPECT_TRUE(activeEntries().empty());
    EXPECT_EQ(engine.ownHandle(), 0u);
    EXPECT_EQ(line.hangUp(outside), RasError::InvalidHandle);
}

TEST_F(TDialUpTest, EntriesAndAddressLookUp)
{
    std::vector<std::string> fired;
    QObject::connect(&engine, &TDialUp::OnEntryGet,
                     [&](const std::string &name) { fired.push_back(name); });
    EXPECT_EQ(engine.GetEntries(), 0);
    EXPECT_EQ(engine.GetEntries(), 0);
    const std::vector<std::string> demo{"Metro Online", "Harbour Net", "Busy Provider"};
    EXPECT_EQ(engine.entries(), demo) << "a second listing replaces the first";
    EXPECT_EQ(fired.size(), 6u);

    EXPECT_EQ(engine.EntryForAddress("10.64.20.2", "kept"), "kept");
    line.connectFromOutside("Harbour Net");
    EXPECT_EQ(engine.EntryForAddress(" 10.64.20.2 ", "kept"), "Harbour Net");
    EXPECT_EQ(engine.EntryForAddress("10.9.9.9", "kept"), "unknown");
}

}  // namespace
}  // namespace velora::test
