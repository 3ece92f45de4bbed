#include <gtest/gtest.h>

#include "server/state/StateWords.h"

using namespace velora::server::state;

// The words are what clients and files have always seen; every value must
// come back from its own word, and a word nobody wrote must not read as a
// lock, a link that is up or a switched-on flag.
TEST(StateWords, EachWordReadsBackAsItsState)
{
    for (ServerMode m : {ServerMode::Undecided, ServerMode::Online, ServerMode::Offline})
        EXPECT_EQ(serverModeFromText(toText(m)), m) << toText(m);
    for (ClientLock l : {ClientLock::Free, ClientLock::Locking})
        EXPECT_EQ(clientLockFromText(toText(l)), l) << toText(l);
    for (LineLock l : {LineLock::Unset, LineLock::Free, LineLock::Locked})
        EXPECT_EQ(lineLockFromText(toText(l)), l) << toText(l);
    for (LinkState s : {LinkState::None, LinkState::Down, LinkState::Connected})
        EXPECT_EQ(linkStateFromText(toText(s)), s) << toText(s);
    for (bool on : {false, true})
        EXPECT_EQ(flagFromText(flagText(on)), on);
}

TEST(StateWords, OddWordsReadAsTheHarmlessState)
{
    EXPECT_EQ(clientLockFromText("Locking"), ClientLock::Free);
    EXPECT_EQ(lineLockFromText("locking"), LineLock::Unset);
    EXPECT_EQ(serverModeFromText("Online"), ServerMode::Undecided);
    // Any state the engine names but "Connected" is a link not up.
    EXPECT_EQ(linkStateFromText("Connecting..."), LinkState::Down);
    EXPECT_EQ(linkStateFromText("connected"), LinkState::Down);
    EXPECT_FALSE(flagFromText("yes"));
    EXPECT_FALSE(flagFromText(" 1"));
}
