// Chat through a real server core and its window, a real client window and
// raw wire clients, all on loopback in one process and offscreen. The
// server's status tick is driven by hand; sounds go to recording players.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

#include "client/core/ClientSession.h"
#include "client/core/ClientSettings.h"
#include "client/ui/TFmain.h"
#include "server/frame/ServerCore.h"
#include "server/ui/TForm1.h"
#include "support/FakeServerPlatform.h"
#include "support/FakeSoundPlayer.h"
#include "support/RawWireClient.h"
#include "support/ScriptedPrompter.h"
#include "support/SocketQueues.h"
#include "support/TestFiles.h"
#include "support/Wait.h"
#include "widgets/ChatHistory.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"

using namespace velora;
using namespace velora::test;
using velora::server::frame::ServerCore;
using velora::widgets::TFsend;

namespace {

const std::string Demo = "245-53-210-81-";  // "demo" enciphered

// A raw wire client that reads without blocking the one event loop.
struct Peer {
    RawClient c;
    std::vector<std::string> lines;
    std::string name, address;

    void pump()
    {
        c.buffer += c.socket.readAll().toStdString();
        for (auto e = c.buffer.find("\r\n"); e != std::string::npos; e = c.buffer.find("\r\n")) {
            lines.push_back(c.buffer.substr(0, e));
            c.buffer.erase(0, e + 2);
        }
    }
    bool got(const std::string &text)
    {
        pump();
        for (const auto &l : lines)
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
    void say(const std::string &recipient, const std::string &text)
    {
        c.send("pesan" + F + recipient + F + address + L + name + L + text + "\xE4" + L + "\xE5" + F + "\r\n");
    }
};

int linesWith(const widgets::ChatHistory *h, const QString &text)
{
    int n = 0;
    for (int i = 0; i < h->lineCount(); ++i)
        n += h->lineText(i).contains(text) ? 1 : 0;
    return n;
}

struct Office {
    TempDir dir;
    ScriptedPrompter serverPrompter, clientPrompter;
    QStringList serverSounds, clientSounds;
    std::unique_ptr<ServerCore> core;
    std::unique_ptr<server::ui::TForm1> server;
    QTemporaryDir clientDir;
    std::unique_ptr<client::core::ClientSettings> settings;
    std::unique_ptr<client::core::ClientSession> session;
    std::unique_ptr<client::ui::TFmain> client;
    std::vector<std::unique_ptr<Peer>> peers;

