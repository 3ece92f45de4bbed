// What the server itself and the operator do leaves rows in the audit trail.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "server/frame/ServerCore.h"
#include "support/FakeServerPlatform.h"
#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::test;

TEST(AuditTrail, PolicyRefusalAndTheOperatorsDialPastTheBudgetAreRecorded)
{
    TempDir dir;
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    writeFile(base + "/config/config.ini",
              "[server]\nport=0\n[dial]\nconnectionlogging=1\n[policy]\nmonthlybudget=100\n");
    writeFile(base + "/config/user.cfg", "");
    writeFile(base + "/config/phonebook.ini", "[ISP One]\nspeed=56000\ndelay=1\n");
    FakePlatformParts parts;
    ServerPlatform platform = fakePlatform(base, &parts);
    ServerOptions o;
    o.baseDir = base;
    o.listenAddress = "127.0.0.1";
    auto core = std::make_unique<ServerCore>(o, std::move(platform));
    core->inisiasiawal();
    core->Timer2Timer();
    ASSERT_TRUE(core->logDatabase().saveHarga("ISP One", "3600"));
    server::state::ServerState earlier;
    earlier.ActiveEntry = "ISP One";
    earlier.SecondsOnline = 100;
    ASSERT_TRUE(core->logDatabase().writelog(0, earlier));
    core->logDatabase().forgetRow();

    core->dialup().executedial("ISP One", "pc7");
    ScriptedPrompter prompter;
    prompter.answers = {Prompter::Button::Yes};
    core->operatorDial("ISP One", prompter);

    const auto rows = core->logDatabase().auditRows(50);
    ASSERT_TRUE(rows);
    auto has = [&](const std::string &user, const std::string &action, const std::string &detailPart) {
        return std::any_of(rows->begin(), rows->end(), [&](const server::log::AuditRow &r) {
            return r.user == user && r.action == action && r.detail.find(detailPart) != std::string::npos &&
                   r.time > 0 && !r.host.empty();
        });
    };
    EXPECT_TRUE(has("server", "policy", "Dial refused: the monthly budget of 100 is spent"));
    EXPECT_TRUE(has("operator", "dial past the budget", ""));
    EXPECT_TRUE(has("operator", "dial", "ISP One"));
}

TEST(AuditTrail, TheOperatorsHangUpAndLocksAreRecordedAndTheHolderIsShown)
{
    TempDir dir;
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    writeFile(base + "/config/config.ini", "[server]\nport=0\n");
    writeFile(base + "/config/user.cfg", "");
    writeFile(base + "/config/phonebook.ini", "[ISP One]\nspeed=56000\ndelay=1\n");
    FakePlatformParts parts;
    ServerOptions o;
    o.baseDir = base;
    o.listenAddress = "127.0.0.1";
    auto core = std::make_unique<ServerCore>(o, fakePlatform(base, &parts));
    core->inisiasiawal();
    core->Timer2Timer();
    ASSERT_TRUE(core->goOnline());
    int changes = 0;
    QObject::connect(core.get(), &OperatorConsole::auditChanged, [&] { ++changes; });

    core->operatorLock();
    core->Timer1Timer();
    EXPECT_EQ(core->statusView().lockHolder, ServerCore::ownClientName());
    EXPECT_GT(core->statusView().lockedSince, 0);
    core->operatorUnlock();
    core->Timer1Timer();
    EXPECT_TRUE(core->statusView().lockHolder.empty());
    ScriptedPrompter prompter;
    core->operatorHangup(prompter);
    // Called off at the lock's question: no hang-up happened, so no row.
    core->operatorLock();
    core->Timer1Timer();
    prompter.answers = {Prompter::Button::No};
    core->operatorHangup(prompter);
    core->unlockAll();

    const auto rows = core->logDatabase().auditRows(50);
    ASSERT_TRUE(rows);
    std::vector<std::string> actions;
    for (auto it = rows->rbegin(); it != rows->rend(); ++it) {
        EXPECT_EQ(it->user, "operator");
        EXPECT_EQ(it->host, ServerCore::ownClientName());
        actions.push_back(it->action);
    }
    EXPECT_EQ(actions, (std::vector<std::string>{"lock", "unlock", "hangup", "lock", "unlockall"}));
    EXPECT_EQ(changes, 5);
}
