// The main window offscreen, with a scripted prompter and a fake server.

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTcpServer>
#include <QTreeWidget>

#include "support/ScriptedPrompter.h"
#include "support/FakeServer.h"
#include "support/Wait.h"
#include "client/core/SavedLogin.h"
#include "client/ui/TFmain.h"
#include "client/ui/TFpassword.h"
#include "widgets/AccessibleNames.h"
#include "widgets/TFsend.h"
#include "widgets/TFtip.h"

using namespace velora;
using namespace velora::client::core;
using namespace velora::client::ui;
using namespace velora::test;

class TFmainTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<FakeServer> server_;
    std::unique_ptr<ClientSettings> settings_;
    std::unique_ptr<ClientSession> session_;
    std::unique_ptr<ScriptedPrompter> prompter_;
    std::unique_ptr<TFmain> w_;

    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto &s : prompter_->said)
            out.push_back(s.text);
        return out;
    }
    void writeConfig(const QByteArray &bytes)
    {
        QDir().mkpath(dir_.path() + QStringLiteral("/config"));
        QFile f(settings_->configFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    void connectAndWaitForStatus()
    {
        QSignalSpy status(session_.get(), &ClientSession::statusReceived);
        w_->Button1Click();
        QVERIFY(status.wait(3000));
    }
    void pushStatus(const std::string &text, const std::string &lock = "free", const std::string &own = "free",
                    const std::string &seconds = "0")
    {
        server_->status.statusText = text;
        server_->status.lockStatus = lock;
        server_->status.ownLock = own;
        server_->status.secondsOnline = seconds;
        server_->status.activeEntry = text == "Connected" ? "Office" : "--";
        server_->status.speedValue = text == "Connected" ? "115200" : "--";
        QSignalSpy status(session_.get(), &ClientSession::statusReceived);
        server_->pushStatus();
        QVERIFY(status.wait(2000));
    }
    bool trayEnabled(const char *name) const
    {
        for (QAction *a : w_->trayMenu()->actions())
            if (a->objectName() == QLatin1String(name))
                return a->isEnabled() && a->isVisible();
        return false;
    }

private slots:
    void init()
    {
        server_ = std::make_unique<FakeServer>();
        QVERIFY(server_->listen());
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path());
        settings_ = std::make_unique<ClientSettings>(dir_.path(), dir_.path() + QStringLiteral("/auto.desktop"));
        session_ = std::make_unique<ClientSession>(*settings_);
        prompter_ = std::make_unique<ScriptedPrompter>();
        w_ = std::make_unique<TFmain>(*settings_, *session_, *prompter_);
        w_->urlOpener = [](const QUrl &) { return true; };
        writeConfig(QByteArray("127.0.0.1\r\n") + QByteArray::number(server_->port()) + "\r\n2\r\nHome\r\n0\r\n0\r\n0\r\n0\r\n");
        SavedLogin s(settings_->savedLoginFile());
        s.remember("alice", "secret");
        QVERIFY(s.save());
        w_->show();
    }
    void cleanup()
    {
        w_.reset();
        session_.reset();
        server_.reset();
    }

    void commandsWithoutConnection()
    {
        prompter_->answers = {Prompter::Button::Yes};
        w_->Button2Click();
        w_->Button4Click();
        w_->Button5Click();
        w_->SpeedButton2Click();
        w_->hangup1Click();       // no box of its own
        w_->SpeedButton1Click();  // no box of its own
        w_->zanfel(0);            // no entry at that place: nothing at all
        const auto said = texts();
        QCOMPARE(said.size(), 5u);
        QCOMPARE(std::count(said.begin(), said.end(), std::string("Not connected to server")), 4);
        QCOMPARE(said[3], std::string("Do you want to shutdown server computer ? "));
    }

    void statusTextCases()
    {
        connectAndWaitForStatus();
        QVERIFY(w_->Image3->isVisible());
        QVERIFY(!w_->Image6->isVisible());
        QVERIFY(!w_->Button1->isVisible());
        QVERIFY(w_->Button3->isVisible());
        QCOMPARE(w_->connect1->text(), QStringLiteral("disconnect"));

        // READY; no speed yet, so the hint is the status text until the clock ticks.
        QCOMPARE(w_->trayHint(), QStringLiteral("READY"));
        w_->Timer3Timer();
        QCOMPARE(w_->trayHint(), QStringLiteral("Status : READY\nConnected via : --\nSpeed : 0\nTime Online : --"));
        QVERIFY(w_->Button2->isVisible() && w_->Button2->isEnabled());
        QVERIFY(!w_->Button4->isVisible());
        QVERIFY(trayEnabled("dial1"));
        QVERIFY(!trayEnabled("hangup1"));
        QVERIFY(w_->Image2->isVisible() && !w_->Image1->isVisible());
        QCOMPARE(w_->trayImage(), 2);
        QCOMPARE(w_->Label4->text(), QStringLiteral("--"));
        QCOMPARE(w_->Label1->text(), QStringLiteral("READY"));

        // Connected: the clock goes on from item 13.
        pushStatus("Connected", "free", "free", "3599");
        QVERIFY(w_->Button4->isVisible() && w_->Button4->isEnabled());
        QVERIFY(!w_->Button2->isVisible());
        QVERIFY(trayEnabled("hangup1"));
        QVERIFY(!trayEnabled("dial1"));
        QVERIFY(w_->Image1->isVisible() && !w_->Image2->isVisible());
        QCOMPARE(w_->trayImage(), 1);
        QCOMPARE(w_->Label8->text(), QStringLiteral("Office"));
        w_->Timer3Timer();
        QCOMPARE(w_->Label4->text(), QStringLiteral("1:0:0"));
        QVERIFY(w_->trayHint().startsWith(QStringLiteral("Status : Connected\nConnected via : Office")));

        // Any other text
        pushStatus("Dialing");
        QVERIFY(w_->Button4->isVisible());
        QVERIFY(trayEnabled("hangup1"));
        QCOMPARE(w_->trayImage(), 2);
        w_->Timer3Timer();
        QCOMPARE(w_->Label4->text(), QStringLiteral("1:0:0"));

        // Locked by us: lock icon, no dialing, Unlock shown.
        pushStatus("READY", "locked", "locking");
        QVERIFY(w_->Image7->isVisible());
        QVERIFY(!w_->Button2->isEnabled());
        QVERIFY(!trayEnabled("dial1") && !trayEnabled("hangup1"));
        QVERIFY(w_->Button5a->isVisible() && !w_->Button5->isVisible());
        w_->Button5Click();
        QCOMPARE(w_->Label1->text(), QStringLiteral("Unlocking..."));
        QTRY_COMPARE(server_->count("lock\xE0"), 1);
    }

    void entryListsAreReplaced()
    {
        connectAndWaitForStatus();
        QCOMPARE(w_->ComboBox1->count(), 3);
        QCOMPARE(w_->combodefault->count(), 3);
        QCOMPARE(w_->dialMenu()->actions().size(), 3);
        QCOMPARE(w_->ComboBox1->currentText(), QStringLiteral("Home"));  // default entry kept
        server_->status.entryNames = {"One", "Two"};
        pushStatus("READY");
        QCOMPARE(w_->ComboBox1->count(), 2);
        QCOMPARE(w_->combodefault->count(), 2);
        QCOMPARE(w_->dialMenu()->actions().size(), 2);
        QCOMPARE(w_->dialMenu()->actions().at(1)->text(), QStringLiteral("Two"));

        // A tray entry dials the entry at its place, and the line follows.
        w_->dialMenu()->actions().at(1)->trigger();
        QCOMPARE(w_->Label1->text(), QStringLiteral("Dialing..."));
        QVERIFY(w_->Button4->isVisible());
        QTRY_COMPARE(server_->count("dial\xE0Two\xE0" + session_->localHostName() + "\xE0"), 1);
        QTRY_COMPARE(w_->Label1->text(), QStringLiteral("Connected"));

        w_->Button3Click();
        QCOMPARE(w_->Label1->text(), QStringLiteral("Disconnected from server"));
        QCOMPARE(w_->Label8->text(), QStringLiteral("--"));
        QCOMPARE(w_->ComboBox1->count(), 0);
        QCOMPARE(w_->ComboBox1->currentText(), QString());
        QCOMPARE(w_->dialMenu()->actions().size(), 0);
        QCOMPARE(w_->trayImage(), 0);
        QVERIFY(w_->Image6->isVisible() && !w_->Image3->isVisible());
        QCOMPARE(w_->connect1->text(), QStringLiteral("connect"));
    }

    void anEntryIsAlwaysChosenBeforeDialling()
    {
        writeConfig(QByteArray("127.0.0.1\r\n") + QByteArray::number(server_->port()) + "\r\n2\r\n\r\n0\r\n0\r\n0\r\n0\r\n");
        server_->playDial = false;  // a line in use would be the entry shown
        connectAndWaitForStatus();
        QVERIFY(!w_->ComboBox1->isEditable());
        QCOMPARE(w_->ComboBox1->currentText(), QStringLiteral("Office"));  // no default: the first
        w_->ComboBox1->setCurrentIndex(2);
        w_->Button2Click();
        QTRY_COMPARE(server_->count("dial\xE0" "Backup\xE0" + session_->localHostName() + "\xE0"), 1);
        w_->Button3Click();
        connectAndWaitForStatus();
        QCOMPARE(w_->ComboBox1->currentText(), QStringLiteral("Backup"));  // the last one dialled
        QCOMPARE(w_->combodefault->count(), 3);
        w_->Button3Click();

        writeConfig(QByteArray("127.0.0.1\r\n") + QByteArray::number(server_->port()) + "\r\n2\r\nHome\r\n0\r\n0\r\n0\r\n0\r\n");
        connectAndWaitForStatus();
        QCOMPARE(w_->ComboBox1->currentText(), QStringLiteral("Home"));  // the default wins

        // Nothing to dial: said, and nothing sent.
        server_->status.entryNames.clear();
        pushStatus("READY");
        QCOMPARE(w_->ComboBox1->currentIndex(), -1);
        auto dials = [this] {
            return std::count_if(server_->received.begin(), server_->received.end(),
                                 [](const std::string &l) { return l.rfind("dial\xE0", 0) == 0; });
        };
        const auto before = dials();
        w_->Button2Click();
        QCOMPARE(texts(), std::vector<std::string>{"You have not choose an entry yet"});
        QVERIFY(!waitFor([&] { return dials() > before; }, 100));
    }

    void aLostSessionComesBackByItself()
    {
        connectAndWaitForStatus();
        QSignalSpy lost(session_.get(), &ClientSession::connectionLost);
        server_->dropClients();
        QVERIFY(lost.wait(3000));
        QCOMPARE(w_->Label1->text(), QStringLiteral("Disconnected from server"));
        QVERIFY(w_->connectHelp->isVisible());
        QVERIFY2(w_->connectHelpText->text().startsWith(QStringLiteral("Disconnected from server: ")),
                 qPrintable(w_->connectHelpText->text()));
        QVERIFY(w_->connectHelpText->text().contains(QStringLiteral("Connecting again in 2 s.")));
        QVERIFY(w_->Panelnormal->isVisible());
        QVERIFY(w_->Button3->isVisible() && !w_->Button1->isVisible());
        QVERIFY(session_->retryTimer().isActive());

        QSignalSpy status(session_.get(), &ClientSession::statusReceived);
        session_->retryTick();  // what the timer does
        QVERIFY(status.wait(3000));
        QCOMPARE(w_->Label1->text(), QStringLiteral("READY"));
        QVERIFY(!w_->connectHelp->isVisible());
        QCOMPARE(w_->ComboBox1->count(), 3);
        QCOMPARE(w_->combodefault->count(), 3);

        // Disconnect between the attempts stops them.
        server_->dropClients();
        QTRY_VERIFY(session_->retryTimer().isActive());
        w_->Button3Click();
        QVERIFY(!session_->retryTimer().isActive());
        QVERIFY(w_->Button1->isVisible() && !w_->Button3->isVisible());
        QVERIFY(!w_->connectHelp->isVisible());
    }

    void everyControlHasAName()
    {
        // What a screen reader (and the tests that drive the windows as a person) finds.
        QStringList nameless;
        for (QWidget *window : std::initializer_list<QWidget *>{w_.get(), w_->passwordWindow(), w_->sendWindow()}) {
            widgets::nameForAccessibility(window);
            for (QWidget *c : window->findChildren<QWidget *>()) {
                // Controls only: labels show their text, and a control's
                // own parts (a list's viewport, a combo's popup) are its.
                if (c->focusPolicy() == Qt::NoFocus || qobject_cast<QLabel *>(c) || c->window() != window ||
                    c->objectName().startsWith(QLatin1String("qt_")) ||
                    qobject_cast<QAbstractScrollArea *>(c->parentWidget()) ||
                    qobject_cast<QComboBox *>(c->parentWidget()))
                    continue;
                QAccessibleInterface *a = QAccessible::queryAccessibleInterface(c);
                if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
                    nameless << QString::fromLatin1(c->metaObject()->className()) + QLatin1Char(' ') + c->objectName();
            }
        }
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(QStringLiteral(", "))));
        QCOMPARE(QAccessible::queryAccessibleInterface(w_->IPWRITER1)->text(QAccessible::Name),
                 QStringLiteral("Server address :"));
        QCOMPARE(QAccessible::queryAccessibleInterface(w_->edport)->text(QAccessible::Name),
                 QStringLiteral("Server port :"));
        QCOMPARE(QAccessible::queryAccessibleInterface(w_->Button1)->text(QAccessible::Name), QStringLiteral("Connect"));
        QCOMPARE(QAccessible::queryAccessibleInterface(w_->Lvclient)->text(QAccessible::Name), QStringLiteral("Lvclient"));
        QCOMPARE(QAccessible::queryAccessibleInterface(w_->Image6)->text(QAccessible::Name), QStringLiteral("Image6"));
        QCOMPARE(w_->Label1->accessibleName(), QString());  // a label keeps showing its text
    }

    void hugeListsDoNotFloodTheWindow()
    {
        connectAndWaitForStatus();
        server_->status.entryNames.clear();
        for (int i = 0; i < 20000; ++i) {
            server_->status.entryNames.push_back("entry " + std::to_string(i));
            server_->status.clientNames.push_back("pc" + std::to_string(i));
            server_->status.clientLocks.push_back("free");
            server_->status.clientAddresses.push_back("10.0.0.1");
        }
        pushStatus("READY");
        // An office has a handful of each; tens of thousands of menu items
        // and rows would hold the window for seconds on every record.
        QVERIFY(w_->ComboBox1->count() <= 500);
        QVERIFY(w_->ComboBox1->count() >= 100);
        QCOMPARE(w_->ComboBox1->itemText(0), QStringLiteral("entry 0"));
        QCOMPARE(w_->dialMenu()->actions().size(), w_->ComboBox1->count());
        QCOMPARE(w_->combodefault->count(), w_->ComboBox1->count());
        QVERIFY(w_->Lvclient->topLevelItemCount() <= 1000);
        QVERIFY(w_->Lvclient->topLevelItemCount() >= 100);
        QCOMPARE(w_->Label1->text(), QStringLiteral("READY"));
    }

    void theLockHolderAndSinceWhenAreShown()
    {
        connectAndWaitForStatus();
        server_->status.clientNames = {"Admin@srv", "pc1"};
        server_->status.clientAddresses = {"10.0.0.9", "10.0.0.1"};
        server_->status.clientLocks = {"free", "locking"};
        const QString before = QTime::currentTime().toString(QStringLiteral("HH:mm"));
        pushStatus("READY", "locked");
        const QString after = QTime::currentTime().toString(QStringLiteral("HH:mm"));
        QCOMPARE(w_->Lvclient->headerItem()->text(3), QStringLiteral("Locked since"));
        const QString since = w_->Lvclient->topLevelItem(1)->text(3);
        QVERIFY2(since == before || since == after, qPrintable(since));
        QCOMPARE(w_->Lvclient->topLevelItem(0)->text(3), QString());
        QCOMPARE(w_->LbLockedBy->text(), QStringLiteral("locked by pc1 since ") + since);
        server_->status.clientLocks = {"free", "free"};
        pushStatus("READY");
        QCOMPARE(w_->Lvclient->topLevelItem(1)->text(3), QString());
        QCOMPARE(w_->LbLockedBy->text(), QString());
    }

    void reconnectingWhileTheHandshakeErrorIsShown()
    {
        // The error box waits for the person in an event loop of its own; the
        // tray's "connect" still works meanwhile, and that login must go through.
        struct Reconnecting : ScriptedPrompter {
            ClientSession *session = nullptr;
            FakeServer *server = nullptr;
            bool accepted = false;
            void tell(Kind kind, const std::string &text, const std::string &caption = {}) override
            {
                ScriptedPrompter::tell(kind, text, caption);
                if (text.rfind("Handshake error", 0) != 0 || !session)
                    return;
                server->rawReply.clear();
                QSignalSpy ok(session, &ClientSession::loginAccepted);
                session->executeconnect(1);
                accepted = ok.wait(3000);
            }
        } prompter;
        prompter.session = session_.get();
        prompter.server = server_.get();
        TFmain w(*settings_, *session_, prompter);
        server_->rawReply = "HELLO\xE0";
        w.Button1Click();
        QTRY_VERIFY(!prompter.said.empty());
        QVERIFY(prompter.accepted);
        QCOMPARE(session_->state(), ClientSession::State::InSession);
    }

    void withoutDialPrivilege()
    {
        server_->dialHangup = "0";
        server_->shutdown = "0";
        connectAndWaitForStatus();
        QVERIFY(!w_->Button2->isEnabled());
        QCOMPARE(w_->Button2->toolTip(), QStringLiteral("you do not have privilege to dial a connection"));
        QVERIFY(!w_->dialMenu()->menuAction()->isVisible());
        QVERIFY(!w_->hangup1->isVisible());
        QVERIFY(!w_->SpeedButton2->isEnabled());
        QVERIFY(w_->SpeedButton1->isEnabled());
    }

    void shutdownAsksFirst()
    {
        connectAndWaitForStatus();
        prompter_->answers = {Prompter::Button::Cancel, Prompter::Button::Yes};
        w_->SpeedButton2Click();
        w_->SpeedButton2Click();
        QTRY_COMPARE(server_->count("shutdown\xE0"), 1);
        QCOMPARE(w_->Label1->text(), QStringLiteral("Shutdown request sent to the server."));
        QCOMPARE(prompter_->said.size(), 2u);
        // Enter on the question must not shut the server down.
        QCOMPARE(prompter_->said[0].defaultButton, std::optional(Prompter::Button::Cancel));
    }

    void ignoredCommandsFallBackToTheLastRecord()
    {
        server_->playDial = false;  // the server ignores dial and hang-up
        connectAndWaitForStatus();
        w_->ComboBox1->setEditText(QString());
        w_->Button2Click();
        QCOMPARE(w_->Label1->text(), QStringLiteral("Dialing..."));
        QVERIFY(w_->Button4->isVisible() && !w_->Button2->isVisible());
        QVERIFY(w_->followUpTimer().isActive());
        QCOMPARE(w_->followUpTimer().interval(), TFmain::FollowUpMs);
        w_->restoreView();  // what the timer does when no record came
        QCOMPARE(w_->Label1->text(), QStringLiteral("READY"));
        QVERIFY(w_->Button2->isVisible() && !w_->Button4->isVisible());

        // Hang-up while idle, from the tray's dial item then the button.
        w_->zanfel(0);
        w_->Button4Click();
        QCOMPARE(w_->Label1->text(), QStringLiteral("Trying to hangup...."));
        w_->restoreView();
        QCOMPARE(w_->Label1->text(), QStringLiteral("READY"));
        QVERIFY(w_->Button2->isVisible());

        // A record in time makes the fall-back needless.
        server_->playDial = true;
        w_->Button2Click();
        QTRY_COMPARE(w_->Label1->text(), QStringLiteral("Connected"));
        QVERIFY(!w_->followUpTimer().isActive());

        // After a disconnect there is nothing to fall back to.
        w_->Button4Click();
        w_->Button3Click();
        w_->restoreView();
        QCOMPARE(w_->Label1->text(), QStringLiteral("Disconnected from server"));
    }

    void firstUseFindsTheConfiguration()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 deadPort = closed.serverPort();
        closed.close();
        writeConfig(QByteArray("127.0.0.1\r\n") + QByteArray::number(deadPort) + "\r\n\r\n\r\n0\r\n0\r\n0\r\n0\r\n");
        QSignalSpy failed(session_.get(), &ClientSession::connectFailed);
        w_->Button1Click();
        QVERIFY(failed.wait(3000));
        QCOMPARE(w_->Label1->text(), QStringLiteral("cannot connect to server"));
        QVERIFY(w_->connectHelp->isVisible());
        QVERIFY(w_->connectHelpText->text().contains(QStringLiteral("127.0.0.1:%1").arg(deadPort)));
        QVERIFY(w_->connectHelpText->text().contains(QStringLiteral("Configuration panel")));
        w_->openConfiguration->click();
        QVERIFY(w_->Panelconfig->isVisible() && w_->Configuration2->isChecked());

        w_->edport->setText(QString::number(server_->port()));
        w_->Button6Click();
        QCOMPARE(w_->savedNotice->text(), QStringLiteral("Configuration saved."));
        QVERIFY(prompter_->said.empty());
        connectAndWaitForStatus();
        QVERIFY(w_->Panelnormal->isVisible() && !w_->Panelconfig->isVisible());
        QVERIFY(!w_->connectHelp->isVisible());
    }

    void loginWindowSaysWhyAndCancels()
    {
        SavedLogin s(settings_->savedLoginFile());
        s.remember("alice", "wrong");
        QVERIFY(s.save());
        w_->Button1Click();
        TFpassword *p = w_->passwordWindow();
        QTRY_VERIFY(p->isVisible());
        QVERIFY(p->failureLabel->isVisible());
        QCOMPARE(p->failureLabel->text(), QStringLiteral("Fail to connect, wrong username/password"));
        p->Edit1->setText(QStringLiteral("alice"));
        p->CheckBox1->setChecked(false);
        p->cancelButton->click();
        QVERIFY(!p->isVisible());
        // A login that Cancel started would be connecting by now.
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);
        QCOMPARE(server_->connections, 1);
        SavedLogin again(settings_->savedLoginFile());
        QVERIFY(again.load() && again.remembered()->password == "wrong");

        w_->Userpassword2Click();  // edit mode has no failure to tell
        QVERIFY(!p->failureLabel->isVisible());
    }

    void reconnectWhileConnectedShowsTheEntries()
    {
        writeConfig(QByteArray("127.0.0.1\r\n") + QByteArray::number(server_->port()) + "\r\n2\r\n\r\n0\r\n0\r\n0\r\n0\r\n");
        server_->status.statusText = "Connected";
        server_->status.activeEntry = "Home";
        server_->status.secondsOnline = "75";
        for (int round = 0; round < 2; ++round) {
            connectAndWaitForStatus();
            QCOMPARE(w_->Label8->text(), QStringLiteral("Home"));
            QCOMPARE(w_->ComboBox1->count(), 3);
            QCOMPARE(w_->ComboBox1->currentText(), QStringLiteral("Home"));
            QCOMPARE(w_->dialMenu()->actions().size(), 3);
            w_->Button3Click();
        }
    }

    void commandsOffWhileDisconnected()
    {
        auto enabled = [this] {
            return std::vector<bool>{w_->Button2->isEnabled(), w_->Button4->isEnabled(), w_->Button5->isEnabled(),
                                     w_->Button5a->isEnabled(), w_->SpeedButton2->isEnabled()};
        };
        const std::vector<bool> none(5, false), all(5, true);
        QCOMPARE(enabled(), none);
        connectAndWaitForStatus();
        QCOMPARE(enabled(), all);
        w_->Button3Click();
        QCOMPARE(enabled(), none);
    }

    void shippedTipsFromTheHelpMenu()
    {
        QVERIFY(!QFile::exists(settings_->tipFile()));
        w_->ipoftheday1->trigger();
        QVERIFY(w_->tipWindow()->isVisible());
        QVERIFY(w_->tipWindow()->tips().size() >= 3);
        QVERIFY(!w_->tipWindow()->Label2->text().isEmpty());
    }

    void firstLoginAsksBeforeAnythingGoesOut()
    {
        SavedLogin s(settings_->savedLoginFile());
        s.forget();
        QVERIFY(s.save());
        w_->Button1Click();
        TFpassword *p = w_->passwordWindow();
        QTRY_VERIFY(p->isVisible());
        QCOMPARE(p->mode(), TFpassword::Mode::Login);
        QCOMPARE(p->windowTitle(), QStringLiteral("Log in to the Velora server"));
        QVERIFY(!p->failureLabel->isVisible());
        QVERIFY(p->width() >= p->fontMetrics().horizontalAdvance(p->windowTitle()) + 100);
        QCOMPARE(server_->connections, 0);

        // No name, no login.
        p->SpeedButton1Click();
        QVERIFY(p->isVisible());
        QCOMPARE(p->failureLabel->text(), QStringLiteral("Enter your user name."));
        QCOMPARE(server_->connections, 0);

        p->Edit1->setText(QStringLiteral("alice"));
        p->Edit2->setText(QStringLiteral("secret"));
        QSignalSpy accepted(session_.get(), &ClientSession::loginAccepted);
        p->SpeedButton1Click();
        QVERIFY(accepted.wait(3000));
        QVERIFY(!p->isVisible());
        QCOMPARE(server_->loginLines.size(), 1u);
        QCOMPARE(wire::at(wire::parseCommandLine(server_->loginLines[0]), 3), std::string("alice"));
    }

    void refusedLoginOpensRetryWindow()
    {
        SavedLogin s(settings_->savedLoginFile());
        s.forget();
        QVERIFY(s.save());
        session_->setTypedLogin("alice", "wrong");
        w_->Button1Click();
        TFpassword *p = w_->passwordWindow();
        QTRY_VERIFY(p->isVisible());
        QCOMPARE(p->windowTitle(), QStringLiteral("Fail to connect, wrong username/password"));
        QCOMPARE(p->mode(), TFpassword::Mode::Retry);
        QVERIFY(!p->CheckBox1->isChecked());
        QVERIFY(p->width() >= p->fontMetrics().horizontalAdvance(p->windowTitle()) + 100);

        // OK with "save" checked remembers the login and connects again.
        p->Edit1->setText(QStringLiteral("alice"));
        p->Edit2->setText(QStringLiteral("secret"));
        p->CheckBox1->setChecked(true);
        QSignalSpy accepted(session_.get(), &ClientSession::loginAccepted);
        p->SpeedButton1Click();
        QVERIFY(accepted.wait(3000));
        SavedLogin again(settings_->savedLoginFile());
        QVERIFY(again.load());
        QCOMPARE(again.remembered()->user, std::string("alice"));
        QVERIFY(p->Edit1->text().isEmpty());  // the fields are emptied at login
    }

    void editModeClearingAsks()
    {
        w_->Userpassword2Click();
        TFpassword *p = w_->passwordWindow();
        QCOMPARE(p->windowTitle(), QStringLiteral("Edit User/password"));
        QCOMPARE(p->Edit1->text(), QStringLiteral("alice"));
        QCOMPARE(p->Edit2->text(), QStringLiteral("secret"));
        p->CheckBox1->setChecked(false);
        prompter_->answers = {Prompter::Button::Ok};
        p->SpeedButton1Click();
        QVERIFY(prompter_->said.at(0).text.starts_with("The user/password information will be cleared."));
        SavedLogin s(settings_->savedLoginFile());
        QVERIFY(s.load());
        QVERIFY(s.empty());
    }

    void settingsPanelAndClosing()
    {
        w_->loadcfg();
        QCOMPARE(w_->IPWRITER1->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(w_->combodefault->currentText(), QStringLiteral("Home"));
        w_->edport->setText(QStringLiteral("abc"));
        w_->Button6Click();
        QVERIFY(prompter_->said.empty());  // not connected: saved silently
        w_->Button1Click();                // the bad port cannot connect
        QCOMPARE(prompter_->said.size(), 1u);
        QVERIFY(prompter_->said[0].text.find("abc") != std::string::npos);
        QCOMPARE(session_->state(), ClientSession::State::Disconnected);

        w_->edport->setText(QString::number(server_->port()));
        w_->Button6Click();
        connectAndWaitForStatus();
        w_->Button6Click();
        QCOMPARE(prompter_->said.back().text, std::string("disconnet and reconnect again to activate configuration"));

        w_->Showhelp1Click();
        QVERIFY(prompter_->said.back().text.find("client help/client.html") != std::string::npos);

        w_->showPanel(TFmain::PanelTask);
        QVERIFY(w_->Paneltask->isVisible() && !w_->Panelnormal->isVisible());
        QVERIFY(w_->Task1->isChecked() && !w_->Mainwindow1->isChecked());

        QSignalSpy closing(w_.get(), &TFmain::closeConfirmed);
        prompter_->answers = {Prompter::Button::Cancel, Prompter::Button::Yes};
        QVERIFY(!w_->close());
        QVERIFY(w_->isVisible());
        QVERIFY(w_->close());
        QCOMPARE(closing.count(), 1);
        QCOMPARE(prompter_->said.back().text, std::string("Do you want to close application ?"));
    }

    void startupStepConnectsAndShowsTips()
    {
        writeConfig(QByteArray("127.0.0.1\r\n") + QByteArray::number(server_->port()) +
                    "\r\n\r\nHome\r\n1\r\n0\r\n0\r\n1\r\n");
        QFile tips(settings_->tipFile());
        QVERIFY(tips.open(QIODevice::WriteOnly));
        tips.write("A\nB\n#\nC\n#\n");
        tips.close();
        // The tip window read its (then missing) file when it was made.
        QCOMPARE(w_->tipWindow()->tips().size(), 0u);
        QSignalSpy accepted(session_.get(), &ClientSession::loginAccepted);
        w_->Timer2Timer();
        QVERIFY(accepted.wait(3000));
        QCOMPARE(session_->applied().pollIntervalMs, 1000);
        QVERIFY(w_->tipWindow()->isVisible());
        QVERIFY(w_->tipWindow()->CheckBox1->isChecked());

        widgets::TFtip fresh(settings_->tipFile().toStdString());
        fresh.show();  // the file is read on every show
        QCOMPARE(fresh.tips().size(), 2u);

        // Closed with the title bar or Escape instead of "Close": the cleared
        // check box must stick all the same.
        w_->tipWindow()->CheckBox1->setChecked(false);
        QVERIFY(w_->tipWindow()->close());
        QVERIFY(settings_->loadcfg());
        QCOMPARE(settings_->value(ClientSettings::ShowTips), std::string("0"));
        w_->ipoftheday1Click();
        w_->tipWindow()->CheckBox1->setChecked(true);
        QTest::keyClick(w_->tipWindow(), Qt::Key_Escape);
        QVERIFY(!w_->tipWindow()->isVisible());
        QVERIFY(settings_->loadcfg());
        QCOMPARE(settings_->value(ClientSettings::ShowTips), std::string("1"));
    }
};

QTEST_MAIN(TFmainTest)
#include "TFmainTest.moc"
