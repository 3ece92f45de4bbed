// The two programs' argument lists: what each switch becomes, where the
// editors' command starts, and what is refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <QStringList>

#include "server/app/ServerCommandLine.h"
#if VELORA_WITH_CLIENT
#include "client/core/CommandLine.h"
#endif

using velora::server::app::defaultBaseDir;
using velora::server::app::parseServerArgs;

namespace {

QStringList args(std::initializer_list<const char *> list)
{
    QStringList out{QStringLiteral("velora")};
    for (const char *a : list)
        out << QString::fromUtf8(a);
    return out;
}

}  // namespace

TEST(ServerCommandLine, WindowsSwitchesInAnyCaseAndValuesInBothForms)
{
    auto a = parseServerArgs(args({"/install", "-Silent", "--basedir=/srv/v", "--no-shutdown"}));
    EXPECT_EQ(a.bad, "");
    EXPECT_TRUE(a.install && a.silent && a.noShutdown);
    EXPECT_FALSE(a.uninstall || a.headless || a.service || a.help);
    EXPECT_EQ(a.baseDir, "/srv/v");

    a = parseServerArgs(args({"--report", "--month", "March", "--year=2026", "--entry", "Office ISP", "--user", "bob",
                              "--output", "r.xlsx", "--basedir", "/b", "-UNINSTALL", "--headless", "--service"}));
    EXPECT_EQ(a.bad, "");
    EXPECT_TRUE(a.report && a.uninstall && a.headless && a.service);
    EXPECT_EQ(a.month + "|" + a.year + "|" + a.entry + "|" + a.user + "|" + a.output + "|" + a.baseDir,
              "March|2026|Office ISP|bob|r.xlsx|/b");
    EXPECT_EQ(a.command, "");
}

TEST(ServerCommandLine, TheEditorsGetEverythingAfterTheirCommandButTheBaseDir)
{
    // The first "user" is the base dir's name, the second the command.
    auto a = parseServerArgs(args({"--basedir", "user", "user", "add", "kim", "--dial", "-INSTALL", "--help",
                                   "--basedir", "/x"}));
    EXPECT_EQ(a.bad, "");
    EXPECT_EQ(a.command, "user");
    EXPECT_EQ(a.baseDir, "/x");
    EXPECT_EQ(a.commandArgs, (std::vector<std::string>{"add", "kim", "--dial", "-INSTALL", "--help"}));
    EXPECT_FALSE(a.install || a.help);

    a = parseServerArgs(args({"entry", "delete", "Metro", "--with-log", "--basedir=/y"}));
    EXPECT_EQ(a.command, "entry");
    EXPECT_EQ(a.baseDir, "/y");
    EXPECT_EQ(a.commandArgs, (std::vector<std::string>{"delete", "Metro", "--with-log"}));
}

TEST(ServerCommandLine, RefusesWhatItDoesNotKnowButHelpStillAnswers)
{
    EXPECT_NE(parseServerArgs(args({"frob"})).bad.find("frob"), std::string::npos);
    EXPECT_NE(parseServerArgs(args({"frob", "user", "list"})).bad.find("frob"), std::string::npos);
    EXPECT_NE(parseServerArgs(args({"--frob"})).bad, "");
    EXPECT_NE(parseServerArgs(args({"--headless", "--basedir"})).bad, "");
    EXPECT_NE(parseServerArgs(args({"--INSTALLX"})).bad, "");
    EXPECT_TRUE(parseServerArgs(args({"--frob", "-h"})).help);
    EXPECT_TRUE(parseServerArgs(args({"--version"})).version);
}

#if VELORA_WITH_CLIENT
TEST(ServerCommandLine, WithoutABaseDirTheDesktopsDataFolderOrTheServicesOwn)
{
    // Started from the menu the current folder is the home folder itself.
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    ::setenv("HOME", "/home/anna", 1);
    EXPECT_EQ(defaultBaseDir(parseServerArgs(args({})), "/var/lib/velora"), "/tmp/xdg-data/velora");
    EXPECT_EQ(defaultBaseDir(parseServerArgs(args({"--headless"})), "/var/lib/velora"), "/tmp/xdg-data/velora");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    EXPECT_EQ(defaultBaseDir(parseServerArgs(args({})), "/var/lib/velora"), "/home/anna/.local/share/velora");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(defaultBaseDir(parseServerArgs(args({})), "/var/lib/velora"), "/home/anna/.local/share/velora");
    EXPECT_EQ(defaultBaseDir(parseServerArgs(args({"--service", "--headless"})), "/var/lib/velora"), "/var/lib/velora");
    EXPECT_EQ(defaultBaseDir(parseServerArgs(args({"-INSTALL"})), "/var/lib/velora"), "/var/lib/velora");
    ::setenv("HOME", home.c_str(), 1);
}

TEST(ClientCommandLine, ValuesInBothFormsAndOneActionAtMost)
{
    using namespace velora::client::core;
    auto o = parseCommandLine(args({"--host=10.0.0.1", "--port", "2250", "--timeout", "5", "--dial", "--status",
                                    "--clientdir", "/c"}));
    EXPECT_EQ(o.error, QString());
    // A value is the next argument whatever it looks like.
    EXPECT_EQ(o.action, CommandLineOptions::Action::Dial);
    EXPECT_EQ(o.entry, "--status");
    EXPECT_EQ(QStringList({o.host, o.port, o.clientDir}).join(QLatin1Char('|')), QStringLiteral("10.0.0.1|2250|/c"));
    EXPECT_EQ(o.timeoutSeconds, 5);
    EXPECT_FALSE(o.user.has_value());

    EXPECT_NE(parseCommandLine(args({"--hangup", "--status"})).error, QString());
    EXPECT_EQ(parseCommandLine(args({"--status", "--status"})).action, CommandLineOptions::Action::Status);
    EXPECT_NE(parseCommandLine(args({"--timeout", "0", "--status"})).error, QString());
    EXPECT_TRUE(parseCommandLine(args({"frob"})).error.contains(QStringLiteral("frob")));
    EXPECT_NE(parseCommandLine(args({"--frob"})).error, QString());
    EXPECT_EQ(parseCommandLine(args({"--frob", "--help"})).action, CommandLineOptions::Action::Help);
    EXPECT_EQ(parseCommandLine(args({"--version"})).action, CommandLineOptions::Action::Version);
}
#endif