    Office()
    {
        const std::string base = dir.file("base");
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=0\n");
        writeFile(base + "/notify.wav", "RIFF");
        writeFile(base + "/config/user.cfg",
                  "demo" + L + "Demo user" + L + Demo + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
        server::frame::ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core = std::make_unique<ServerCore>(o, fakePlatform(base));
        server = std::make_unique<server::ui::TForm1>(*core, serverPrompter);
        core->inisiasiawal();
        core->Timer2Timer();
        server->messageAlert()->setDesktopNotifications(false);
        server->messageAlert()->setSoundPlayer(std::make_unique<FakeSoundPlayer>(&serverSounds));

        QDir().mkpath(clientDir.path() + QStringLiteral("/config"));
        settings = std::make_unique<client::core::ClientSettings>(clientDir.path(),
                                                                  clientDir.path() + QStringLiteral("/a.desktop"));
        QFile cfg(settings->configFile());
        if (cfg.open(QIODevice::WriteOnly))
            cfg.write(QByteArray("127.0.0.1\r\n") + QByteArray::number(core->listeningPort()) +
                      "\r\n2\r\nOffice\r\n0\r\n0\r\n0\r\n0\r\n");
        cfg.close();
        session = std::make_unique<client::core::ClientSession>(*settings);
        session->setFixedLogin("demo", "demo");
        client = std::make_unique<client::ui::TFmain>(*settings, *session, clientPrompter);
        client->messageAlert()->setDesktopNotifications(false);
        client->messageAlert()->setSoundPlayer(std::make_unique<FakeSoundPlayer>(&clientSounds));
        client->show();
        client->Button1Click();
    }
    ~Office()
    {
        client.reset();
        session.reset();
        server.reset();
        core.reset();
    }
    Peer &peer(const std::string &name, const std::string &address)
    {
        auto p = std::make_unique<Peer>();
        p->name = name;
        p->address = address;
        if (p->c.open(core->listeningPort()))
            p->c.send("connect" + F + name + F + address + F + "demo" + F + Demo + F + "\r\n");
        peers.push_back(std::move(p));
        return *peers.back();
    }
    // Ticks until the condition holds, as the 500 ms timer would, only faster.
    bool tickUntil(const std::function<bool()> &done, int ms = 5000)
    {
        return waitFor([&] {
            core->Timer1Timer();
            for (auto &p : peers)
                p->pump();
            return done();
        }, ms);
    }
    // Nothing in flight: what the server's sessions and the peers wrote has
    // left Qt's buffers and been read at the other end.
    bool quiet()
    {
        for (auto &p : peers) {
            p->pump();
            if (p->c.socket.bytesToWrite() > 0)
                return false;
        }
        for (const auto *s : core->clients().transport().sessions())
            if (s->queuedBytes() > 0)
                return false;
        return tcpQueuesEmpty();
    }
    // What must not happen would come with the next ticks' push lines: drive
    // that many ticks directly, each read by every socket, unless it happens.
    void settle(const std::function<bool()> &mustNotHappen)
    {
        for (int tick = 0; tick < 8 && !mustNotHappen(); ++tick) {
            core->Timer1Timer();
            QVERIFY2(waitFor([&] { return quiet(); }), "bytes still in flight after a tick");
        }
    }
    // Everybody is in the list: the server's record, the window client and the peers.
    bool allIn() { return core->clients().clientList().size() == 2 + peers.size(); }
    TFsend *serverSend() const { return server->sendWindow(); }
    TFsend *clientSend() const { return client->sendWindow(); }
    bool clientListed(std::size_t rows)
    {
        // The send window leaves out the client's own row.
        return static_cast<std::size_t>(clientSend()->list->topLevelItemCount()) == (rows > 0 ? rows - 1 : 0) &&
               static_cast<std::size_t>(client->Lvclient->topLevelItemCount()) == rows;
    }
    static void choose(TFsend *w, const QString &address)
    {
        for (int i = 0; i < w->list->topLevelItemCount(); ++i) {
            if (w->list->topLevelItem(i)->text(1) == address) {
                w->list->setCurrentItem(w->list->topLevelItem(i));
                w->listClick();
                return;
            }
        }
    }
};

}  // namespace

class ChatTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        if (ServerCore::ownAddress() == "127.0.0.1")
            QSKIP("the server's own address is the loopback one: its messages would look like the client's");
    }
    void aClientsMessageToAllIsShownOnceInEveryOtherHistory();
    void theOperatorsMessageToOneClientReachesOnlyThatAddress();
    void ownMessagesToAllAreNotShownAsReceived();
    void threeMessagesBetweenTwoTicksGiveOnePopupAndOneSound();
    void aFocusedInputGetsTheSoundButNoPopup();
    void menusOpenTheWindowForTheChosenClientAndTheListsFollow();
};

void ChatTest::aClientsMessageToAllIsShownOnceInEveryOtherHistory()
{
    Office o;
    Peer &a = o.peer("pc-a", "10.0.0.1");
    QVERIFY(o.tickUntil([&] { return o.allIn(); }));
    a.say("All", "hello office");
    const QString text = QStringLiteral("hello office");
    QVERIFY(o.tickUntil([&] { return linesWith(o.clientSend()->memo2, text) > 0; }));
    o.settle([&] {
        return linesWith(o.serverSend()->memo2, text) > 1 || linesWith(o.clientSend()->memo2, text) > 1 ||
               o.serverSounds.size() > 1 || o.clientSounds.size() > 1;
    });
    auto *serverHistory = o.server->findChild<widgets::ChatHistory *>(QStringLiteral("memo2"));
    QVERIFY(!serverHistory);  // the send window is a window of its own
    serverHistory = o.serverSend()->findChild<widgets::ChatHistory *>(QStringLiteral("memo2"));
    QCOMPARE(linesWith(serverHistory, text), 1);
    QCOMPARE(serverHistory->lineText(0), QStringLiteral("< pc-a: >hello office"));
    QCOMPARE(linesWith(o.clientSend()->memo2, text), 1);
    QCOMPARE(o.serverSounds.size(), 1);
    QCOMPARE(o.clientSounds.size(), 1);
    // The base dir's own sound; the client folder has none, so the one beside the program.
    QCOMPARE(o.serverSounds.front(), QString::fromStdString(o.dir.file("base") + "/notify.wav"));
    QVERIFY(!o.clientSounds.front().startsWith(o.clientDir.path()));
    QVERIFY(o.server->messageAlert()->popup()->isVisible());
    QVERIFY(o.client->messageAlert()->popup()->isVisible());
    // The sender's own copy came back to it in its push line.
    QVERIFY(a.got("hello office"));
}

