// Offscreen pictures of the client window in its states, for a person to look
// at: client_screenshots OUTDIR

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTest>

#include <cstdio>

#include "support/ScriptedPrompter.h"
#include "support/FakeServer.h"
#include "client/core/SavedLogin.h"
#include "client/ui/TFmain.h"
#include "client/ui/TFpassword.h"
#include "widgets/TFtip.h"

using namespace velora;
using namespace velora::client::core;
using namespace velora::client::ui;
using namespace velora::test;

namespace {

struct Rig {
    QTemporaryDir dir;
    FakeServer server;
    std::unique_ptr<ClientSettings> settings;
    std::unique_ptr<ClientSession> session;
    ScriptedPrompter prompter;
    std::unique_ptr<TFmain> window;

    Rig()
    {
        server.listen();
        QDir().mkpath(dir.path() + QStringLiteral("/config"));
        settings = std::make_unique<ClientSettings>(dir.path(), dir.path() + QStringLiteral("/a.desktop"));
        QFile cfg(settings->configFile());
        cfg.open(QIODevice::WriteOnly);
        cfg.write(QByteArray("127.0.0.1\r\n") + QByteArray::number(server.port()) + "\r\n2\r\nOffice\r\n0\r\n0\r\n0\r\n0\r\n");
        cfg.close();
        QFile tips(settings->tipFile());
        tips.open(QIODevice::WriteOnly);
        tips.write("Press Lock before a long download:\nnobody else can hang the line up\nuntil you unlock it.\n#\n");
        tips.close();
        SavedLogin login(settings->savedLoginFile());
        login.remember("alice", "secret");
        login.save();
        session = std::make_unique<ClientSession>(*settings);
        window = std::make_unique<TFmain>(*settings, *session, prompter);
        window->show();
        window->loadcfg();
    }
    bool connect()
    {
        QSignalSpy status(session.get(), &ClientSession::statusReceived);
        window->Button1Click();
        return status.wait(3000);
    }
    void push(const std::string &text, const std::string &lock = "free", const std::string &own = "free")
    {
        server.status.statusText = text;
        server.status.lockStatus = lock;
        server.status.ownLock = own;
        const bool up = text == "Connected";
        server.status.activeEntry = up || text != "READY" ? "Office" : "--";
        server.status.speedValue = up ? "115200" : "0";
        server.status.activeDevice = up || text != "READY" ? "modem0 (ttyS0)" : "--";
        server.status.secondsOnline = up ? "3725" : "0";
        server.status.clientNames = {"server", "accounting", "reception"};
        server.status.clientLocks = {"free", lock == "locked" && own != "locking" ? "locking" : "free", own};
        server.status.clientAddresses = {"192.168.1.1", "192.168.1.20", "192.168.1.31"};
        QSignalSpy status(session.get(), &ClientSession::statusReceived);
        server.pushStatus();
        status.wait(2000);
        window->Timer3Timer();
    }
};

bool save(QWidget *w, const QString &dir, const char *name)
{
    QTest::qWait(30);
    const QString path = dir + u'/' + QLatin1String(name) + QStringLiteral(".png");
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(out);
    bool ok = true;

    {
        Rig rig;
        ok &= save(rig.window.get(), out, "client-disconnected");
        if (!rig.connect())
            return 1;
        rig.push("READY");
        ok &= save(rig.window.get(), out, "client-connected-idle");
        rig.push("Dialing");
        ok &= save(rig.window.get(), out, "client-dialing");
        rig.push("Connected");
        ok &= save(rig.window.get(), out, "client-connected");
        rig.push("READY", "locked", "free");
        ok &= save(rig.window.get(), out, "client-locked-by-other");
        rig.push("READY", "locked", "locking");
        ok &= save(rig.window.get(), out, "client-locked-by-me");
        rig.window->showPanel(TFmain::PanelConfig);
        ok &= save(rig.window.get(), out, "client-configuration");
        rig.window->showPanel(TFmain::PanelClientList);
        ok &= save(rig.window.get(), out, "client-client-list");
        rig.window->showPanel(TFmain::PanelTask);
        ok &= save(rig.window.get(), out, "client-task");
        rig.window->showPanel(TFmain::PanelNormal);
        rig.window->tipWindow()->show();
        ok &= save(rig.window->tipWindow(), out, "client-tip");
        rig.window->tipWindow()->hide();
        rig.window->mainMenu()->popup(rig.window->mapToGlobal(QPoint(10, 40)));
        ok &= save(rig.window->mainMenu(), out, "client-menu");
        rig.window->mainMenu()->hide();
        rig.window->trayMenu()->popup(rig.window->mapToGlobal(QPoint(10, 40)));
        ok &= save(rig.window->trayMenu(), out, "client-tray-menu");
        rig.window->trayMenu()->hide();
    }
    {
        Rig rig;
        rig.server.dialHangup = "0";
        rig.server.shutdown = "0";
        if (!rig.connect())
            return 1;
        rig.push("READY");
        ok &= save(rig.window.get(), out, "client-no-dial-privilege");
    }
    {
        Rig rig;
        rig.server.password = "other";
        SavedLogin none(rig.settings->savedLoginFile());
        none.forget();
        none.save();
        rig.window->Button1Click();
        (void)QTest::qWaitFor([&] { return rig.window->passwordWindow()->isVisible(); }, 3000);
        ok &= save(rig.window->passwordWindow(), out, "client-login-retry");
    }
    {
        Rig rig;
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 dead = closed.serverPort();
        closed.close();
        rig.window->edport->setText(QString::number(dead));
        rig.window->Button6Click();
        QSignalSpy failed(rig.session.get(), &ClientSession::connectFailed);
        rig.window->Button1Click();
        failed.wait(3000);
        ok &= save(rig.window.get(), out, "client-cannot-connect");
        rig.window->openConfiguration->click();
        rig.window->Button6Click();
        ok &= save(rig.window.get(), out, "client-configuration-saved");
    }
    {
        Rig rig;
        QFile::remove(rig.settings->tipFile());
        rig.window->ipoftheday1Click();
        ok &= save(rig.window->tipWindow(), out, "client-tip-shipped");
    }
    return ok ? 0 : 1;
}
