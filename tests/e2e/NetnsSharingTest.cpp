// Connection sharing and the SMTP relay of the real server between network
// namespaces: the LAN reaches a provider only through the masquerade of the
// dialled entry's link, the rule moves with the next entry, a mail from the
// LAN reaches the first entry's mail server byte for byte, and the relay
// keeps pointing there after an entry without a row. Started by
// netns_sharing_test.sh, which makes and removes the namespaces; run alone
// it skips.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdlib>
#include <filesystem>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora::test;

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

// Runs a tool to its end (or `ms`), giving its stdout.
std::string run(const QStringList &words, int ms = 8000, const QByteArray &input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(words.first(), words.mid(1));
    if (!p.waitForStarted(3000))
        return {};
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!waitFor([&] { return p.state() == QProcess::NotRunning; }, ms)) {
        p.kill();
        p.waitForFinished(1000);
    }
    return p.readAllStandardOutput().toStdString();
}

QString q(const std::string &s) { return QString::fromStdString(s); }

// Who the provider at `address` saw, when the LAN connects to it; empty when it could not.
std::string sourceSeenBy(const std::string &lanNs, const std::string &address)
{
    std::string out = run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), q(lanNs),
                           QStringLiteral("socat"), QStringLiteral("-T3"), QStringLiteral("-"),
                           q("TCP:" + address + ":7000,connect-timeout=2")});
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string ourTable() { return run({QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("tables")}); }

std::string ourRules()
{
    return run({QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("table"), QStringLiteral("inet"),
                QStringLiteral("velora")});
}

std::size_t count(const std::string &text, const std::string &part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

const char Mail[] =
    "From: office@lan.example\r\n"
    "To: someone@isp.example\r\n"
    "Subject: through the relay\r\n"
    "\r\n"
    "First line of the body.\r\n"
    "Tab\there, and trailing blanks   \r\n"
    "The last line.\r\n";

// swaks from the LAN to the relay, or (with no namespace) from here straight
// to the mail server: what arrives straight is what the relay must deliver.
bool sendMail(const std::string &lanNs, const char *server = "192.168.77.1")
{
    QStringList words{QStringLiteral("swaks")};
    if (!lanNs.empty())
        words = QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), q(lanNs)} + words;
    const std::string out =
        run(words + QStringList{
             QStringLiteral("--server"), QString::fromLatin1(server), QStringLiteral("--port"), QStringLiteral("2525"),
             QStringLiteral("--from"), QStringLiteral("office@lan.example"), QStringLiteral("--to"),
             QStringLiteral("someone@isp.example"), QStringLiteral("--data"), QStringLiteral("-"),
             QStringLiteral("--timeout"), QStringLiteral("10")},
            15000, QByteArray(Mail));
    return out.find("250 OK queued") != std::string::npos;
}

}  // namespace

