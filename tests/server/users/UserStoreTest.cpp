#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "common/CredentialCipher.h"
#include "support/TestFiles.h"
#include "server/users/UserStore.h"

using namespace velora;
using namespace velora::server::users;
using namespace velora::test;
using Outcome = LoginResult::Outcome;

namespace {
std::string line(const std::string &name, const std::string &password, const std::string &disabled,
                 const std::string &desc = "d")
{
    return name + "\xE3" + desc + "\xE3" + Encrypt(password) + "\xE3" + disabled + "\xE3" "1\xE3" "0\xE3" "1\xE3";
}
}  // namespace

TEST(UserStore, LoginCheckFollowsTheStoreInOrder)
{
    test::TempDir dir;
    const std::string path = dir.file("user.cfg");
    test::writeFile(path, line("ann", "pw", "1", "first") + "\r\n" + line("bob", "x", "0") + "\n" +
                              line("ann", "pw", "0", "second") + "\r" + line("cy", "c", "") + "\r\n");
    UserStore store(path);
    ASSERT_TRUE(store.updateuserlist());
    ASSERT_EQ(store.lines().size(), 4u);

    // A disabled duplicate earlier only sets the reason; the later enabled one wins.
    auto r = store.check("ann", Encrypt("pw"));
    ASSERT_EQ(r.outcome, Outcome::Accepted);
    EXPECT_EQ(r.record.description, "second");
    EXPECT_EQ(r.record.unlockAll, "1");
    EXPECT_EQ(r.record.shutdown, "1");

    EXPECT_EQ(store.check("ANN", Encrypt("pw")).reason, "wrong username/password");
    EXPECT_EQ(store.check("bob", Encrypt("y")).reason, "wrong username/password");
    EXPECT_EQ(store.check("cy", Encrypt("c")).reason, "this user is disabled");  // empty flag
    // Compared deciphered: leading zeros in the numbers do not matter.
    std::string padded = "0" + Encrypt("x");
    EXPECT_EQ(store.check("bob", padded).outcome, Outcome::Accepted);

    // A cipher that cannot be read is an error only once the name matches.
    EXPECT_EQ(store.check("bob", "12a-").outcome, Outcome::Malformed);
    EXPECT_EQ(store.check("nobody", "12a-").reason, "wrong username/password");
}

TEST(UserStore, EmptyOrMissingStoreRefusesEveryone)
{
    test::TempDir dir;
    UserStore missing(dir.file("none.cfg"));
    std::string why;
    EXPECT_FALSE(missing.updateuserlist(&why));
    EXPECT_NE(why.find("none.cfg"), std::string::npos);
    EXPECT_EQ(missing.check("a", Encrypt("a")).reason, "wrong username/password");

    test::writeFile(dir.file("empty.cfg"), "");
    UserStore empty(dir.file("empty.cfg"));
    ASSERT_TRUE(empty.updateuserlist());
    EXPECT_EQ(empty.check("", "").reason, "wrong username/password");
}

TEST(UserStore, SaveWritesOwnerOnlyAndKeepsRecordsWhole)
{
    test::TempDir dir;
    const std::string path = dir.file("config/user.cfg");
    UserStore store(path);
    UserRecord r;
    r.name = "  eve\xE3x ";
    r.description = "line\r\nbreak";
    r.passwordCipher = Encrypt("pw");
    r.dialHangup = "1";
    ASSERT_TRUE(store.save({r}));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(store.records().size(), 1u);
    EXPECT_EQ(store.records()[0].name, "evex");
    EXPECT_EQ(store.records()[0].description, "linebreak");
    EXPECT_EQ(store.check("evex", Encrypt("pw")).record.dialHangup, "1");

    // A failed read keeps the list that was there.
    std::filesystem::remove(path);
    EXPECT_FALSE(store.updateuserlist());
    EXPECT_EQ(store.lines().size(), 1u);
}

TEST(UserStoreBadFile, ASaveOverAStoreThatCouldNotBeReadIsRefused)
{
    velora::test::TempDir dir;
    const std::string path = dir.file("user.cfg");
    std::filesystem::create_directory(path);
    velora::server::users::UserStore store(path);
    std::string why;
    EXPECT_FALSE(store.updateuserlist(&why));
    EXPECT_NE(why.find("is a directory"), std::string::npos) << why;
    velora::server::users::UserRecord ann;
    ann.name = "ann";
    ann.passwordCipher = "97-";
    EXPECT_FALSE(store.save({ann}, &why));
    EXPECT_NE(why.find("not saved over"), std::string::npos) << why;
    EXPECT_TRUE(std::filesystem::is_directory(path));

    // Once it reads again, saves go through, private to the owner.
    std::filesystem::remove(path);
    velora::test::writeFile(path, "bob\xE3\xE3" "98-\xE3" "0\xE3" "0\xE3" "0\xE3" "0\xE3\r\n");
    ASSERT_TRUE(store.updateuserlist());
    ASSERT_TRUE(store.save({ann}, &why)) << why;
    EXPECT_EQ((std::filesystem::status(path).permissions() & std::filesystem::perms::all),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