void ChatTest::theOperatorsMessageToOneClientReachesOnlyThatAddress()
{
    Office o;
    Peer &a = o.peer("pc-a", "10.0.0.1");
    Peer &b = o.peer("pc-b", "10.0.0.2");
    QVERIFY(o.tickUntil([&] { return o.allIn() && o.clientListed(4); }));
    QAction *tray = o.server->trayMenu()->findChild<QAction *>(QStringLiteral("Sendmessage2"));
    QVERIFY(tray && tray->isVisible() && tray->isEnabled());
    tray->trigger();
    QVERIFY(o.serverSend()->isVisible());
    QCOMPARE(o.serverSend()->width(), TFsend::WideWidth);
    QCOMPARE(o.serverSend()->Label1Tag(), 1);
    QCOMPARE(o.serverSend()->list->topLevelItemCount(), 3);  // not the operator's own row
    Office::choose(o.serverSend(), QStringLiteral("10.0.0.2"));
    o.serverSend()->Memo1->setPlainText(QStringLiteral("only for b"));
    QTest::mouseClick(o.serverSend()->SpeedButton1, Qt::LeftButton);
    QVERIFY(o.tickUntil([&] { return b.got("only for b"); }));
    o.settle([&] {
        return a.got("only for b") || linesWith(o.clientSend()->memo2, QStringLiteral("only for b")) > 0 ||
               linesWith(o.serverSend()->memo2, QStringLiteral("only for b")) > 1 || !o.serverSounds.isEmpty();
    });
    QVERIFY(!a.got("only for b"));
    QCOMPARE(linesWith(o.clientSend()->memo2, QStringLiteral("only for b")), 0);
    QCOMPARE(linesWith(o.serverSend()->memo2, QStringLiteral("only for b")), 1);
    QVERIFY(o.serverSend()->memo2->lineText(0).endsWith(QStringLiteral(" to pc-b >only for b")));
    QVERIFY(o.serverSounds.isEmpty());
}

void ChatTest::ownMessagesToAllAreNotShownAsReceived()
{
    Office o;
    Peer &a = o.peer("pc-a", "10.0.0.1");
    QVERIFY(o.tickUntil([&] { return o.allIn() && o.clientListed(3); }));

    // The operator's.
    o.server->Sendmessage2Click();
    o.serverSend()->Memo1->setPlainText(QStringLiteral("from the operator"));
    o.serverSend()->SpeedButton2Click();
    QVERIFY(o.tickUntil([&] { return a.got("from the operator"); }));
    QVERIFY(o.tickUntil([&] { return linesWith(o.clientSend()->memo2, QStringLiteral("from the operator")) == 1; }));
    o.settle([&] {
        return linesWith(o.serverSend()->memo2, QStringLiteral("from the operator")) > 1 ||
               linesWith(o.clientSend()->memo2, QStringLiteral("from the operator")) > 1 || !o.serverSounds.isEmpty();
    });
    QCOMPARE(linesWith(o.serverSend()->memo2, QStringLiteral("from the operator")), 1);
    QVERIFY(o.serverSend()->memo2->lineText(0).endsWith(QStringLiteral(" to All clients >from the operator")));
    QVERIFY(o.serverSounds.isEmpty());

    // The window client's: it comes back in its own push line and is skipped.
    QSignalSpy received(o.session.get(), &client::core::ClientSession::messagesReceived);
    const int before = received.count();
    o.client->Sendmessege1->trigger();
    QVERIFY(o.clientSend()->isVisible());
    o.clientSend()->Memo1->setPlainText(QStringLiteral("from the window"));
    o.clientSend()->SpeedButton2Click();
    QVERIFY(o.clientPrompter.said.empty());
    QVERIFY(o.tickUntil([&] { return a.got("from the window") && received.count() > before; }));
    o.settle([&] {
        return linesWith(o.clientSend()->memo2, QStringLiteral("from the window")) > 1 ||
               linesWith(o.serverSend()->memo2, QStringLiteral("from the window")) > 1 || o.clientSounds.size() > 1;
    });
    QCOMPARE(linesWith(o.clientSend()->memo2, QStringLiteral("from the window")), 1);
    QVERIFY(o.clientSend()->memo2->lineText(o.clientSend()->memo2->lineCount() - 1)
                .endsWith(QStringLiteral(" to All clients >from the window")));
    QCOMPARE(o.clientSounds.size(), 1);  // the operator's message only
    QCOMPARE(linesWith(o.serverSend()->memo2, QStringLiteral("from the window")), 1);
}

