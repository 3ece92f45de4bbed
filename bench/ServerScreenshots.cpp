// Pictures of the server window's pages in their states, for a person to
// look at: idle, dialing, connected, locked, failed dial, offline, the
// configuration and client list pages, the tip window and the tray.
// Usage: server_screenshots OUTDIR (run with QT_QPA_PLATFORM=offscreen).

#include <QApplication>
#include <QTreeWidget>
#include <QDate>
#include <QLocale>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTime>
#include <QHostAddress>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "support/ScriptedPrompter.h"
#include "support/DialupFakes.h"
#include "common/CredentialCipher.h"
#include "common/Prompter.h"
#include "common/WireCodec.h"
#include "server/dialup/lines/CommandLine.h"
#include "server/dialup/lines/PppdLine.h"
#include "server/dialup/lines/SimulatedLine.h"
#include "server/frame/SimulatedInterfaceTable.h"
#include "support/FakeServerPlatform.h"
#include "server/frame/ServerCore.h"
#include "support/RecordingShutdown.h"
#include "widgets/TFtip.h"
#include "server/log/LogDatabase.h"
#include "server/ui/EntryWindows.h"
#include "server/ui/TForm1.h"
#include "server/ui/UserWindows.h"
#include "server/ui/TrayImages.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::server::dialup;
using namespace velora::server::frame;
using namespace velora::widgets;
using namespace velora::server::ui;
using namespace velora::test;

namespace {

QString outDir;
int failures = 0;

void save(QWidget *w, const char *name)
{
    // Visibility changes of this tick reach the layouts only through posted events.
    QCoreApplication::sendPostedEvents();
    const QString path = outDir + QStringLiteral("/server-") + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// A client of the office logged in over loopback.
std::unique_ptr<QTcpSocket> logIn(ServerCore &core, const std::string &host, const std::string &address)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, core.listeningPort());
    if (!socket->waitForConnected(2000))
        return socket;
    const std::size_t before = core.clients().clientList().size();
    socket->write(QByteArray::fromStdString(
        wire::buildCommandLine("connect", {host, address, "ann", Encrypt("pw")}) + "\r\n"));
    waitFor([&] { return core.clients().clientList().size() > before; });
    return socket;
}

}  // namespace

