// The server window over a real core with the simulated line; ticks are
// driven by hand and every message box goes to a scripted prompter.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTime>
#include <QSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>

#include "support/ScriptedPrompter.h"
#include "support/ServerWithWindow.h"
#include "support/DialupFakes.h"
#include "common/Prompter.h"
#include "server/dialup/lines/LineFactory.h"
#include "server/dialup/lines/SimulatedLine.h"
#include "support/FakeServerPlatform.h"
#include "server/frame/ServerCore.h"
#include "support/RecordingShutdown.h"
#include "widgets/TFtip.h"
#include "server/ui/TForm1.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::dialup;
using namespace velora::server::frame;
using namespace velora::widgets;
using namespace velora::server::ui;
using namespace velora::test;
using namespace velora::server::state;
using B = Prompter::Button;

namespace {

const char DialLocked[] =
    "Velora has detected that connection is currently locked\nDo you want to force dialing anyway ?";
const char HangupLocked[] =
    "Velora has detected that connection is currently locked\nDo you want to force hang up anyway ?";

}  // namespace

class TForm1Test : public QObject {
    Q_OBJECT
private slots:
    void labelsAndTrayFollowTheStateAfterATick();
    void dialNeedsASelectionAndAsksWhileLocked();
    void closingAsksAndEndsOnlyWhenAllowed();
    void serviceModeRefusesToClose();
    void getEntriesReplacesTheTrayDialItems();
    void configurationPageRoundTripsThroughTheFile();
    void linePoliciesRoundTripAndAnUnreadableBudgetIsRefused();
    void clientListPageShowsTheRows();
    void tipWindowIsRebuiltOnEveryShowAndSavesOnClose();
    void menusAndHintsPromiseOnlyWhatWorks();
    void baseDirAndLineProblemAreShownReadably();
    void trayIconHasItsImageBeforeItShows();
    void helpMenuOpensThePageOrSaysItIsMissing();
};

void TForm1Test::labelsAndTrayFollowTheStateAfterATick()
{
    Server s;
    for (const char *label : {"Label8", "Label22", "Label4", "Label21", "Label6", "Label2"})
        QCOMPARE(s.text(label), QStringLiteral("--"));
    QVERIFY(!s.window->trayIcon());  // offscreen has no tray...
    QVERIFY(s.window->isVisible());  // ...so the window stays on the screen

    s.core->Timer1Timer();
    QCOMPARE(s.text("Label2"), QStringLiteral("READY"));
    QCOMPARE(s.text("Label8"), QStringLiteral("--"));
    QCOMPARE(s.text("Label6"), QStringLiteral("free"));
    QCOMPARE(s.text("Label25"), QString());
    QCOMPARE(s.window->trayImageShown(), 1);
    QCOMPARE(s.window->trayHintShown(), QStringLiteral("Status : READY\nServer status : online"));

    QVERIFY(s.line->connectFromOutside("ISP One"));
    s.core->Timer1Timer();
    s.core->Timer1Timer();  // the speed is read once the status already says Connected
    s.core->Timer3Timer();
    s.core->Timer3Timer();
    s.core->Timer1Timer();
    QCOMPARE(s.text("Label2"), QStringLiteral("Connected"));
    QCOMPARE(s.text("Label8"), QStringLiteral("ISP One"));
    QCOMPARE(s.text("Label22"), QStringLiteral("Simulated modem"));
    QCOMPARE(s.text("Label4"), QStringLiteral("0:0:1"));
    const QString speed = s.text("Label21");
    QVERIFY2(speed.contains(QStringLiteral("Kbps")), qPrintable(speed));
    QCOMPARE(s.window->trayImageShown(), 0);
    QCOMPARE(s.window->trayHintShown(), QStringLiteral("Status : Connected\nConnected via : ISP One\nSpeed : ") +
                                            speed + QStringLiteral("\nServer status : online"));

    // The line drops; a failed dial then shows the red notice until hang-up.
    s.line->dropFromOutside(s.core->dialup().activeHandle());
    s.core->dialup().executedial("Busy", "Local");
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(s.st().DialEventText),
                              QStringLiteral("Error press hangup button"), 3000);
    s.core->Timer1Timer();
    QCOMPARE(s.text("Label25"), QStringLiteral("Error press hangup button"));
    QCOMPARE(s.get<QLabel>("Label25")->palette().color(QPalette::WindowText), QColor(Qt::red));
    s.click("Button3");
    s.core->Timer1Timer();
    QCOMPARE(s.text("Label25"), QString());
    QCOMPARE(s.text("Label2"), QStringLiteral("READY"));

    QVERIFY(!s.get<QPushButton>("Button6")->isHidden());
    QVERIFY(s.get<QPushButton>("Button5")->isHidden());
    s.click("Button6");
    QVERIFY(s.get<QPushButton>("Button6")->isHidden());
    QVERIFY(!s.get<QPushButton>("Button5")->isHidden());
    s.core->Timer1Timer();
    QCOMPARE(s.window->trayImageShown(), 2);
    QCOMPARE(s.window->trayHintShown(), QStringLiteral("Status : READY\nServer status : offline"));
    s.click("Button5");
    QVERIFY(s.core->isOnline());
    QVERIFY(!s.get<QPushButton>("Button6")->isHidden());
}

