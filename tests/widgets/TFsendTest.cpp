// The shared send-message window, its history and the new-message alert,
// offscreen, with a scripted prompter and a recording sound player.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

#include "common/WireCodec.h"
#include "support/FakeSoundPlayer.h"
#include "support/ScriptedPrompter.h"
#include "support/Wait.h"
#include "widgets/ChatHistory.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"

using namespace velora;
using namespace velora::widgets;
using namespace velora::test;

namespace {

struct Sent {
    std::string recipient, record;
};

struct Rig {
    ScriptedPrompter prompter;
    std::vector<Sent> sent;
    std::optional<std::string> failWith;
    std::unique_ptr<TFsend> w;

    explicit Rig(const TFsend::Flavour &flavour, std::string name = "pc3", std::string address = "10.0.0.9")
    {
        w = std::make_unique<TFsend>(
            flavour, prompter, [name, address] { return TFsend::Identity{name, address}; },
            [this](const std::string &r, const std::string &rec) {
                if (!failWith)
                    sent.push_back({r, rec});
                return failWith;
            });
        w->show();
        w->setClients({{"alice", "10.0.0.1", "free"}, {"bob", "10.0.0.2", "locking"}});
    }
    void choose(int row)
    {
        QTreeWidgetItem *item = w->list->topLevelItem(row);
        w->list->setCurrentItem(item);
        w->listClick();
    }
    void send(const QString &text, int row = 0)
    {
        choose(row);
        w->Memo1->setPlainText(text);
        w->SpeedButton1Click();
    }
    int lines() const { return w->memo2->lineCount(); }
    QString line(int i) const { return w->memo2->lineText(i); }
    void receive(const std::string &name, const std::vector<std::string> &body, const std::string &addr = "10.0.0.5")
    {
        w->bacapesan({{addr, name, body}}, "10.0.0.9");
        w->flushBacklog();
    }
    std::vector<std::string> said() const
    {
        std::vector<std::string> out;
        for (const auto &s : prompter.said)
            out.push_back(s.text);
        return out;
    }
};

// The desktop's notification service, on a bus of the test's own.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList told;
    bool withActions = false;
    QStringList actions;
public slots:
    QStringList GetCapabilities()
    {
        return withActions ? QStringList{QStringLiteral("body"), QStringLiteral("actions")} : QStringList{};
    }
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &offered, const QVariantMap &, int)
    {
        told << summary + QLatin1Char('|') + body;
        actions = offered;
        return static_cast<uint>(told.size()) + 40;
    }
};

QColor blockColour(const QTextBlock &b)
{
    for (auto it = b.begin(); !it.atEnd(); ++it)
        if (!it.fragment().text().trimmed().isEmpty())
            return it.fragment().charFormat().foreground().color();
    return {};
}

}  // namespace

class TFsendTest : public QObject {
    Q_OBJECT
private slots:
    void oneLineMessagesFollowTheThirtyFourCharacterRule();
    void severalLinesEachGetALineOfTheirOwn();
    void sendingAddressesTheChosenClientOrAllAndResetsTheRecipient();
    void nothingLeavesWithoutARecipientAMessageOrAConnection();
    void typedSeparatorsNeverReachTheWire();
    void aClickOnASendersNameChoosesTheReplyRecipient();
    void historyKeepsTenThousandLinesAndFollowsOnlyAtTheBottom();
    void longRunsAreShownInSlicesAndOwnRecordsSkipped();
    void theListSlidesOpenAndClosedInSteps();
    void theAlertPopsUpOnlyWhenWantedAndAlwaysSounds();
    void theDesktopIsToldOnlyWhereThereIsASessionBus();
    void ctrlEnterSendsAndTheListHasNoOwnRow();
};

