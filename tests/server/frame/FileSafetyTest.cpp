// The server's own files against other local users: planted links, report
// targets that are no files or are the server's own, and folders others may
// write.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "common/IniProfile.h"
#include "server/dialup/entries/PhonebookFile.h"
#include "server/frame/FileChecks.h"
#include "server/log/LogReport.h"
#include "server/users/UserStore.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server;
using velora::test::modeOf;
using velora::test::readFile;
using velora::test::TempDir;
using velora::test::writeFile;

TEST(FileSafety, APlantedLinkIsLeftAloneAndTheSaveStillWorks)
{
    TempDir dir;
    const std::string victim = dir.file("victim");
    using Save = std::function<bool(const std::string &path)>;
    const std::vector<std::pair<std::string, Save>> savers = {
        {"user.cfg",
         [](const std::string &path) {
             users::UserStore store(path);
             store.updateuserlist();
             users::UserRecord anna;
             anna.name = "anna";
             return store.save({anna});
         }},
        {"phonebook.ini", [](const std::string &path) { return dialup::phonebook::save(path, "[Metro]\nphone=1\n"); }},
        {"config.ini", [](const std::string &path) { return IniProfile(path).writeString("server", "port", "2250"); }},
    };
    for (const auto &[name, save] : savers) {
        const std::string path = dir.file(name);
        writeFile(path, "");
        ::chmod(path.c_str(), 0600);
        writeFile(victim, "root's file");
        ::chmod(victim.c_str(), 0644);
        // The name the saves used to write to: the file's own name, ".tmp" and the pid.
        const std::string planted = path + ".tmp" + std::to_string(::getpid());
        std::filesystem::create_symlink(victim, planted);

        EXPECT_TRUE(save(path)) << name;
        EXPECT_EQ(readFile(victim), "root's file") << name;
        EXPECT_EQ(modeOf(victim), 0644u) << name;
        EXPECT_TRUE(std::filesystem::is_symlink(planted)) << name;
        EXPECT_FALSE(std::filesystem::is_symlink(path)) << name;
        EXPECT_NE(readFile(path), "") << name;
        EXPECT_EQ(modeOf(path), 0600u) << name;
        std::filesystem::remove(planted);
    }
}

TEST(FileSafety, TheReportRefusesWhatIsNoFileAndTheServersOwnFiles)
{
    TempDir dir;
    const std::string config = dir.file("config");
    std::filesystem::create_directories(config);
    const std::string db = config + "/log.db";
    {
        log::LogDatabase log;
        ASSERT_TRUE(log.open(db));
    }
    writeFile(config + "/user.cfg", "users");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(dir.file("folder"));
    std::filesystem::create_symlink(config + "/user.cfg", dir.file("link.txt"));
    std::filesystem::create_hard_link(config + "/user.cfg", dir.file("hard.txt"));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }

    const auto before = readFile(db);
    std::vector<std::string> refused = {dir.file("fifo"), dir.file("folder"), dir.file("link.txt"),
                                        dir.file("hard.txt"), db, db + "-wal", db + "-shm",
                                        config + "/config.ini", config + "/user.cfg", config + "/../config/phonebook.ini"};
    if (root)
        refused.push_back(dir.file("null"));
    for (const std::string &target : refused) {
        std::string why;
        EXPECT_FALSE(log::writeReport(db, {}, {}, {}, target, log::reportFormatFor(target), {}, &why)) << target;
        EXPECT_NE(why.find(target), std::string::npos) << why;
    }
    struct stat st {};
    EXPECT_EQ(::stat(dir.file("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder")));
    EXPECT_EQ(readFile(config + "/user.cfg"), "users");
    EXPECT_EQ(readFile(db), before);
    EXPECT_FALSE(std::filesystem::exists(config + "/config.ini"));
    if (root) {
        EXPECT_EQ(::stat(dir.file("null").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }

    // A new file and a regular file beside the server's are fine.
    std::string why;
    EXPECT_TRUE(log::writeReport(db, {}, {}, {}, dir.file("rpt.txt"), log::ReportFormat::Text, {}, &why)) << why;
    EXPECT_TRUE(log::writeReport(db, {}, {}, {}, config + "/rpt.xlsx", log::ReportFormat::Workbook, {}, &why)) << why;
}

TEST(FileSafety, FoldersAndFilesOthersMayChangeAreNamed)
{
    TempDir dir;
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    ::chmod(base.c_str(), 0755);
    ::chmod((base + "/config").c_str(), 0700);
    writeFile(base + "/config/phonebook.ini", "");
    ::chmod((base + "/config/phonebook.ini").c_str(), 0644);
    EXPECT_TRUE(server::frame::writableByOthers(base).empty());

    ::chmod((base + "/config").c_str(), 0777);
    writeFile(base + "/config/config.ini", "");
    ::chmod((base + "/config/config.ini").c_str(), 0666);
    ::chmod(base.c_str(), 0775);
    const auto lines = server::frame::writableByOthers(base);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], base + " may be changed by other users of this computer (mode 0775), and with it what this "
                               "server runs; chmod go-w " + base);
    EXPECT_EQ(lines[1].find(base + "/config may be changed"), 0u) << lines[1];
    EXPECT_EQ(lines[2].find(base + "/config/config.ini may be changed"), 0u) << lines[2];
}