void TForm1Test::dialNeedsASelectionAndAsksWhileLocked()
{
    Server s;
    s.core->Timer1Timer();
    s.click("Button2");
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
    QCOMPARE(s.prompter.said[0].text, std::string("You have not choose an entry yet"));
    QCOMPARE(s.st().DialEventText, std::string());

    // Lock hides itself and shows Unlock at the next tick, not before.
    s.click("SpeedButton6");
    QVERIFY(!s.get<QPushButton>("SpeedButton6")->isHidden());
    s.core->Timer1Timer();
    QVERIFY(s.get<QPushButton>("SpeedButton6")->isHidden());
    QVERIFY(!s.get<QPushButton>("SpeedButton7")->isHidden());
    QCOMPARE(s.text("Label6"), QStringLiteral("locked"));

    auto *lventry = s.get<QListWidget>("lventry");
    lventry->setCurrentRow(1);
    s.prompter.answers = {B::No};
    s.click("Button2");
    QCOMPARE(s.prompter.said.back().text, std::string(DialLocked));
    QCOMPARE(s.prompter.said.back().buttons, (std::vector<B>{B::Yes, B::No}));
    QCOMPARE(s.st().DialEventText, std::string());

    // The tray's dial item asks the same question.
    s.prompter.answers = {B::No};
    s.dialItems().at(0)->trigger();
    QCOMPARE(s.prompter.said.size(), std::size_t(3));
    QCOMPARE(s.prompter.said.back().text, std::string(DialLocked));
    QCOMPARE(s.st().DialEventText, std::string());

    s.prompter.answers = {B::Yes};
    s.click("Button2");
    QCOMPARE(s.st().DialEventText, std::string("Dialing..."));
    QCOMPARE(s.st().DialerName, std::string("Local"));
    s.waitFor("Connected");
    s.core->Timer1Timer();
    QCOMPARE(s.text("Label8"), QStringLiteral("ISP Two"));

    s.prompter.answers = {B::No};
    s.get<QMenu>("PopupMenu1")->findChild<QAction *>(QStringLiteral("hangup1"))->trigger();
    QCOMPARE(s.prompter.said.back().text, std::string(HangupLocked));
    s.core->Timer1Timer();
    QCOMPARE(s.text("Label2"), QStringLiteral("Connected"));
    s.prompter.answers = {B::Yes};
    s.click("Button3");
    QCOMPARE(s.prompter.said.back().text, std::string(HangupLocked));
    s.core->Timer1Timer();
    QCOMPARE(s.text("Label2"), QStringLiteral("READY"));
    QCOMPARE(s.text("Label8"), QStringLiteral("--"));

    s.click("SpeedButton7");
    s.core->Timer1Timer();
    QVERIFY(!s.get<QPushButton>("SpeedButton6")->isHidden());
    QVERIFY(s.get<QPushButton>("SpeedButton7")->isHidden());
    QCOMPARE(s.text("Label6"), QStringLiteral("free"));
}

