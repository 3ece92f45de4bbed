// The service's first start on an empty base dir, and every later start.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/IniProfile.h"
#include "server/dialup/lines/LineFactory.h"
#include "server/frame/ProcessSupport.h"
#include "support/TestFiles.h"

using namespace velora::server::frame;
using velora::test::readFile;
using velora::test::TempDir;
using velora::test::writeFile;

TEST(ServiceBaseDir, FirstStartGivesASimulatedLineAndNoUsers)
{
    TempDir dir;
    const std::string base = dir.file("var/lib/velora");
    std::string why;
    ASSERT_TRUE(prepareServiceBaseDir(base, &why)) << why;

    EXPECT_FALSE(std::filesystem::exists(base + "/config/user.cfg"));
    const auto perms = std::filesystem::status(base + "/config/phonebook.ini").permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);

    // What the server then reads: the simulated line with the fresh entry.
    const velora::IniProfile ini(base + "/config/config.ini");
    std::string problem;
    const auto line = velora::server::dialup::makeLineDriver(ini, base, problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(line->driverName(), "simulated");
    std::vector<std::string> names;
    line->entries().enumEntries(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names.front(), "Simulated provider");
}

TEST(ServiceBaseDir, LaterStartsKeepTheAdminsFiles)
{
    TempDir dir;
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    writeFile(base + "/config/config.ini", "[server]\nport=2999\n");
    std::string why;
    ASSERT_TRUE(prepareServiceBaseDir(base, &why)) << why;
    EXPECT_EQ(readFile(base + "/config/config.ini"), "[server]\nport=2999\n");
    // A pppd base dir has no phone book of its own; none is added to it.
    EXPECT_FALSE(std::filesystem::exists(base + "/config/phonebook.ini"));

    // A half-written first start (phone book only) is completed, the phone book kept.
    const std::string other = dir.file("other");
    std::filesystem::create_directories(other + "/config");
    writeFile(other + "/config/phonebook.ini", "[Mine]\nphone=1\n");
    ASSERT_TRUE(prepareServiceBaseDir(other, &why)) << why;
    EXPECT_EQ(readFile(other + "/config/phonebook.ini"), "[Mine]\nphone=1\n");
    EXPECT_TRUE(std::filesystem::exists(other + "/config/config.ini"));
}

TEST(ServiceBaseDir, UnwritablePlaceSaysWhy)
{
    TempDir dir;
    writeFile(dir.file("file"), "x");
    std::string why;
    EXPECT_FALSE(prepareServiceBaseDir(dir.file("file") + "/base", &why));
    EXPECT_NE(why.find("file"), std::string::npos) << why;
}