TEST(NetnsSharing, TheMasqueradeFollowsTheDialledEntryAndTheRelayCarriesMail)
{
    const std::string lanNs = env("VELORA_NS_LAN"), ifOne = env("VELORA_IF_ONE"), ifTwo = env("VELORA_IF_TWO"),
                      mailDir = env("VELORA_MAIL_DIR");
    if (lanNs.empty() || ifOne.empty() || ifTwo.empty() || mailDir.empty())
        GTEST_SKIP() << "run through netns_sharing_test.sh, which makes the namespaces";

    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    server.writeConfig("[server]\nport=" + std::to_string(port) +
                       "\n[line]\ndriver=command\ntimeout=10\n"
                       "[dial]\nICS=1\nsmtpautorelay=1\nsmtpport=2525\n");
    writeFile(server.baseDir() + "/config/user.cfg",
              "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
    auto entry = [](const std::string &name, const std::string &iface, const std::string &local,
                    const std::string &peer) {
        return "[" + name + "]\n"
               "connect=sh -c \"ip addr add " + local + "/30 dev " + iface + " && ip link set " + iface +
               " up && ip route add default via " + peer + " dev " + iface + "\"\n"
               "disconnect=sh -c 'ip link set " + iface + " down; ip addr flush dev " + iface + "'\n"
               "interface=" + iface + "\n";
    };
    writeFile(server.baseDir() + "/config/phonebook.ini",
              entry("One", ifOne, "198.18.1.2", "198.18.1.1") + entry("Two", ifTwo, "198.18.2.2", "198.18.2.1"));
    {
        // Provider one's mail server, as the SMTP page would store it.
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(q(server.baseDir() + "/config/log.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery s(db);
        ASSERT_TRUE(s.exec(QStringLiteral("CREATE TABLE smtp (entry TEXT, server TEXT, port TEXT)")));
        ASSERT_TRUE(s.exec(QStringLiteral("INSERT INTO smtp VALUES ('One', '198.18.9.1', '2525')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));

    server.start();
    ASSERT_TRUE(server.waitForOutput("listening on port")) << server.output();
    ASSERT_EQ(sourceSeenBy(lanNs, "198.18.1.1"), "") << "the provider must be out of reach before the dial";

    RawClient c;
    ASSERT_TRUE(c.open(port));
    c.send("connect" + F + "pc-a" + F + "192.168.77.2" + F + "demo" + F + "245-53-210-81-" + F + "\r\n");
    ASSERT_EQ(c.line(3000).substr(0, 3), "OK" + F);

    c.send("dial" + F + "One" + F + "pc-a" + F + "\r\n");
    ASSERT_FALSE(c.lineWith("Connected" + I).empty()) << server.output();
    EXPECT_NE(ourRules().find("oifname \"" + ifOne + "\" masquerade"), std::string::npos) << ourRules();
    EXPECT_EQ(sourceSeenBy(lanNs, "198.18.1.1"), "198.18.1.2") << server.output();

    // The relay starts at the first online second.
    ASSERT_TRUE(server.waitForOutput("SMTP relay: port 2525 passes mail to 198.18.9.1:2525")) << server.output();
    ASSERT_TRUE(sendMail("", "198.18.9.1"));
    const std::string straight = readFile(mailDir + "/mail-1.eml");
    ASSERT_EQ(straight.rfind(Mail, 0), 0u) << straight;
    ASSERT_TRUE(sendMail(lanNs)) << server.output();
    EXPECT_EQ(readFile(mailDir + "/mail-2.eml"), straight);

    c.send("hangup" + F + "pc-a" + F + "\r\n");
    const std::string ready = c.lineWith("READY" + I);
    ASSERT_FALSE(ready.empty());
    c.send("dial" + F + "Two" + F + "pc-a" + F + "\r\n");
    std::string up;
    for (int i = 0; i < 40 && (up.empty() || statusItems(up).size() < 3 || statusItems(up)[2] != "Two"); ++i) {
        up = c.lineWith("Connected" + I);
    }
    ASSERT_EQ(statusItems(up)[2], "Two") << server.output();
    const std::string rules = ourRules();
    EXPECT_EQ(count(rules, "masquerade"), 1u) << rules;
    EXPECT_NE(rules.find("oifname \"" + ifTwo + "\" masquerade"), std::string::npos) << rules;
    EXPECT_EQ(sourceSeenBy(lanNs, "198.18.2.1"), "198.18.2.2");
    EXPECT_EQ(sourceSeenBy(lanNs, "198.18.1.1"), "") << "the first provider must see no LAN traffic now";

    // Two has no row: the mail still goes to One's server.
    ASSERT_TRUE(sendMail(lanNs)) << server.output();
    EXPECT_EQ(readFile(mailDir + "/mail-3.eml"), straight);
    EXPECT_EQ(count(server.output(), "SMTP relay: port"), 1u) << server.output();

    server.stop();
    EXPECT_EQ(server.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ourTable().find("velora"), std::string::npos) << "the table must go with the server";
}
