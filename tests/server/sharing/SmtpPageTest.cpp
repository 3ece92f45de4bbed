// The "SMTP auto relay" page and its edit window over a real core and log
// database, offscreen; message boxes go to the scripted prompter.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "server/ui/TFeditsmtp.h"
#include "support/FakeServerPlatform.h"
#include "support/ServerWithWindow.h"
#include "support/Wait.h"

using namespace velora;
using namespace velora::test;
using namespace velora::server::ui;

namespace {

const char Activated[] = "The setting will be activated next time you dial this entry";

QTreeWidgetItem *rowOf(QTreeWidget *list, const QString &entry)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == entry)
            return list->topLevelItem(i);
    return nullptr;
}

bool saidText(const ScriptedPrompter &p, const std::string &text)
{
    for (const auto &s : p.said)
        if (s.text == text)
            return true;
    return false;
}

}  // namespace

class SmtpPageTest : public QObject {
    Q_OBJECT
private slots:
    void editsReachTheListWhenTheEditWindowCloses();
    void aDoubleClickWithoutASelectionOpensNothing();
    void thePortNoticeComesOnlyWhenTypedAndConnected();
    void tickingSharingWhereItCannotBeDrivenIsTakenBack();
};

void SmtpPageTest::editsReachTheListWhenTheEditWindowCloses()
{
    Server s;
    // A row whose name would match "ISP One" as a pattern, and only so.
    QVERIFY(s.core->logDatabase().saveSmtp("ISP_One", {"wrong.example", "25"}));
    s.window->updatesmtp();
    auto *list = s.get<QTreeWidget>("LVsmtp");
    QCOMPARE(list->topLevelItemCount(), int(s.core->entryNames().size()));
    QTreeWidgetItem *row = rowOf(list, QStringLiteral("ISP One"));
    QVERIFY(row);
    QCOMPARE(row->text(1), QString());
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("SMTP Server"));

    list->setCurrentItem(row);
    bool driven = false;
    QTimer::singleShot(0, this, [&] {
        TFeditsmtp &w = s.window->editSmtpWindow();
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Edit SMTP server"));
        QCOMPARE(w.Label4->text(), QStringLiteral("ISP One"));
        w.Edit1->setText(QStringLiteral("smtp.one.example"));
        w.Edit2->setText(QStringLiteral("70000"));
        QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
        QVERIFY(!saidText(s.prompter, Activated));
        QVERIFY(!s.core->logDatabase().smtp("ISP One"));
        w.Edit2->setText(QStringLiteral("587"));
        QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
        QVERIFY(saidText(s.prompter, Activated));
        // Saved, and the window stays open; the list waits for the close.
        QVERIFY(w.isVisible());
        QCOMPARE(rowOf(s.get<QTreeWidget>("LVsmtp"), QStringLiteral("ISP One"))->text(1), QString());
        driven = true;
        QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
    });
    s.window->LVsmtpDblClick();
    QVERIFY(driven);
    QCOMPARE(s.prompter.said.front().text, std::string("The SMTP port must be a number from 1 to 65535"));
    row = rowOf(list, QStringLiteral("ISP One"));
    QCOMPARE(row->text(1), QStringLiteral("smtp.one.example"));
    QCOMPARE(row->text(2), QStringLiteral("587"));
    const auto stored = s.core->logDatabase().smtp("ISP One");
    QVERIFY(stored);
    QCOMPARE(stored->port, std::string("587"));
    QCOMPARE(s.core->logDatabase().smtp("ISP_One")->server, std::string("wrong.example"));
}

void SmtpPageTest::aDoubleClickWithoutASelectionOpensNothing()
{
    Server s;
    s.get<QTreeWidget>("LVsmtp")->clearSelection();
    bool opened = false;
    QTimer::singleShot(0, this, [&] {
        if (auto *w = s.window->findChild<TFeditsmtp *>(); w && w->isVisible()) {
            opened = true;
            w->reject();
        }
    });
    s.window->LVsmtpDblClick();
    QVERIFY(!waitFor([&] { return opened; }, 50));
}

void SmtpPageTest::thePortNoticeComesOnlyWhenTypedAndConnected()
{
    const std::string notice = "The new setting will be activated next time you dial ";
    Server s;
    QTest::keyClicks(s.get<QLineEdit>("Edit2"), QStringLiteral("0"));
    s.click("SpeedButton9");
    QVERIFY(!saidText(s.prompter, notice));

    s.core->dialup().executedial("ISP One", "Local");
    QVERIFY(waitFor([&] {
        s.core->Timer1Timer();
        return s.core->statusView().status == "Connected";
    }, 3000));
    // Still marked from before: the line is up now, so the notice comes, once.
    s.click("SpeedButton9");
    QVERIFY(saidText(s.prompter, notice));
    const auto told = s.prompter.said.size();
    s.click("SpeedButton9");
    QCOMPARE(s.prompter.said.size(), told);
}

void SmtpPageTest::tickingSharingWhereItCannotBeDrivenIsTakenBack()
{
    FakeSharingSwitch *sharing = nullptr;
    Server s("[server]\nport=0\n", false, "base",
             [&](server::frame::ServerPlatform &p, const std::string &) {
                 sharing = static_cast<FakeSharingSwitch *>(p.sharing.get());
             });
    auto *box = s.get<QCheckBox>("CheckBox9");
    sharing->canDrive = false;
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
    QCOMPARE(s.prompter.said[0].text, std::string("Velora detect that ICS has not been enabled\n"
                                                  "Velora needs ICS to be enabled on one entry,\n"
                                                  "Please see help on how to share your internet connection "));
    sharing->canDrive = true;
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
}

QTEST_MAIN(SmtpPageTest)
#include "SmtpPageTest.moc"