void TForm1Test::closingAsksAndEndsOnlyWhenAllowed()
{
    Server s;
    QSignalSpy quit(s.window.get(), &TForm1::quitRequested);
    s.core->Timer1Timer();
    auto *exit1 = s.get<QMenu>("PopupMenu1")->findChild<QAction *>(QStringLiteral("exit1"));
    QVERIFY(exit1->isEnabled());

    s.prompter.answers = {B::Cancel};
    QVERIFY(!s.window->close());
    QVERIFY(s.window->isVisible());
    QCOMPARE(s.prompter.said.back().text,
             std::string("Do you really want to stop Velora ?\nVelora will stop tracking your connection"));
    QCOMPARE(s.prompter.said.back().buttons, (std::vector<B>{B::Ok, B::Cancel}));
    QCOMPARE(quit.count(), 0);

    // Connected: Cancel keeps it, No ends without hanging up, Yes hangs up.
    s.core->dialup().executedial("ISP One", "Local");
    s.waitFor("Connected");
    s.core->Timer1Timer();
    const std::string online = "Close application ?\nVelora ditect that connection is still online\n"
                               "Do you want to hangup current dial up connection ?\n"
                               "Or Velora will not correctly record the online time";
    s.prompter.answers = {B::Cancel};
    exit1->trigger();
    QCOMPARE(s.prompter.said.back().text, online);
    QCOMPARE(s.prompter.said.back().buttons, (std::vector<B>{B::Yes, B::No, B::Cancel}));
    QVERIFY(s.window->isVisible());
    QCOMPARE(quit.count(), 0);

    std::vector<ConnectionInfo> up;
    auto *restore1 = s.get<QMenu>("PopupMenu1")->findChild<QAction *>(QStringLiteral("restore1"));
    QCOMPARE(restore1->text(), QStringLiteral("hide"));
    s.prompter.answers = {B::No};
    QVERIFY(s.window->close());
    QCOMPARE(quit.count(), 1);
    QCOMPARE(restore1->text(), QStringLiteral("restore"));
    s.line->enumConnections(up);
    QCOMPARE(up.size(), std::size_t(1));

    s.window->show();
    s.prompter.answers = {B::Yes};
    QVERIFY(s.window->close());
    QCOMPARE(quit.count(), 2);
    up.clear();
    s.line->enumConnections(up);
    QCOMPARE(up.size(), std::size_t(0));

    s.window->show();
    s.prompter.answers = {B::Ok};
    s.core->Timer1Timer();
    QVERIFY(s.window->close());
    QCOMPARE(quit.count(), 3);
}

void TForm1Test::serviceModeRefusesToClose()
{
    Server s("[server]\nport=0\n", true);
    QSignalSpy quit(s.window.get(), &TForm1::quitRequested);
    QVERIFY(!s.get<QMenu>("PopupMenu1")->findChild<QAction *>(QStringLiteral("exit1"))->isEnabled());
    QVERIFY(!s.get<QCheckBox>("CheckBox1")->isEnabled());
    QVERIFY(s.line->connectFromOutside("ISP One"));
    s.core->Timer1Timer();
    s.prompter.defaultAnswer = B::Ok;
    QVERIFY(!s.window->close());
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
    QCOMPARE(s.prompter.said[0].text,
             std::string("You can not close Velora because it runs in service mode\n"
                         "Plese go to Start menu > Velora > dialer server > server manager to stop the service."));
    QCOMPARE(s.prompter.said[0].buttons, (std::vector<B>{B::Ok}));
    QVERIFY(s.window->isVisible());
    QCOMPARE(quit.count(), 0);
}

void TForm1Test::getEntriesReplacesTheTrayDialItems()
{
    Server s;
    auto names = [&] {
        QStringList l;
        for (QAction *a : s.dialItems())
            l << a->text();
        return l;
    };
    const QStringList four{QStringLiteral("ISP One"), QStringLiteral("ISP Two"), QStringLiteral("Busy"),
                           QStringLiteral("Caf\u00e9 Net")};
    QCOMPARE(names(), four);
    QCOMPARE(s.get<QListWidget>("lventry")->item(3)->text(), four[3]);

    s.click("Button1");
    QCOMPARE(names(), four);
    velora::test::writeFile(s.base() + "/config/phonebook.ini", "[Night]\n[Day & Night]\n");
    s.click("Button1");
    s.click("Button1");
    QCOMPARE(names(), (QStringList{QStringLiteral("Night"), QStringLiteral("Day && Night")}));
    auto *lventry = s.get<QListWidget>("lventry");
    QCOMPARE(lventry->count(), 2);
    QCOMPARE(lventry->item(1)->text(), QStringLiteral("Day & Night"));
    // The tray item dials the entry by its own name, "&" and all.
    s.dialItems().at(1)->trigger();
    QCOMPARE(s.st().DialEventText, std::string("Dialing..."));
    QVERIFY(s.prompter.said.empty());  // unlocked: no question

    velora::test::writeFile(s.base() + "/config/phonebook.ini", "");
    s.click("Button1");
    QVERIFY(s.dialItems().isEmpty());
    QCOMPARE(lventry->count(), 0);
}

