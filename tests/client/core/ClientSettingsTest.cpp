// Settings file, autostart entry, remembered login and the status rules.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "client/core/ClientSettings.h"
#include "client/core/SavedLogin.h"
#include "client/core/ServerPins.h"
#include "client/core/SingleInstance.h"
#include "client/core/StatusModel.h"
#include "common/CredentialCipher.h"

using namespace velora;
using namespace velora::client::core;

namespace {

struct Folder {
    QTemporaryDir dir;
    QString autostart() const { return dir.path() + QStringLiteral("/xdg/autostart/velora-client.desktop"); }
    ClientSettings settings() const { return ClientSettings(dir.path(), autostart()); }
    void write(const QString &rel, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(dir.path() + u'/' + rel).absolutePath());
        QFile f(dir.path() + u'/' + rel);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString &rel) const
    {
        QFile f(dir.path() + u'/' + rel);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

}  // namespace

TEST(ClientSettings, ShortFileSetsOnlyItsLinesAndFlagsNeedExactlyOne)
{
    Folder f;
    auto s = f.settings();
    s.setValue(ClientSettings::Autoconnect, "1");
    f.write(QStringLiteral("config/config.cfg"), "10.0.0.5\r\n2250\r\n4\r\n");
    ASSERT_TRUE(s.loadcfg());
    EXPECT_EQ(s.value(ClientSettings::ServerAddress), "10.0.0.5");
    EXPECT_EQ(s.value(ClientSettings::ServerPort), "2250");
    // Lines the file lacks keep what they held.
    EXPECT_TRUE(s.flag(ClientSettings::Autoconnect));
    const auto applied = s.activatecfg();
    ASSERT_TRUE(applied);
    EXPECT_EQ(applied->port, 2250);
    EXPECT_EQ(applied->pollIntervalMs, 2000);

    f.write(QStringLiteral("config/config.cfg"), "h\n\n\n\n 1\nyes\n1\n1\nextra\n");
    ASSERT_TRUE(s.loadcfg());
    EXPECT_FALSE(s.flag(ClientSettings::Autoconnect));
    EXPECT_FALSE(s.flag(ClientSettings::Minimize));
    EXPECT_TRUE(s.flag(ClientSettings::ShowTips));
}

TEST(ClientSettings, DefaultsAndBadNumbers)
{
    Folder f;
    auto s = f.settings();
    EXPECT_FALSE(s.loadcfg());  // no file: nothing changes
    const auto applied = s.activatecfg();
    ASSERT_TRUE(applied);
    EXPECT_EQ(applied->host, "");
    EXPECT_EQ(applied->port, 225);
    EXPECT_EQ(applied->pollIntervalMs, 1000);
    EXPECT_EQ(s.value(ClientSettings::ServerPort), "225");
    EXPECT_EQ(s.value(ClientSettings::UpdateInterval), "2");

    for (const char *bad : {"22x", "70000", "0", "-1"}) {
        s.setValue(ClientSettings::ServerPort, bad);
        QString why;
        EXPECT_FALSE(s.activatecfg(&why)) << bad;
        EXPECT_FALSE(why.isEmpty());
    }
    s.setValue(ClientSettings::ServerPort, "225");
    s.setValue(ClientSettings::UpdateInterval, "0");  // would make the poll spin
    EXPECT_FALSE(s.activatecfg());
}

TEST(ClientSettings, SaveWritesElevenLinesAndTheAutostartEntry)
{
    Folder f;  // no config folder yet: saving makes it
    auto s = f.settings();
    ClientSettings::PanelValues v;
    v.address = "  192.168.1.2 ";
    v.port = "225";
    v.interval = "2";
    v.defaultEntry = "Office";
    v.autoconnect = true;
    v.startWithDesktop = true;
    v.showTips = true;
    v.encryptedPort = "2260";
    ASSERT_TRUE(s.savecfg(v, QStringLiteral("/usr/bin/velora-client")));
    EXPECT_EQ(f.read(QStringLiteral("config/config.cfg")),
              QByteArray("192.168.1.2\r\n225\r\n2\r\nOffice\r\n1\r\n0\r\n1\r\n1\r\n1\r\n1\r\n2260\r\n"));
    // The values in use change only when the file is read again.
    EXPECT_EQ(s.value(ClientSettings::ServerAddress), "");

    QFile desktop(f.autostart());
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QByteArray entry = desktop.readAll();
    EXPECT_TRUE(entry.contains("Exec=\"/usr/bin/velora-client\" --clientdir \"" + f.dir.path().toUtf8() + "\""))
        << entry.constData();
    EXPECT_TRUE(s.autostartEnabled());

    // On loading, the check box follows the entry, not line 7.
    v.startWithDesktop = false;
    v.reconnect = false;
    ASSERT_TRUE(s.savecfg(v, QStringLiteral("/usr/bin/velora-client")));
    EXPECT_FALSE(QFile::exists(f.autostart()));
    ASSERT_TRUE(s.loadcfg());
    EXPECT_FALSE(s.reconnectAutomatically());
    // A file of the eight lines written before reconnecting came: on.
    auto older = f.settings();
    f.write(QStringLiteral("config/config.cfg"), "a\r\n225\r\n2\r\n\r\n0\r\n0\r\n1\r\n0\r\n");
    ASSERT_TRUE(older.loadcfg());
    EXPECT_FALSE(older.autostartEnabled());
    EXPECT_TRUE(older.reconnectAutomatically());
}

TEST(ClientSettings, EncryptionIsOnInANewFolderAndOffInAFileFromBefore)
{
    Folder f;
    auto fresh = f.settings();
    EXPECT_FALSE(fresh.loadcfg());
    auto applied = fresh.activatecfg();
    ASSERT_TRUE(applied);
    EXPECT_TRUE(applied->encrypted);
    EXPECT_EQ(applied->tlsPort, 226);

    f.write(QStringLiteral("config/config.cfg"), "h\r\n225\r\n2\r\n\r\n0\r\n0\r\n0\r\n0\r\n1\r\n");
    auto old = f.settings();
    ASSERT_TRUE(old.loadcfg());
    EXPECT_FALSE(old.activatecfg()->encrypted);

    f.write(QStringLiteral("config/config.cfg"), "h\r\n225\r\n2\r\n\r\n0\r\n0\r\n0\r\n0\r\n1\r\n1\r\n70000\r\n");
    auto bad = f.settings();
    ASSERT_TRUE(bad.loadcfg());
    QString why;
    EXPECT_FALSE(bad.activatecfg(&why));
    EXPECT_TRUE(why.contains(QStringLiteral("line 11"))) << why.toStdString();
}

TEST(ServerPins, OneLinePerServerPrivateToTheUser)
{
    Folder f;
    const ServerPins pins(f.dir.path() + QStringLiteral("/config/fingerprint.cfg"));
    const std::string a(64, 'a'), b(64, 'b');
    EXPECT_FALSE(pins.pinned("10.0.0.1", 226));
    ASSERT_TRUE(pins.pin("10.0.0.1", 226, a, nullptr));
    ASSERT_TRUE(pins.pin("10.0.0.2", 226, b, nullptr));
    ASSERT_TRUE(pins.pin("10.0.0.1", 226, b, nullptr));
    EXPECT_EQ(pins.pinned("10.0.0.1", 226), b);
    EXPECT_EQ(pins.pinned("10.0.0.2", 226), b);
    EXPECT_FALSE(pins.pinned("10.0.0.1", 2260));
    EXPECT_EQ(f.read(QStringLiteral("config/fingerprint.cfg")).count('\n'), 2);
    struct stat st {};
    ASSERT_EQ(::stat(pins.path().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(normalFingerprint("AB:" + std::string(62, 'c')), "ab" + std::string(62, 'c'));
    EXPECT_FALSE(normalFingerprint(std::string(63, 'a')));
    EXPECT_FALSE(normalFingerprint(std::string(63, 'a') + "g"));
}

TEST(ClientSettings, ClientFolderPrecedence)
{
    qputenv("VELORA_CLIENTDIR", "/tmp/from-env");
    EXPECT_EQ(resolveClientDir(QStringLiteral("/tmp/from-arg")), QStringLiteral("/tmp/from-arg"));
    EXPECT_EQ(resolveClientDir(QString()), QStringLiteral("/tmp/from-env"));
    qunsetenv("VELORA_CLIENTDIR");
    // Not the current folder, which is the home folder itself when started from the menu.
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg-config");
    EXPECT_EQ(resolveClientDir(QString()), QStringLiteral("/tmp/xdg-config/velora-client"));
    qputenv("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(resolveClientDir(QString()), QDir::homePath() + QStringLiteral("/.config/velora-client"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(resolveClientDir(QString()), QDir::homePath() + QStringLiteral("/.config/velora-client"));
}

TEST(SavedLogin, OnlyLineOneChanges)
{
    Folder f;
    const QString path = f.dir.path() + QStringLiteral("/config/user.cfg");
    SavedLogin missing(path);
    ASSERT_TRUE(missing.load());  // missing means nothing remembered
    EXPECT_FALSE(missing.remembered());

    f.write(QStringLiteral("config/user.cfg"), "old\xE3" "1-\xE3\r\nkeep me\r\n");
    SavedLogin saved(path);
    ASSERT_TRUE(saved.load());
    saved.remember(" bob ", " pa\xE0ss ");
    ASSERT_TRUE(saved.save());
    EXPECT_EQ(f.read(QStringLiteral("config/user.cfg")),
              QByteArray::fromStdString("bob\xE3" + Encrypt("pa\xE0ss") + "\xE3\r\nkeep me\r\n"));

    SavedLogin again(path);
    ASSERT_TRUE(again.load());
    const auto login = again.remembered();
    ASSERT_TRUE(login);
    EXPECT_EQ(login->user, "bob");
    EXPECT_EQ(login->password, "pa\xE0ss");

    again.forget();
    ASSERT_TRUE(again.save());
    EXPECT_EQ(f.read(QStringLiteral("config/user.cfg")), QByteArray("keep me\r\n"));

    f.write(QStringLiteral("config/user.cfg"), "bob\xE3" "1x2-\xE3\r\n");
    SavedLogin corrupt(path);
    ASSERT_TRUE(corrupt.load());
    bool bad = false;
    EXPECT_FALSE(corrupt.remembered(&bad));
    EXPECT_TRUE(bad);
}

namespace {
unsigned modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}
}  // namespace

TEST(SavedLogin, OnlyTheOwnerMayReadIt)
{
    Folder f;
    const QString path = f.dir.path() + QStringLiteral("/config/user.cfg");
    SavedLogin fresh(path);
    fresh.remember("bob", "secret");
    ASSERT_TRUE(fresh.save());
    EXPECT_EQ(modeOf(path), 0600u);

    // A copy that others could read is closed on the next save.
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                QFile::ReadOther));
    SavedLogin again(path);
    ASSERT_TRUE(again.load());
    again.remember("bob", "other");
    ASSERT_TRUE(again.save());
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(SingleInstance, OneHolderPerFolderWhateverItsSpelling)
{
    Folder f;
    QDir(f.dir.path()).mkdir(QStringLiteral("client"));
    const QString folder = f.dir.path() + QStringLiteral("/client");
    const QString link = f.dir.path() + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(folder, link));

    SingleInstance first(folder);
    ASSERT_TRUE(first.acquire());
    EXPECT_FALSE(SingleInstance(folder + QStringLiteral("/")).acquire());
    EXPECT_FALSE(SingleInstance(link).acquire());
    EXPECT_TRUE(SingleInstance(f.dir.path()).acquire());  // another folder
}

namespace {
wire::StatusRecord record(const std::string &status, const std::string &lock = "free",
                          const std::string &own = "free", const std::string &seconds = "0")
{
    wire::StatusRecord r;
    r.statusText = status;
    r.activeEntry = status == "Connected" ? "Office" : "--";
    r.lockStatus = lock;
    r.speedValue = status == "Connected" ? "115200" : "--";
    r.activeDevice = "--";
    r.ownLock = own;
    r.secondsOnline = seconds;
    return r;
}
}  // namespace

TEST(StatusModel, StatusTextCases)
{
    StatusModel m;
    ASSERT_TRUE(m.apply(record("READY")));
    auto c = m.controls("1");
    EXPECT_TRUE(c.dialEnabled);
    EXPECT_TRUE(c.trayDialEnabled);
    EXPECT_FALSE(c.trayHangupEnabled);
    EXPECT_FALSE(c.showHangup);
    EXPECT_FALSE(c.lineConnected);
    EXPECT_EQ(c.trayImage, StatusModel::LineNotConnected);
    m.onlineText = "0:0:9";
    m.clockTick();
    EXPECT_EQ(m.onlineText, "--");

    ASSERT_TRUE(m.apply(record("Connected", "free", "free", "59")));
    c = m.controls("1");
    EXPECT_TRUE(c.showHangup);
    EXPECT_TRUE(c.trayHangupEnabled);
    EXPECT_FALSE(c.trayDialEnabled);
    EXPECT_TRUE(c.lineConnected);
    EXPECT_EQ(c.trayImage, StatusModel::LineConnected);
    m.clockTick();
    EXPECT_EQ(m.onlineText, "0:1:0");
    m.secondsOnline = 3598;
    m.clockTick();
    EXPECT_EQ(m.onlineText, "0:59:59");
    m.clockTick();
    EXPECT_EQ(m.onlineText, "1:0:0");

    ASSERT_TRUE(m.apply(record("Dialing")));
    c = m.controls("1");
    EXPECT_TRUE(c.showHangup);
    EXPECT_TRUE(c.trayHangupEnabled);
    EXPECT_FALSE(c.lineConnected);
    m.clockTick();
    EXPECT_EQ(m.onlineText, "1:0:0");  // unchanged for other texts

    // Locked line: everything off whatever the privilege; own lock shows Unlock.
    ASSERT_TRUE(m.apply(record("READY", "locked", "locking")));
    c = m.controls("1");
    EXPECT_FALSE(c.dialEnabled);
    EXPECT_FALSE(c.trayDialEnabled);
    EXPECT_EQ(c.lockIcon, StatusModel::LockIcon::Shown);
    EXPECT_TRUE(c.showUnlock);
    // No privilege: nothing enabled on a free line either.
    ASSERT_TRUE(m.apply(record("READY")));
    EXPECT_FALSE(m.controls("0").dialEnabled);
    EXPECT_EQ(m.controls("0").lockIcon, StatusModel::LockIcon::Hidden);
    ASSERT_TRUE(m.apply(record("READY", "odd")));
    EXPECT_EQ(m.controls("1").lockIcon, StatusModel::LockIcon::Unchanged);
}

TEST(StatusModel, BadSecondsAndHints)
{
    StatusModel m;
    EXPECT_EQ(m.message, "Disconnected from server");
    EXPECT_EQ(m.shortOrFullHint(), "Disconnected from server");
    ASSERT_TRUE(m.apply(record("Connected", "free", "free", "65")));
    EXPECT_EQ(m.shortOrFullHint(), "Status : Connected\nConnected via : Office\nSpeed : 115200\nTime Online : --");
    auto bad = record("READY", "locked", "free", "1x");
    EXPECT_FALSE(m.apply(bad));
    EXPECT_EQ(m.message, "READY");       // taken before the bad item
    EXPECT_EQ(m.lockStatus, "locked");
    EXPECT_EQ(m.secondsOnline, 65u);    // kept
}

TEST(StatusModel, ARecordHoldsTheTimeItWasFirstSeenLockingUntilItLetsGo)
{
    StatusModel m;
    auto r = record("READY", "locked");
    r.clientNames = {"Admin@srv", "pc1", "pc2"};
    r.clientAddresses = {"10.0.0.9", "10.0.0.1", "10.0.0.2"};
    r.clientLocks = {"free", "locking", "free"};
    ASSERT_TRUE(m.apply(r, 1000));
    r.clientLocks = {"free", "locking", "locking"};
    ASSERT_TRUE(m.apply(r, 1060));
    EXPECT_EQ(m.clientLockedSince, (std::vector<std::int64_t>{0, 1000, 1060}));
    EXPECT_EQ(m.lockHolder, "pc1");
    EXPECT_EQ(m.lockHolderSince, 1000);
    // pc1 leaves; pc2 moved up the list and keeps its own time.
    r.clientNames = {"Admin@srv", "pc2"};
    r.clientAddresses = {"10.0.0.9", "10.0.0.2"};
    r.clientLocks = {"free", "locking"};
    ASSERT_TRUE(m.apply(r, 1120));
    EXPECT_EQ(m.clientLockedSince, (std::vector<std::int64_t>{0, 1060}));
    EXPECT_EQ(m.lockHolder, "pc2");
    // Let go and taken again: a new time.
    r.clientLocks = {"free", "free"};
    ASSERT_TRUE(m.apply(r, 1180));
    EXPECT_TRUE(m.lockHolder.empty());
    r.clientLocks = {"free", "locking"};
    ASSERT_TRUE(m.apply(r, 1240));
    EXPECT_EQ(m.lockHolderSince, 1240);
    m.reset();
    EXPECT_TRUE(m.clientLockedSince.empty());
}