void TFsendTest::oneLineMessagesFollowTheThirtyFourCharacterRule()
{
    struct Case {
        const TFsend::Flavour *flavour;
        const char *sender;
        int length;
        int linesAfter;  // 1: stays on the header line
    };
    // Server: a 4-character sender; client: a 3-character one.
    const Case cases[] = {{&TFsend::Server, "Adm@", 30, 1}, {&TFsend::Server, "Adm@", 31, 2},
                          {&TFsend::Client, "bob", 5, 1},    {&TFsend::Client, "bob", 31, 1},
                          {&TFsend::Client, "bob", 32, 2}};
    for (const Case &c : cases) {
        const std::string text(static_cast<std::size_t>(c.length), 'x');
        // Received from that sender.
        Rig in(*c.flavour);
        in.receive(c.sender, {text});
        QCOMPARE(in.lines(), c.linesAfter);
        const QString header = QStringLiteral("< %1: >").arg(QLatin1String(c.sender));
        QCOMPARE(in.line(0), c.linesAfter == 1 ? header + QString::fromStdString(text) : header);
        // Echoed when that sender sends.
        Rig out(*c.flavour, c.sender);
        out.send(QString::fromStdString(text));
        QCOMPARE(out.lines(), c.linesAfter);
        QVERIFY(out.line(0).startsWith(QStringLiteral("< %1 to alice >").arg(QLatin1String(c.sender))));
        QCOMPARE(out.line(out.lines() - 1).endsWith(QString::fromStdString(text)), true);
    }
}

void TFsendTest::severalLinesEachGetALineOfTheirOwn()
{
    Rig r(TFsend::Client);
    r.send(QStringLiteral("hi\nyou"));
    QCOMPARE(r.lines(), 3);
    QCOMPARE(r.line(0), QStringLiteral("< pc3 to alice >"));
    QCOMPARE(r.line(1), QStringLiteral("hi"));
    QCOMPARE(r.line(2), QStringLiteral("you"));
    // The echo is in the memo's own colour.
    QVERIFY(!r.w->memo2->document()->findBlockByNumber(1).begin().fragment().charFormat().hasProperty(
        QTextFormat::ForegroundBrush));

    r.receive("carol", {"one", "two", "three"});
    QCOMPARE(r.lines(), 7);
    QCOMPARE(r.line(3), QStringLiteral("< carol: >"));
    QCOMPARE(r.w->memo2->linkTexts(3), QStringList{QStringLiteral("carol")});
    QCOMPARE(r.line(6), QStringLiteral("three"));
    for (int i = 3; i < 7; ++i)
        QCOMPARE(blockColour(r.w->memo2->document()->findBlockByNumber(i)), QColor(0, 0, 255));
    // A body without a line adds nothing after the header.
    r.receive("dave", {});
    QCOMPARE(r.lines(), 8);
    QCOMPARE(r.line(7), QStringLiteral("< dave: >"));
}

void TFsendTest::sendingAddressesTheChosenClientOrAllAndResetsTheRecipient()
{
    for (const TFsend::Flavour *f : {&TFsend::Server, &TFsend::Client}) {
        Rig r(*f);
        r.choose(1);
        QCOMPARE(r.w->Label3->text(), QStringLiteral("Send message to : bob        IP address :10.0.0.2"));
        QCOMPARE(r.w->Lbremoteip->text(), QStringLiteral("10.0.0.2"));
        // A new login rebuilds the list; the row pointed at stays so.
        r.w->setClients({{"carol", "10.0.0.3", "free"}, {"alice", "10.0.0.1", "free"}, {"bob", "10.0.0.2", "free"}});
        QCOMPARE(r.w->list->selectedItems().value(0)->text(0), QStringLiteral("bob"));
        r.w->Memo1->setPlainText(QStringLiteral("hi"));
        QTest::mouseClick(r.w->SpeedButton1, Qt::LeftButton);
        QCOMPARE(r.sent.size(), std::size_t(1));
        QCOMPARE(r.sent[0].recipient, std::string("10.0.0.2"));
        QCOMPARE(r.sent[0].record, std::string("10.0.0.9\xE3pc3\xE3hi\xE4\xE3\xE5"));
        QCOMPARE(r.line(0), QStringLiteral("< pc3 to bob >hi"));
        QVERIFY(r.w->Memo1->toPlainText().isEmpty());
        QCOMPARE(r.w->Lbremoteip->text(), QStringLiteral("--"));
        QCOMPARE(r.w->Label3->text(), QString::fromLatin1(f->recipientReset));
        // Every message needs its recipient chosen again.
        r.w->Memo1->setPlainText(QStringLiteral("again"));
        r.w->SpeedButton1Click();
        QCOMPARE(r.said(), std::vector<std::string>{"Select client name to send"});

        // "send All" wins over a chosen client.
        r.choose(0);
        r.w->Memo1->setPlainText(QStringLiteral("to everyone"));
        QTest::mouseClick(r.w->SpeedButton2, Qt::LeftButton);
        QCOMPARE(r.sent.back().recipient, std::string("All"));
        QCOMPARE(r.line(1), QStringLiteral("< pc3 to All clients >to everyone"));
        QCOMPARE(r.w->Lbremoteip->text(), QStringLiteral("--"));
    }
    QCOMPARE(QString::fromLatin1(TFsend::Server.recipientReset), QStringLiteral("You have not yet select a recepient"));
    QCOMPARE(QString::fromLatin1(TFsend::Client.recipientReset), QStringLiteral("You have not yet selected a recipient"));
}