void TForm1Test::configurationPageRoundTripsThroughTheFile()
{
    Server s("[server]\nport=0\n"
             "[general]\nonlinestartup=1\nstartminimized=1\nshutdownmode=1\ntipoftheday=1\nclientpolling=3\n"
             "[dial]\nkeepalive=1\nICS=1\npingip=ping.test\nsmtpautorelay=1\nsmtpport=2525\nconnectionlogging=1\n");
    QVERIFY(s.window->isVisible());  // start minimized, but there is no tray to go to
    auto *edit1 = s.get<QLineEdit>("Edit1");
    auto *edit3 = s.get<QLineEdit>("Edit3");
    auto *shutdownMode = s.get<QComboBox>("ComboBox5");
    auto *polling = s.get<QComboBox>("ComboBox6");
    auto *tipBox = s.window->tipWindow()->CheckBox1;
    QCOMPARE(edit1->text(), QStringLiteral("0"));
    QVERIFY(!s.get<QCheckBox>("CheckBox1")->isChecked());
    QVERIFY(s.get<QCheckBox>("CheckBox1")->isEnabled());
    for (const char *box : {"CheckBox2", "CheckBox3", "CheckBox4", "CheckBox9", "CheckBox6", "CheckBox7"})
        QVERIFY2(s.get<QCheckBox>(box)->isChecked(), box);
    QVERIFY(tipBox->isChecked());
    QCOMPARE(shutdownMode->currentText(), QStringLiteral("Power off (Win2000/Xp only)"));
    QCOMPARE(polling->currentText(), QStringLiteral("3 minutes"));
    QCOMPARE(edit3->text(), QStringLiteral("ping.test"));

    // Flip everything; nothing typed into the port field, so no notice.
    s.get<QCheckBox>("CheckBox1")->setChecked(true);
    for (const char *box : {"CheckBox2", "CheckBox3", "CheckBox4", "CheckBox9", "CheckBox6", "CheckBox7"})
        s.get<QCheckBox>(box)->setChecked(false);
    tipBox->setChecked(false);
    shutdownMode->setCurrentIndex(0);
    polling->setCurrentIndex(5);
    edit3->setText(QStringLiteral("  other.test "));
    s.window->statusBar()->clearMessage();
    s.click("SpeedButton3");
    QVERIFY(s.prompter.said.empty());
    QCOMPARE(s.window->statusBar()->currentMessage(), QStringLiteral("Configuration saved."));
    QCOMPARE(s.ini("general", "winstart"), std::string("1"));
    QVERIFY(s.autostart->enabled);
    for (auto [section, key] : std::initializer_list<std::pair<const char *, const char *>>{
             {"general", "onlinestartup"}, {"general", "startminimized"}, {"general", "tipoftheday"},
             {"dial", "keepalive"}, {"dial", "ICS"}, {"dial", "smtpautorelay"}, {"dial", "connectionlogging"}})
        QVERIFY2(s.ini(section, key) == "0", key);
    QCOMPARE(s.ini("general", "shutdownmode"), std::string("0"));
    QCOMPARE(s.ini("general", "clientpolling"), std::string("5"));
    QCOMPARE(s.st().PollingMinutes, 5);
    QCOMPARE(s.ini("dial", "pingip"), std::string("other.test"));
    QCOMPARE(s.ini("dial", "smtpport"), std::string("2525"));  // its field is on a later page
    QCOMPARE(edit3->text(), QStringLiteral("other.test"));      // the page was loaded again

    // A port typed while online: the notice once, on the next save only.
    edit1->selectAll();
    QTest::keyClicks(edit1, QStringLiteral("2226"));
    s.click("SpeedButton3");
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
    QCOMPARE(s.prompter.said[0].text,
             std::string("you should stop the server  and start it again to activate configuration"));
    QCOMPARE(s.ini("server", "port"), std::string("2226"));
    s.click("SpeedButton3");
    QCOMPARE(s.prompter.said.size(), std::size_t(1));

    // Values the lists cannot show survive a save instead of turning into -1.
    velora::test::writeFile(s.base() + "/config/config.ini",
                            "[server]\nport=0\n[general]\nshutdownmode=2\nclientpolling=9\n");
    s.core->loadcfg();
    QCOMPARE(polling->currentIndex(), -1);
    QCOMPARE(s.st().PollingMinutes, 9);
    s.click("SpeedButton3");
    QCOMPARE(s.ini("general", "shutdownmode"), std::string("2"));
    QCOMPARE(s.ini("general", "clientpolling"), std::string("9"));
}