void ChatTest::threeMessagesBetweenTwoTicksGiveOnePopupAndOneSound()
{
    Office o;
    Peer &a = o.peer("pc-a", "10.0.0.1");
    QVERIFY(o.tickUntil([&] { return o.allIn(); }));
    for (const char *t : {"one", "two", "three"})
        a.say("All", t);
    // All three in the operator's mailbox before the next tick.
    const auto *own = o.core->clients().clientList().front();
    QVERIFY(waitFor([&] { return std::count(own->Mailbox.begin(), own->Mailbox.end(), '\xE5') == 3; }));
    o.core->Timer1Timer();
    QCOMPARE(linesWith(o.serverSend()->memo2, QStringLiteral("< pc-a: >")), 3);
    QCOMPARE(o.serverSounds.size(), 1);
    QVERIFY(o.server->messageAlert()->popup()->isVisible());
    QVERIFY(waitFor([&] { return linesWith(o.clientSend()->memo2, QStringLiteral("< pc-a: >")) == 3; }));
    QCOMPARE(o.clientSounds.size(), 1);
    QVERIFY(o.client->messageAlert()->popup()->isVisible());
}

void ChatTest::aFocusedInputGetsTheSoundButNoPopup()
{
    Office o;
    Peer &a = o.peer("pc-a", "10.0.0.1");
    QVERIFY(o.tickUntil([&] { return o.allIn(); }));
    struct Side {
        TFsend *w;
        widgets::NewMessageAlert *alert;
        QStringList *sounds;
    };
    const Side sides[] = {{o.serverSend(), o.server->messageAlert(), &o.serverSounds},
                          {o.clientSend(), o.client->messageAlert(), &o.clientSounds}};
    auto everywhere = [&](const QString &text) {
        return linesWith(o.serverSend()->memo2, text) == 1 && linesWith(o.clientSend()->memo2, text) == 1;
    };
    int n = 0;
    for (const Side &side : sides) {
        side.w->openWithList();
        QApplication::setActiveWindow(side.w);
        side.w->Memo1->setFocus();
        QVERIFY(waitFor([&] { return side.w->Memo1->hasFocus(); }));
        side.alert->popup()->hide();
        const qsizetype before = side.sounds->size();
        const QString typing = QStringLiteral("while typing %1").arg(++n);
        a.say("All", typing.toStdString());
        QVERIFY(o.tickUntil([&] { return everywhere(typing); }));
        QCOMPARE(side.sounds->size(), before + 1);
        QVERIFY(!side.alert->popup()->isVisible());

        // Away from the window: the popup again.
        side.w->hide();
        QVERIFY(!side.w->inputHasFocus());
        const QString away = QStringLiteral("away %1").arg(n);
        a.say("All", away.toStdString());
        QVERIFY(o.tickUntil([&] { return everywhere(away); }));
        QCOMPARE(side.sounds->size(), before + 2);
        QVERIFY(side.alert->popup()->isVisible());
    }
}