using velora::server::log::LogDatabase;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: server_screenshots OUTDIR\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    std::filesystem::create_directories(argv[1]);

    velora::test::TempDir dir;
    const std::string base = dir.file("base");
    std::filesystem::create_directories(base + "/config");
    // A free port, so that the page shows a real one.
    int port = 0;
    {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, 0))
            port = probe.serverPort();
    }
    velora::test::writeFile(base + "/config/config.ini",
                            "[server]\nport=" + std::to_string(port) + "\n[general]\nonlinestartup=1\nclientpolling=1\n"
                            "[dial]\nkeepalive=1\npingip=www.example.net\nconnectionlogging=1\n");
    velora::test::writeFile(base + "/config/phonebook.ini",
                            "[Office ISP]\nspeed=56000\ndelay=40\ndevice=External 56K modem\n"
                            "[Backup line]\nspeed=33600\ndelay=40\n"
                            "[Night tariff]\nspeed=48000\nfailcode=676\nfailstate=2\ndelay=0\n");
    const std::string sep = "\xE3";
    velora::test::writeFile(base + "/config/user.cfg", "ann" + sep + "Front desk" + sep + Encrypt("pw") + sep +
                                                           "0" + sep + "1" + sep + "1" + sep + "0" + sep + "\r\n");
    velora::test::writeFile(base + "/config/tip.cfg",
                            "Double-click the tray icon to show or hide this window.\n#\n"
                            "Lock the line before a long download: nobody, you included,\n"
                            "can hang up while it runs, until you unlock.\n#\n");

    ScriptedPrompter prompter;
    ServerPlatform platform = fakePlatform(base);
    ServerOptions options;
    options.baseDir = base;
    options.listenAddress = "127.0.0.1";
    ServerCore core(options, std::move(platform));
    TForm1 window(core, prompter);
    core.inisiasiawal();
    core.Timer2Timer();
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
    auto *entries = window.findChild<QListWidget *>(QStringLiteral("lventry"));
    window.show();

    // Idle, then two clients log in.
    core.Timer1Timer();
    save(&window, "main-idle");
    auto pc1 = logIn(core, "reception", "192.168.0.11");
    auto pc2 = logIn(core, "accounts", "192.168.0.12");
    core.Timer1Timer();

    // Dialing: caught half-way through the dial steps.
    entries->setCurrentRow(0);
    window.findChild<QPushButton *>(QStringLiteral("Button2"))->click();
    waitFor([&] { return core.state().StatusText == "Device connected"; });
    core.Timer1Timer();
    save(&window, "main-dialing");

    // Connected for a while.
    waitFor([&] { return core.state().StatusText == "Connected"; });
    core.Timer1Timer();
    core.Timer1Timer();
    for (int i = 0; i < 754; ++i)
        core.Timer3Timer();
    core.Timer1Timer();
    save(&window, "main-connected");

    // Locked by the operator.
    window.findChild<QPushButton *>(QStringLiteral("SpeedButton6"))->click();
    core.Timer1Timer();
    save(&window, "main-locked");
    tabs->setCurrentIndex(2);
    save(&window, "clientlist");
    window.findChild<QPushButton *>(QStringLiteral("SpeedButton7"))->click();
    tabs->setCurrentIndex(0);

    // A failed dial, after the ticks that follow a hang-up.
    core.dialup().executehangup();
    core.Timer1Timer();
    core.Timer3Timer();
    core.dialup().executedial("Night tariff", "Local");
    waitFor([&] { return core.state().DialEventText == "Error press hangup button"; });
    core.Timer1Timer();
    save(&window, "main-error");
    core.dialup().executehangup();

    // Offline.
    window.findChild<QPushButton *>(QStringLiteral("Button6"))->click();
    core.Timer1Timer();
    save(&window, "main-offline");

    tabs->setCurrentIndex(1);
    save(&window, "configuration");

    // A month of connections on the Log page.
    {
        QSqlQuery q(QSqlDatabase::database(QString::fromStdString(core.logDatabase().connectionName())));
        q.prepare(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua)"
                                 " VALUES (?,?,?,?,?,?,?,?,?)"));
        const char *users[] = {"Local", "reception", "accounts-pc", "Local", "design-2"};
        const char *isps[] = {"Office ISP", "Office ISP", "Backup line", "Office ISP", "Night tariff"};
        const int speeds[] = {56000, 52000, 33600, 0, 48000};
        const QDate today = QDate::currentDate();
        const QLocale locale = QLocale::system();
        for (int i = 0; i < 24; ++i) {
            const QDate day = today.addDays(-(23 - i) / 3);
            const int seconds = 95 + (i * 1373) % 5400;
            q.addBindValue(LogDatabase::longTimeText(QTime(8 + i % 10, (i * 17) % 60, (i * 31) % 60)));
            q.addBindValue(QString::fromLatin1(users[i % 5]));
            q.addBindValue(QString::fromLatin1(isps[i % 5]));
            q.addBindValue(QString::fromStdString(olahwaktu(static_cast<std::uint64_t>(seconds))));
            q.addBindValue(locale.toString(day, QLocale::ShortFormat));
            q.addBindValue(speeds[i % 5]);
            q.addBindValue(day.toString(QStringLiteral("MM")));
            q.addBindValue(day.toString(QStringLiteral("yy")));
            q.addBindValue(seconds);
            q.exec();
        }
        core.logDatabase().saveHarga("Office ISP", "3000");
        core.logDatabase().saveHarga("Backup line", "4500");
    }
    tabs->setCurrentIndex(3);
    window.ComboBox1Enter();
    window.sortlog();
    save(&window, "log");
    if (auto *logTabs = window.findChild<QTabWidget *>(QStringLiteral("logTabs"))) {
        logTabs->setCurrentIndex(1);
        save(&window, "log-audit");
        logTabs->setCurrentIndex(0);
    }

    // The user page and its editor, the entry windows.
    tabs->setCurrentIndex(4);
    save(&window, "users");
    if (auto *users = window.findChild<QTreeWidget *>(QStringLiteral("Lvuser")); users && users->topLevelItemCount())
        users->setCurrentItem(users->topLevelItem(0));
    window.LvuserDblClick();
    save(window.userWindow(), "user-editor");
    window.userWindow()->SpeedButton2Click();
    tabs->setCurrentIndex(0);
    entries->setCurrentRow(1);
    window.PopupMenu2Popup();
    window.showentryproperties1Click();
    save(window.entryWindow(), "entry-properties");
    window.entryWindow()->SpeedButton2Click();
    save(window.entryWindow()->editWindow(), "entry-edit");
    window.entryWindow()->editWindow()->reject();
    window.entryWindow()->SpeedButton3Click();
    window.renameentry1Click();
    save(window.renameWindow(), "entry-rename");
    window.renameWindow()->reject();

    TFtip *tip = window.tipWindow();
    tip->show();
    save(tip, "tip");

    auto *menu = window.trayMenu();
    menu->adjustSize();
    save(menu, "tray-menu");
    if (auto *main = window.findChild<QMenu *>(QStringLiteral("PopupMenu4"))) {
        main->adjustSize();
        save(main, "main-menu");
    }

    // The three tray pictures side by side, at two sizes.
    QWidget icons;
    icons.setFixedSize(3 * 80, 110);
    icons.setAutoFillBackground(true);
    icons.show();
    QPixmap sheet(icons.size());
    sheet.fill(icons.palette().color(QPalette::Window));
    {
        QPainter p(&sheet);
        for (int i = 0; i < 3; ++i) {
            p.drawPixmap(8 + i * 80, 8, trayImage(i).pixmap(64, 64));
            p.drawPixmap(28 + i * 80, 80, trayImage(i).pixmap(22, 22));
        }
    }
    const QString sheetPath = outDir + QStringLiteral("/server-tray-icons.png");
    if (sheet.save(sheetPath))
        std::printf("%s\n", qPrintable(sheetPath));
    else
        ++failures;

    // The entry dialog as each line driver fills it.
    auto entryDialog = [&](std::unique_ptr<velora::server::dialup::LineDriver> driver, const std::string &dirName,
                           const char *shot) {
        const std::string other = dir.file(dirName);
        std::filesystem::create_directories(other + "/config");
        ServerPlatform p = fakePlatform(other);
        p.line = std::move(driver);
        p.interfaces = velora::server::frame::interfaceTableFor(*p.line);
        ServerOptions o;
        o.baseDir = other;
        o.listenAddress = "127.0.0.1";
        ServerCore c(o, std::move(p));
        std::vector<std::string> names;
        c.line().entries().enumEntries(names);
        velora::server::ui::TFentryEdit dialog(c, prompter);
        dialog.start(names.empty() ? std::string() : names.front());
        dialog.show();
        save(&dialog, shot);
    };
    {
        const std::string cmdBase = dir.file("command");
        std::filesystem::create_directories(cmdBase + "/config");
        velora::test::writeFile(cmdBase + "/config/phonebook.ini",
                                "[Office DSL]\nconnect=ip link set dsl0 up\ndisconnect=ip link set dsl0 down\n"
                                "interface=dsl0\nspeed=2048000\ndevice=DSL bridge\n");
        entryDialog(std::make_unique<velora::server::dialup::CommandLine>(cmdBase), "command", "entry-edit-command");
        velora::server::dialup::PppdLine::Settings ps;
        ps.peersDir = dir.file("peers");
        ps.secretsDir = dir.file("ppp");
        std::filesystem::create_directories(ps.peersDir);
        std::filesystem::create_directories(ps.secretsDir);
        velora::test::writeFile(ps.peersDir + "/provider",
                                "/dev/ttyUSB0\n115200\nuser \"ann@metro\"\nconnect \"/usr/sbin/chat -v '' ATZ OK "
                                "'ATDT0804123' CONNECT ''\"\n");
        velora::test::writeFile(ps.secretsDir + "/pap-secrets", "\"ann@metro\" * \"secret\"\n");
        entryDialog(std::make_unique<velora::server::dialup::PppdLine>(ps), "pppd", "entry-edit-pppd");
    }

    return failures ? 1 : 0;
}