void TForm1Test::linePoliciesRoundTripAndAnUnreadableBudgetIsRefused()
{
    Server s("[server]\nport=0\n[policy]\nredial=1\nredialholdoff=45\nredialmaxfail=4\nidlehangup=10\n"
             "idlebytes=2048\nmonthlybudget=150\n");
    QCOMPARE(s.get<QGroupBox>("policyBox")->title(), QStringLiteral("Line policies"));
    auto *redial = s.get<QCheckBox>("policyRedial");
    auto *holdoff = s.get<QSpinBox>("policyRedialHoldoff");
    auto *maxFail = s.get<QSpinBox>("policyRedialMaxFail");
    auto *idle = s.get<QSpinBox>("policyIdleHangup");
    auto *idleBytes = s.get<QSpinBox>("policyIdleBytes");
    auto *budget = s.get<QLineEdit>("policyMonthlyBudget");
    QVERIFY(redial->isChecked());
    QCOMPARE(holdoff->value(), 45);
    QCOMPARE(maxFail->value(), 4);
    QCOMPARE(idle->value(), 10);
    QCOMPARE(idleBytes->value(), 2048);
    QCOMPARE(budget->text(), QStringLiteral("150"));

    redial->setChecked(false);
    holdoff->setValue(5);
    maxFail->setValue(2);
    idle->setValue(0);
    QCOMPARE(idle->text(), QStringLiteral("Never"));
    budget->setText(QStringLiteral(" 99.50 "));
    s.click("SpeedButton3");
    QVERIFY(s.prompter.said.empty());
    QCOMPARE(s.ini("policy", "redial"), std::string("0"));
    QCOMPARE(s.ini("policy", "redialholdoff"), std::string("5"));
    QCOMPARE(s.ini("policy", "redialmaxfail"), std::string("2"));
    QCOMPARE(s.ini("policy", "idlehangup"), std::string("0"));
    QCOMPARE(s.ini("policy", "monthlybudget"), std::string("99.50"));

    // Saved as it stands, it would switch the budget off without a word.
    budget->setText(QStringLiteral("a lot"));
    s.click("SpeedButton3");
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
    QVERIFY(s.prompter.said[0].text.find("monthly budget") != std::string::npos);
    QCOMPARE(s.ini("policy", "monthlybudget"), std::string("99.50"));
}

void TForm1Test::clientListPageShowsTheRows()
{
    Server s;
    auto *list = s.get<QTreeWidget>("Lvclient");
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("client name"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("ip address"));
    QCOMPARE(list->headerItem()->text(2), QStringLiteral("lock status"));
    s.core->Timer1Timer();
    QCOMPARE(list->topLevelItemCount(), 1);
    QVERIFY(list->topLevelItem(0)->text(0).startsWith(QStringLiteral("Admin@")));
    QCOMPARE(list->topLevelItem(0)->text(1), QString::fromStdString(ServerCore::ownAddress()));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("free"));

    QCOMPARE(list->headerItem()->text(3), QStringLiteral("Locked since"));
    QCOMPARE(list->topLevelItem(0)->text(3), QString());
    QCOMPARE(s.text("LbLockedBy"), QString());

    const QString before = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    s.click("SpeedButton6");
    s.core->Timer1Timer();
    const QString after = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("locking"));
    const QString since = list->topLevelItem(0)->text(3);
    QVERIFY2(since == before || since == after, qPrintable(since));
    QCOMPARE(s.text("LbLockedBy"), QStringLiteral("locked by %1 since %2")
                                       .arg(QString::fromStdString(ServerCore::ownClientName()), since));
    s.click("SpeedButton8");
    s.core->Timer1Timer();
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("free"));
    QCOMPARE(list->topLevelItem(0)->text(3), QString());
    QCOMPARE(s.text("Label6"), QStringLiteral("free"));
    QCOMPARE(s.text("LbLockedBy"), QString());

    s.click("Button6");
    s.core->Timer1Timer();
    QCOMPARE(list->topLevelItemCount(), 0);
}