void ChatTest::menusOpenTheWindowForTheChosenClientAndTheListsFollow()
{
    Office o;
    o.peer("pc-a", "10.0.0.1");
    o.peer("pc-b", "10.0.0.2");
    QVERIFY(o.tickUntil([&] { return o.allIn() && o.clientListed(4); }));

    // Server: the client list page's right-click menu.
    auto *lv = o.server->findChild<QTreeWidget *>(QStringLiteral("Lvclient"));
    lv->setCurrentItem(lv->findItems(QStringLiteral("10.0.0.2"), Qt::MatchExactly, 1).value(0));
    o.server->PopupMenu3Popup();
    auto *item = o.server->clientMenu()->findChild<QAction *>(QStringLiteral("sendmessage3"));
    QCOMPARE(item->text(), QStringLiteral("send message to pc-b"));
    item->trigger();
    QVERIFY(o.serverSend()->isVisible());
    QCOMPARE(o.serverSend()->width(), TFsend::NarrowWidth);
    QCOMPARE(o.serverSend()->Lbremoteip->text(), QStringLiteral("10.0.0.2"));
    QCOMPARE(o.serverSend()->Label3->text(), QStringLiteral("Send message to : pc-b        IP address :10.0.0.2"));

    // Client: its main window's list, columns and context menu.
    QTreeWidget *list = o.client->Lvclient;
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Client name"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("Ip address"));
    QCOMPARE(list->headerItem()->text(2), QStringLiteral("Lock status"));
    QCOMPARE(list->toolTip(), QStringLiteral("List of connected client"));
    QTreeWidgetItem *pcA = list->findItems(QStringLiteral("pc-a"), Qt::MatchExactly, 0).value(0);
    QVERIFY(pcA);
    QCOMPARE(pcA->text(1), QStringLiteral("10.0.0.1"));
    QCOMPARE(pcA->text(2), QStringLiteral("free"));
    QVERIFY(list->topLevelItem(0)->text(0).startsWith(QStringLiteral("Admin@")));
    list->setCurrentItem(pcA);
    o.client->PopupMenu2Popup();
    QAction *to = o.client->clientMenu()->actions().front();
    QCOMPARE(to->text(), QStringLiteral("send message to pc-a"));
    to->trigger();
    QVERIFY(o.clientSend()->isVisible());
    QCOMPARE(o.clientSend()->list->objectName(), QStringLiteral("Lvclient"));
    QCOMPARE(o.clientSend()->Lbremoteip->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(o.clientSend()->Lbremotename->text(), QStringLiteral("pc-a"));
    QCOMPARE(o.clientSend()->width(), TFsend::NarrowWidth);
    o.clientSend()->hide();
    // So do the tray item and the popup's link.
    QAction *tray = o.client->trayMenu()->findChild<QAction *>(QStringLiteral("sendmessage2"));
    QVERIFY(tray && tray->isEnabled());
    tray->trigger();
    QVERIFY(o.clientSend()->isVisible());
    QCOMPARE(o.clientSend()->width(), TFsend::WideWidth);
    o.clientSend()->hide();
    emit o.client->messageAlert()->popup()->text->linkActivated(QStringLiteral("read"));
    QVERIFY(o.clientSend()->isVisible());

    // A disconnect empties both lists; sending then fails in an error box and
    // leaves the message and its recipient as they were.
    o.client->Button3Click();
    QVERIFY(waitFor([&] { return o.clientListed(0); }));
    o.clientSend()->openFor("pc-a", "10.0.0.1");
    o.clientSend()->Memo1->setPlainText(QStringLiteral("anyone there?"));
    o.clientSend()->SpeedButton1Click();
    QCOMPARE(o.clientPrompter.said.size(), std::size_t(1));
    QCOMPARE(o.clientPrompter.said[0].kind, Prompter::Kind::Error);
    QCOMPARE(o.clientPrompter.said[0].text, std::string("Not connected to server"));
    QCOMPARE(o.clientSend()->Memo1->toPlainText(), QStringLiteral("anyone there?"));
    QCOMPARE(o.clientSend()->Lbremoteip->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(linesWith(o.clientSend()->memo2, QStringLiteral("anyone there?")), 0);
}

QTEST_MAIN(ChatTest)
#include "ChatTest.moc"
