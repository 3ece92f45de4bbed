// `velora user ...` and `velora entry ...` beside a running server: what they
// change is what the next login and the next push line see.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <sys/stat.h>

#include <filesystem>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

struct Admin : ::testing::Test {
    TempDir dir;
    ServerProcess server{dir.file("base")};
    quint16 port = 0;

    void SetUp() override
    {
        server.writeConfig("[server]\nport=0\n");
        writeFile(server.baseDir() + "/config/phonebook.ini", "[Metro]\nspeed=56000\ndelay=5\n[Rural]\ndelay=5\n");
        server.start();
        ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
        port = server.listeningPort();
    }
    // Runs the command with its stdin; the exit code.
    int velora(const QStringList &args, const QByteArray &input = {}, std::string *out = nullptr)
    {
        QProcess p;
        p.start(QStringLiteral(VELORA_SERVER_BINARY),
                QStringList{QStringLiteral("--basedir"), QString::fromStdString(server.baseDir())} + args);
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(20000));
        if (out)
            *out = (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
        return p.exitCode();
    }
    std::string login(RawClient &c, const std::string &user, const std::string &cipher)
    {
        EXPECT_TRUE(c.open(port));
        c.send("connect" + F + "pc-admin" + F + "10.0.0.9" + F + user + F + cipher + F + "\r\n");
        return c.line();
    }
};

}  // namespace

TEST_F(Admin, UsersAddedAndDeletedBesideTheServerTakeEffectAtOnce)
{
    EXPECT_EQ(velora({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("kim"), QStringLiteral("--description"),
                      QStringLiteral("Accounts"), QStringLiteral("--dial"), QStringLiteral("--shutdown"),
                      QStringLiteral("--password-stdin")},
                     "demo\n"),
              0);
    // "demo" enciphered, as a client sends it; the server reads the file
    // when it hears of the change.
    std::string reply;
    ASSERT_TRUE(waitFor(
        [&] {
            RawClient c;
            reply = login(c, "kim", "245-53-210-81-");
            return reply.rfind("OK", 0) == 0;
        },
        5000));
    EXPECT_EQ(reply, "OK" + F + "Accounts" + F + "0" + F + "0" + F + "4" + F + "1" + F + "1" + F);
    std::string said;
    EXPECT_EQ(velora({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("kim"),
                      QStringLiteral("--password-stdin")},
                     "x\n", &said),
              1);
    EXPECT_NE(said.find("already a user named kim"), std::string::npos) << said;
    EXPECT_EQ(velora({QStringLiteral("user"), QStringLiteral("frob")}, {}, &said), 2);
    EXPECT_EQ(velora({QStringLiteral("user"), QStringLiteral("delete"), QStringLiteral("kim")}), 0);
    ASSERT_TRUE(waitFor(
        [&] {
            RawClient c;
            return login(c, "kim", "245-53-210-81-").rfind("FAIL", 0) == 0;
        },
        5000));
}

TEST_F(Admin, AnEntryRenamedBesideTheServerTakesItsRowsAndShowsInThePushLine)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("admin-log"));
        db.setDatabaseName(QString::fromStdString(server.baseDir() + "/config/log.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO log (Usera, Entry, bulan, tahun, waktua) VALUES ('pc','Metro','01','26',60)")));
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO smtp (entry, server, port) VALUES ('Metro','mail.metro.test','25')")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin-log"));
    EXPECT_EQ(velora({QStringLiteral("entry"), QStringLiteral("cost"), QStringLiteral("Metro"), QStringLiteral("3000")}), 0);
    EXPECT_EQ(velora({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("demo"),
                      QStringLiteral("--password-stdin")},
                     "demo\n"),
              0);
    RawClient c;
    ASSERT_TRUE(waitFor([&] { return login(c, "demo", "245-53-210-81-").rfind("OK", 0) == 0; }, 5000));

    std::string said;
    EXPECT_EQ(velora({QStringLiteral("entry"), QStringLiteral("rename"), QStringLiteral("Metro"), QStringLiteral("Rural")},
                     {}, &said),
              1)
        << "an existing name is refused";
    EXPECT_EQ(velora({QStringLiteral("entry"), QStringLiteral("rename"), QStringLiteral("Metro"), QStringLiteral("City")}),
              0);
    EXPECT_FALSE(c.lineWith("City" + std::string(1, '\xE3')).empty()) << "the entry list of the next push line";
    EXPECT_EQ(velora({QStringLiteral("entry"), QStringLiteral("cost"), QStringLiteral("City")}, {}, &said), 0);
    EXPECT_EQ(said, "3000\n");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("admin-log2"));
        db.setDatabaseName(QString::fromStdString(server.baseDir() + "/config/log.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT (SELECT count(*) FROM log WHERE Entry='City'),"
                                          " (SELECT server FROM smtp WHERE entry='City')")) &&
                    q.next());
        EXPECT_EQ(q.value(0).toInt(), 1);
        EXPECT_EQ(q.value(1).toString(), QStringLiteral("mail.metro.test"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin-log2"));
}

// The command line on a base dir of its own, no server: its texts are plain
// and the log it creates is private.
TEST(AdminAlone, EntryCommandsSpeakPlainlyAndCreateAPrivateLog)
{
    TempDir dir;
    const std::string base = dir.file("alone");
    std::filesystem::create_directories(base + "/config");
    writeFile(base + "/config/phonebook.ini", "[Metro]\ndelay=5\n");
    QProcess p;
    p.start(QStringLiteral(VELORA_SERVER_BINARY),
            {QStringLiteral("--basedir"), QString::fromStdString(base), QStringLiteral("entry"), QStringLiteral("cost"),
             QStringLiteral("Nope"), QStringLiteral("3")});
    ASSERT_TRUE(p.waitForFinished(20000));
    const std::string err = p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_NE(err.find("velora: "), std::string::npos) << err;
    EXPECT_EQ(err.find("TRASControl"), std::string::npos) << err;
    struct stat st {};
    ASSERT_EQ(::stat((base + "/config/log.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