void TForm1Test::tipWindowIsRebuiltOnEveryShowAndSavesOnClose()
{
    {
        // Off in the file: no tip at start-up.
        Server s;
        QVERIFY(!s.window->tipWindow()->isVisible());
    }
    Server s("[server]\nport=0\n[general]\ntipoftheday=1\n");
    TFtip *tip = s.window->tipWindow();
    // Shown at start-up, but the file does not exist yet: the built-in tips,
    // as for a file of bytes that are no text.
    QVERIFY(tip->isVisible());
    QVERIFY(!tip->Label2->text().isEmpty());
    const std::size_t builtIn = tip->tips().size();
    velora::test::writeFile(s.base() + "/config/tip.cfg", std::string("\x01\x02\xff\x00\x7f#\n", 7));
    tip->hide();
    tip->show();
    QCOMPARE(tip->tips().size(), builtIn);
    QCOMPARE(tip->windowTitle(), QStringLiteral("Tip of the day"));
    QCOMPARE(tip->Label1->text(), QStringLiteral("Did You know ?"));
    QVERIFY(tip->CheckBox1->isChecked());
    tip->hide();

    velora::test::writeFile(s.base() + "/config/tip.cfg", "A\n\nB\n#\nC\n#\nnever shown\n");
    tip->show();
    QCOMPARE(tip->tips().size(), std::size_t(2));
    const QString first = tip->Label2->text();
    // Shown without the trailing line break of its last line.
    QVERIFY2(first == QStringLiteral("A\nB") || first == QStringLiteral("C"), qPrintable(first));
    QTest::mouseClick(tip->SpeedButton1, Qt::LeftButton);
    QVERIFY(tip->Label2->text() != first);
    QTest::mouseClick(tip->SpeedButton1, Qt::LeftButton);
    QCOMPARE(tip->Label2->text(), first);
    QTest::mouseClick(tip->SpeedButton2, Qt::LeftButton);
    QVERIFY(tip->Label2->text() != first);

    velora::test::writeFile(s.base() + "/config/tip.cfg", "X\n#\n");
    tip->hide();
    tip->show();
    QCOMPARE(tip->tips().size(), std::size_t(1));
    QCOMPARE(tip->Label2->text(), QStringLiteral("X"));

    tip->CheckBox1->setChecked(false);
    QTest::mouseClick(tip->SpeedButton3, Qt::LeftButton);
    QVERIFY(!tip->isVisible());
    QCOMPARE(s.ini("general", "tipoftheday"), std::string("0"));
}

void TForm1Test::menusAndHintsPromiseOnlyWhatWorks()
{
    Server s;
    s.core->Timer1Timer();
    for (QAction *a : s.get<QMenu>("PopupMenu4")->actions())
        QVERIFY2(a->isEnabled() && a->isVisible(), qPrintable(a->text()));
    for (QAction *a : s.get<QMenu>("PopupMenu1")->actions())
        QVERIFY2(a->isSeparator() || !a->isVisible() || a->isEnabled(), qPrintable(a->text()));
    // The entry list's right click opens the entry windows, so its hint says so.
    QVERIFY(s.get<QListWidget>("lventry")->toolTip().startsWith(QStringLiteral("Right click to edit entry properties\n")));
    QVERIFY(s.get<QMenu>("PopupMenu2")->findChild<QAction *>(QStringLiteral("showentryproperties1")));
    // The client list's right click opens the send-message window, so its hint may say so.
    QCOMPARE(s.get<QTreeWidget>("Lvclient")->toolTip(), QStringLiteral("Right click to send message to client"));
    QVERIFY(s.get<QMenu>("PopupMenu3")->findChild<QAction *>(QStringLiteral("sendmessage3")));

    // The tip window opens from the menu.
    velora::test::writeFile(s.base() + "/config/tip.cfg", "Only tip\n#\n");
    TFtip *tip = s.window->tipWindow();
    QVERIFY(!tip->isVisible());
    s.get<QMenu>("PopupMenu4")->findChild<QAction *>(QStringLiteral("Tipoftheday1"))->trigger();
    QVERIFY(tip->isVisible());
    QCOMPARE(tip->Label2->text(), QStringLiteral("Only tip"));

    // Get entries from the menu lists the phonebook again.
    velora::test::writeFile(s.base() + "/config/phonebook.ini", "[Night]\n");
    s.get<QMenu>("PopupMenu4")->findChild<QAction *>(QStringLiteral("Getentries1"))->trigger();
    QCOMPARE(s.get<QListWidget>("lventry")->count(), 1);
}