void TFsendTest::nothingLeavesWithoutARecipientAMessageOrAConnection()
{
    Rig r(TFsend::Client);
    r.w->Memo1->setPlainText(QStringLiteral("hello"));
    r.w->SpeedButton1Click();
    r.choose(0);
    r.w->Memo1->clear();
    r.w->SpeedButton1Click();
    QCOMPARE(r.said(), (std::vector<std::string>{"Select client name to send", "No message to send"}));
    QCOMPARE(r.prompter.said[0].kind, Prompter::Kind::Information);
    QCOMPARE(r.prompter.said[1].kind, Prompter::Kind::Information);
    QVERIFY(r.sent.empty());

    // Without a connection: the error, and the message stays as it was.
    r.failWith = "Not connected to server";
    r.w->Memo1->setPlainText(QStringLiteral("hello"));
    r.w->SpeedButton1Click();
    QCOMPARE(r.prompter.said.back().kind, Prompter::Kind::Error);
    QCOMPARE(r.prompter.said.back().text, std::string("Not connected to server"));
    QCOMPARE(r.w->Memo1->toPlainText(), QStringLiteral("hello"));
    QCOMPARE(r.lines(), 0);
    QCOMPARE(r.w->Lbremoteip->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(r.w->Label3->text(), QStringLiteral("Send message to : alice        IP address :10.0.0.1"));
}

void TFsendTest::typedSeparatorsNeverReachTheWire()
{
    Rig r(TFsend::Server);
    // à â ã ä å typed inside lines.
    r.send(QString::fromUtf8("a\u00e0b\u00e2c\u00e3d\u00e4e\u00e5fg\nsecond \u00e4line"));
    QCOMPARE(r.sent.size(), std::size_t(1));
    const std::string &rec = r.sent[0].record;
    QCOMPARE(std::count(rec.begin(), rec.end(), '\xE3'), 3L);
    QCOMPARE(std::count(rec.begin(), rec.end(), '\xE4'), 2L);
    QCOMPARE(std::count(rec.begin(), rec.end(), '\xE5'), 1L);
    QCOMPARE(std::count(rec.begin(), rec.end(), '\xE0') + std::count(rec.begin(), rec.end(), '\xE2'), 0L);
    QCOMPARE(std::count(rec.begin(), rec.end(), '\r'), 0L);
    const auto parsed = wire::parseMessageRecords(rec);
    QCOMPARE(parsed.size(), std::size_t(1));
    QCOMPARE(parsed[0].bodyLines, (std::vector<std::string>{"abcdefg", "second line"}));
}

void TFsendTest::aClickOnASendersNameChoosesTheReplyRecipient()
{
    Rig r(TFsend::Client);
    r.w->resize(TFsend::NarrowWidth, TFsend::FormHeight);
    r.receive("carol", {"who left"});
    r.receive("alice", {"still here"});
    QVERIFY(waitFor([&] { return r.w->isVisible(); }));
    auto clickLink = [&](int line) {
        const QTextBlock b = r.w->memo2->document()->findBlockByNumber(line);
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            if (!it.fragment().charFormat().isAnchor())
                continue;
            QCOMPARE(it.fragment().charFormat().anchorHref(), QStringLiteral("zanfel"));
            QTextCursor c(r.w->memo2->document());
            c.setPosition(it.fragment().position() + 1);
            const QPoint at = r.w->memo2->cursorRect(c).center();
            QTest::mouseClick(r.w->memo2->viewport(), Qt::LeftButton, {}, at);
            return;
        }
        QFAIL("no link on the line");
    };
    // carol is not in the list any more: nothing changes.
    clickLink(0);
    QCOMPARE(r.w->Lbremoteip->text(), QStringLiteral("--"));
    QCOMPARE(r.w->Label3->text(), QStringLiteral("You have not yet selected a recipient"));
    clickLink(1);
    QCOMPARE(r.w->Lbremoteip->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(r.w->Lbremotename->text(), QStringLiteral("alice"));
    QCOMPARE(r.w->Label3->text(), QStringLiteral("Reply message to : alice        IP address :10.0.0.1"));
}

void TFsendTest::historyKeepsTenThousandLinesAndFollowsOnlyAtTheBottom()
{
    Rig r(TFsend::Server);
    ChatHistory *h = r.w->memo2;
    for (int i = 0; i < ChatHistory::MaxLines + 5; ++i)
        h->addLine(QStringLiteral("line %1").arg(i));
    QCOMPARE(h->lineCount(), ChatHistory::MaxLines);
    QCOMPARE(h->lineText(0), QStringLiteral("line 5"));
    QCOMPARE(h->lineText(ChatHistory::MaxLines - 1), QStringLiteral("line %1").arg(ChatHistory::MaxLines + 4));
    QScrollBar *bar = h->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(h->atBottom());

    // Scrolled away from the end: new lines leave the view where it is.
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(bar->value(), 0);
    r.receive("alice", {"new"});
    h->addLine(QStringLiteral("more"));
    QCOMPARE(bar->value(), 0);
    // Back at the end: the view follows again.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    h->addLine(QStringLiteral("follow"));
    r.receive("alice", {"newest"});
    QVERIFY(h->atBottom());
    QCOMPARE(h->lineCount(), ChatHistory::MaxLines);
}

void TFsendTest::longRunsAreShownInSlicesAndOwnRecordsSkipped()
{
    Rig r(TFsend::Client);
    std::vector<wire::MessageRecord> run;
    for (int i = 0; i < 500; ++i)
        run.push_back({"10.0.0.5", "alice", {"message " + std::to_string(i)}});
    run.push_back({"10.0.0.9", "pc3", {"my own"}});
    run.push_back({"", "nobody", {"no sender"}});
    QCOMPARE(r.w->bacapesan(run, "10.0.0.9"), 500);
    QVERIFY(r.lines() > 0);
    QVERIFY(waitFor([&] { return r.w->backlog() == 0; }));
    QCOMPARE(r.lines(), 500);
    QCOMPARE(r.line(0), QStringLiteral("< alice: >message 0"));
    QCOMPARE(r.line(499), QStringLiteral("< alice: >message 499"));
}

void TFsendTest::theListSlidesOpenAndClosedInSteps()
{
    Rig r(TFsend::Server);
    QCOMPARE(r.w->windowTitle(), QStringLiteral("send message"));
    QCOMPARE(r.w->Lbdari->text(), QStringLiteral("pc3"));
    QCOMPARE(r.w->Lblocalip->text(), QStringLiteral("10.0.0.9"));
    QCOMPARE(r.w->width(), TFsend::NarrowWidth);
    QCOMPARE(r.w->list->objectName(), QStringLiteral("Lvclient1"));
    QCOMPARE(r.w->Label1->text(), QStringLiteral("see client list >>"));
    std::vector<int> widths;
    QTest::mouseClick(r.w->Label1, Qt::LeftButton);
    // A timer moves it: nothing happened yet within the click.
    QCOMPARE(r.w->width(), TFsend::NarrowWidth);
    QVERIFY(waitFor([&] {
        if (widths.empty() || widths.back() != r.w->width())
            widths.push_back(r.w->width());
        return !r.w->sliding();
    }));
    QCOMPARE(r.w->width(), TFsend::WideWidth);
    QVERIFY(r.w->list->isVisible());
    QCOMPARE(r.w->Label1->text(), QStringLiteral("<< close client list"));
    QCOMPARE(r.w->Label1Tag(), 1);
    // Widths in between, each a multiple of six from the start.
    QVERIFY(std::any_of(widths.begin(), widths.end(), [](int w) { return w > 377 && w < 489; }));
    for (int w : widths)
        QVERIFY(w == TFsend::WideWidth || (w - TFsend::NarrowWidth) % TFsend::Step == 0);

    QTest::mouseClick(r.w->Label1, Qt::LeftButton);
    QVERIFY(waitFor([&] { return !r.w->sliding(); }));
    QCOMPARE(r.w->width(), TFsend::NarrowWidth);
    QVERIFY(!r.w->list->isVisible());
    QCOMPARE(r.w->Label1->text(), QStringLiteral("see client list >>"));
    QCOMPARE(r.w->Label1Tag(), 0);
}

void TFsendTest::theAlertPopsUpOnlyWhenWantedAndAlwaysSounds()
{
    QTemporaryDir dir;
    QFile wav(dir.filePath(QStringLiteral("notify.wav")));
    QVERIFY(wav.open(QIODevice::WriteOnly));
    wav.write("RIFF");
    wav.close();
    QStringList played;

    NewMessageAlert server(QStringLiteral(":"), false);
    server.setDesktopNotifications(false);
    server.setSoundPlayer(std::make_unique<FakeSoundPlayer>(&played));
    server.setSoundDir(dir.path());
    server.announce(false, {});
    QVERIFY(!server.popup()->isVisible());
    QCOMPARE(played, QStringList{dir.filePath(QStringLiteral("notify.wav"))});
    server.announce(true, {});
    QVERIFY(server.popup()->isVisible());
    QCOMPARE(server.popup()->objectName(), QStringLiteral("msn"));
    QCOMPARE(server.popup()->title->text(), QStringLiteral("You Have New Message"));
    QCOMPARE(server.popup()->text->text(), QStringLiteral(":"));
    QCOMPARE(server.tag(), 1);
    QVERIFY(!server.popup()->isActiveWindow());
    // It closes by itself.
    QCOMPARE(server.popup()->closeTimer().interval(), NewMessagePopup::ShowMs);
    QVERIFY(server.popup()->closeTimer().isActive());
    server.popup()->closeTimer().start(1);
    QVERIFY(waitFor([&] { return !server.popup()->isVisible(); }));
    QCOMPARE(server.tag(), 0);
    QCOMPARE(played.size(), 2);

    // The client's text is a link that opens the window; a click elsewhere
    // only acknowledges.
    NewMessageAlert client(QStringLiteral("Read Now ?"), true);
    client.setDesktopNotifications(false);
    client.setSoundPlayer(std::make_unique<FakeSoundPlayer>(&played));
    client.setSoundDir(dir.filePath(QStringLiteral("nowhere")));
    int opened = 0;
    connect(&client, &NewMessageAlert::openRequested, this, [&] { ++opened; });
    client.announce(true, {});
    QVERIFY(client.popup()->text->text().contains(QStringLiteral("Read Now ?")));
    QTest::mouseClick(client.popup(), Qt::LeftButton, {}, QPoint(4, 4));
    QVERIFY(!client.popup()->isVisible());
    QCOMPARE(opened, 0);
    client.announce(true, {});
    emit client.popup()->text->linkActivated(QStringLiteral("read"));
    QCOMPARE(opened, 1);
    QVERIFY(!client.popup()->isVisible());
}

void TFsendTest::theDesktopIsToldOnlyWhereThereIsASessionBus()
{
    QStringList played;
    NewMessageAlert alert(QStringLiteral(":"), false);
    alert.setSoundPlayer(std::make_unique<FakeSoundPlayer>(&played));
    // No bus: nothing is tried, nothing waits.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QElapsedTimer took;
    took.start();
    const wire::MessageRecord fromAlice{"10.0.0.1", "alice", {"hello <all>", "second line"}};
    alert.announce(true, fromAlice);
    QVERIFY(took.elapsed() < 100);
    QCOMPARE(played.size(), 1);

    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(3000) || !daemon.waitForReadyRead(3000))
        QSKIP("dbus-daemon cannot run here");
    const QByteArray address = daemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    {
        QDBusConnection desktop = QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("desktop"));
        QVERIFY(desktop.isConnected());
        FakeNotifications service;
        QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                       QDBusConnection::ExportAllSlots));
        // Who wrote, and the first line (the body may be read as markup).
        alert.announce(true, fromAlice);
        QVERIFY(waitFor([&] { return service.told.size() == 1; }));
        QCOMPARE(service.told.front(), QStringLiteral("Message from alice|hello &lt;all&gt;"));
        QVERIFY(service.actions.isEmpty());  // a service without actions gets none
        // Not wanted: neither popup nor notification.
        alert.announce(false, fromAlice);
        QVERIFY(!waitFor([&] { return service.told.size() > 1; }, 300));

        // "Reply" where the service has actions; choosing it addresses the sender.
        service.withActions = true;
        std::vector<std::pair<std::string, std::string>> replies;
        connect(&alert, &NewMessageAlert::replyRequested, this,
                [&](const std::string &name, const std::string &address) { replies.emplace_back(name, address); });
        alert.announce(true, fromAlice);
        QVERIFY(waitFor([&] { return service.told.size() == 2; }));
        QCOMPARE(service.actions, (QStringList{QStringLiteral("reply"), QStringLiteral("Reply")}));
        auto invoke = [&](uint id, const QString &key) {
            QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                             QStringLiteral("org.freedesktop.Notifications"),
                                                             QStringLiteral("ActionInvoked"));
            message << id << key;
            desktop.send(message);
        };
        // The id of the announcement reaches the window a moment after the call.
        QVERIFY(waitFor([&] {
            invoke(42, QStringLiteral("reply"));
            return waitFor([&] { return !replies.empty(); }, 50);
        }));
        QCOMPARE(replies.front(), std::make_pair(std::string("alice"), std::string("10.0.0.1")));
        const std::size_t heard = replies.size();
        invoke(42, QStringLiteral("default"));
        invoke(7, QStringLiteral("reply"));  // not ours
        QVERIFY(!waitFor([&] { return replies.size() > heard; }, 200));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    daemon.terminate();
    daemon.waitForFinished(3000);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void TFsendTest::ctrlEnterSendsAndTheListHasNoOwnRow()
{
    Rig r(TFsend::Client);
    r.w->setClients({{"Admin@srv", "10.0.0.5", "free"}, {"pc3", "10.0.0.9", "free"}, {"alice", "10.0.0.1", "free"}});
    QCOMPARE(r.w->list->topLevelItemCount(), 2);  // not pc3 itself
    QTreeWidgetItem *admin = r.w->list->topLevelItem(0);
    QCOMPARE(admin->text(0), QStringLiteral("Admin@srv"));
    QVERIFY(admin->toolTip(0).startsWith(QStringLiteral("The server's operator")));
    QVERIFY(admin->font(0).bold());
    QCOMPARE(r.w->list->topLevelItem(1)->toolTip(0), QStringLiteral("10.0.0.1"));

    r.choose(0);
    r.w->Memo1->setFocus();
    QTest::keyClicks(r.w->Memo1, QStringLiteral("one"));
    QTest::keyClick(r.w->Memo1, Qt::Key_Return);  // a new line, nothing sent
    QTest::keyClicks(r.w->Memo1, QStringLiteral("two"));
    QVERIFY(r.sent.empty());
    QTest::keyClick(r.w->Memo1, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(r.sent.size(), 1u);
    QCOMPARE(r.sent[0].recipient, std::string("10.0.0.5"));
    QCOMPARE(wire::parseMessageRecords(r.sent[0].record).at(0).bodyLines,
             (std::vector<std::string>{"one", "two"}));
    QVERIFY(r.w->Memo1->toPlainText().isEmpty());
    QTest::keyClick(r.w->Memo1, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QCOMPARE(r.prompter.said.back().text, std::string("Select client name to send"));
}

QTEST_MAIN(TFsendTest)
#include "TFsendTest.moc"