void TForm1Test::baseDirAndLineProblemAreShownReadably()
{
    // A UTF-8 folder name and a [line] driver the factory does not know, as main builds it.
    const std::string folder = "B\xC3\xBCro Velora";
    Server s("[server]\nport=0\n[line]\ndriver=bogus\n", false, folder, [](ServerPlatform &p, const std::string &base) {
        p.line = makeLineDriver(IniProfile(base + "/config/config.ini"), base, p.lineProblem);
    });
    QCOMPARE(s.text("Label10"), QString::fromUtf8(s.base().c_str()));
    QVERIFY(s.text("Label10").endsWith(QStringLiteral("B\u00fcro Velora")));
    const QString bar = s.window->statusBar()->currentMessage();
    QVERIFY2(bar.contains(QStringLiteral("unknown line driver \"bogus\"")), qPrintable(bar));
}

void TForm1Test::trayIconHasItsImageBeforeItShows()
{
    QStringList warnings;
    static QStringList *sink = nullptr;
    sink = &warnings;
    const auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
        *sink << m;
    });
    QMenu menu;
    QSystemTrayIcon *tray = makeTrayIcon(&menu, &menu);
    QVERIFY(!tray->icon().isNull());
    QCOMPARE(tray->contextMenu(), &menu);
    tray->show();
    qInstallMessageHandler(previous);
    for (const QString &w : warnings)
        QVERIFY2(!w.contains(QStringLiteral("No Icon")), qPrintable(w));
}

void TForm1Test::helpMenuOpensThePageOrSaysItIsMissing()
{
    Server s;
    QList<QUrl> opened;
    bool opens = true;
    s.window->urlOpener = [&](const QUrl &url) {
        opened << url;
        return opens;
    };
    QAction *help = s.get<QMenu>("PopupMenu4")->findChild<QAction *>(QStringLiteral("Showhelp1"));
    QVERIFY(help);
    QCOMPARE(help->text(), QStringLiteral("Show help"));

    // No page beside the base dir and none installed beside the test.
    help->trigger();
    QVERIFY(opened.isEmpty());
    QCOMPARE(s.prompter.said.size(), size_t(1));
    QVERIFY2(QString::fromStdString(s.prompter.said.back().text).startsWith(QStringLiteral("The help file is missing: ")),
             s.prompter.said.back().text.c_str());
    QVERIFY(QString::fromStdString(s.prompter.said.back().text).endsWith(QStringLiteral("server help/server.html")));

    std::filesystem::create_directories(s.base() + "/server help");
    velora::test::writeFile(s.base() + "/server help/server.html", "<html></html>");
    help->trigger();
    QCOMPARE(opened.size(), qsizetype(1));
    QCOMPARE(opened.front().toLocalFile(),
             QDir::cleanPath(QString::fromStdString(s.base()) + QStringLiteral("/server help/server.html")));
    QCOMPARE(s.prompter.said.size(), size_t(1));

    opens = false;
    help->trigger();
    QCOMPARE(s.prompter.said.size(), size_t(2));
    QVERIFY(QString::fromStdString(s.prompter.said.back().text).startsWith(QStringLiteral("The help file cannot be opened: ")));

    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    s.get<QMenu>("PopupMenu4")->findChild<QAction *>(QStringLiteral("About1"))->trigger();
    QVERIFY(QString::fromStdString(s.prompter.said.back().text).startsWith(QStringLiteral("Velora server 9.8.7")));
}

QTEST_MAIN(TForm1Test)
#include "TForm1Test.moc"
