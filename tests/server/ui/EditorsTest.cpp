// The operator's editors over a real core: the user page with TFpassword,
// and the entry windows with the log rows that follow them.

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTreeWidget>

#include "common/CredentialCipher.h"
#include "common/TextLines.h"
#include "common/WireCodec.h"
#include "server/ui/EntryWindows.h"
#include "server/ui/UserWindows.h"
#include "support/ServerWithWindow.h"

using namespace velora;
using namespace velora::test;
using namespace velora::server::ui;
using B = Prompter::Button;

namespace {

std::string userLine(const std::string &name, const std::string &password, const char *flags = "0111")
{
    std::string l = name + wire::ListSep + "desk" + wire::ListSep + Encrypt(password) + wire::ListSep;
    for (int i = 0; i < 4; ++i)
        l += std::string(1, flags[i]) + wire::ListSep;
    return l;
}

std::vector<std::string> fileLines(Server &s) { return splitTextLines(readFile(s.base() + "/config/user.cfg")); }

void selectUser(Server &s, const char *name)
{
    auto *list = s.get<QTreeWidget>("Lvuser");
    const auto found = list->findItems(QString::fromLatin1(name), Qt::MatchExactly);
    QVERIFY(!found.isEmpty());
    list->setCurrentItem(found.first());
}

int logRows(Server &s, const char *entry)
{
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(s.core->logDatabase().connectionName())));
    q.exec(QStringLiteral("SELECT count(*) FROM log WHERE Entry='%1'").arg(QLatin1String(entry)));
    return q.next() ? q.value(0).toInt() : -1;
}

}  // namespace

class EditorsTest : public QObject {
    Q_OBJECT
private slots:
    void userEditorKeepsTheStoreAndRefusesWhatItCannotHold();
    void entryWindowsRefuseTheOnlineEntryAndCarryTheRows();
};

void EditorsTest::userEditorKeepsTheStoreAndRefusesWhatItCannotHold()
{
    Server s;
    writeFile(s.base() + "/config/user.cfg", userLine("ann", "pw", "0111") + "\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(s.get<QTreeWidget>("Lvuser")->topLevelItemCount(), 1, 3000);
    TFpassword *editor = s.window->userWindow();

    // Nothing selected.
    s.window->LvuserDblClick();
    QCOMPARE(s.prompter.said.back().text, std::string("No user is being selected"));
    QVERIFY(!editor->isVisible());

    // A full user edited, then "Add new user": everything cleared.
    selectUser(s, "ann");
    s.window->LvuserDblClick();
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->windowTitle(), QStringLiteral("edit user : ann"));
    QCOMPARE(editor->Edit3->text(), QStringLiteral("pw"));
    QVERIFY(editor->CheckBox2->isChecked() && editor->CheckBox4->isChecked() && !editor->CheckBox1->isChecked());
    QVERIFY(!editor->SpeedButton3->isHidden());
    editor->SpeedButton2Click();
    s.click("SpeedButton1");
    QCOMPARE(editor->windowTitle(), QStringLiteral("Add new user"));
    QVERIFY(editor->SpeedButton3->isHidden());
    for (QLineEdit *e : {editor->Edit1, editor->Edit2, editor->Edit3, editor->Edit4})
        QVERIFY(e->text().isEmpty());
    for (QCheckBox *c : {editor->CheckBox1, editor->CheckBox2, editor->CheckBox3, editor->CheckBox4})
        QVERIFY(!c->isChecked());

    // Refusals keep the editor open and the file as it was.
    const std::string before = readFile(s.base() + "/config/user.cfg");
    editor->Edit1->setText(QStringLiteral("bob"));
    editor->Edit3->setText(QStringLiteral(" secret"));
    editor->Edit4->setText(QStringLiteral("secret"));
    editor->SpeedButton1Click();
    QCOMPARE(s.prompter.said.back().text, std::string("The password you have typed is not the same\nRetype password"));
    editor->Edit4->setText(QStringLiteral(" secret"));
    for (const QString &bad : {QString(), QStringLiteral("  "), QStringLiteral("ann"), QStringLiteral("Jo\u00e3o")}) {
        editor->Edit1->setText(bad);
        editor->SpeedButton1Click();
        QVERIFY(editor->isVisible());
    }
    QVERIFY(s.prompter.said.back().text.find("may not hold") != std::string::npos);
    QCOMPARE(readFile(s.base() + "/config/user.cfg"), before);

    // Appended, the leading blank trimmed: the login works without it.
    editor->Edit1->setText(QStringLiteral(" bob"));
    editor->CheckBox3->setChecked(true);
    editor->SpeedButton1Click();
    QVERIFY(!editor->isVisible());
    auto lines = fileLines(s);
    QCOMPARE(lines.size(), std::size_t(2));
    QCOMPARE(lines[0], userLine("ann", "pw", "0111"));
    QVERIFY(lines[1].rfind("bob" + std::string(1, wire::ListSep), 0) == 0);
    QCOMPARE(s.core->userStore().check("bob", Encrypt("secret")).outcome, server::users::LoginResult::Outcome::Accepted);
    QCOMPARE(s.get<QTreeWidget>("Lvuser")->topLevelItemCount(), 2);

    // Edited in place; an untouched password stays the same.
    selectUser(s, "ann");
    s.window->LvuserDblClick();
    editor->Edit2->setText(QStringLiteral("front desk"));
    editor->SpeedButton1Click();
    lines = fileLines(s);
    QCOMPARE(lines.size(), std::size_t(2));
    QVERIFY(lines[0].find("front desk") != std::string::npos);
    QVERIFY(lines[0].find(Encrypt("pw")) != std::string::npos);

    // A file changed under the open editor is not overwritten.
    selectUser(s, "bob");
    s.window->LvuserDblClick();
    writeFile(s.base() + "/config/user.cfg", userLine("carl", "x") + "\r\n");
    editor->SpeedButton3Click();
    QVERIFY(s.prompter.said.back().text.find("was changed since") != std::string::npos);
    QCOMPARE(fileLines(s), std::vector<std::string>{userLine("carl", "x")});
    editor->SpeedButton2Click();

    // Delete, and the list follows the file written beside the server.
    writeFile(s.base() + "/config/user.cfg", userLine("ann", "pw") + "\r\n" + userLine("bob", "b") + "\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(s.get<QTreeWidget>("Lvuser")->topLevelItemCount(), 2, 3000);
    selectUser(s, "bob");
    s.window->LvuserDblClick();
    editor->SpeedButton3Click();
    QCOMPARE(fileLines(s), std::vector<std::string>{userLine("ann", "pw")});
    QCOMPARE(s.get<QTreeWidget>("Lvuser")->topLevelItemCount(), 1);
}

void EditorsTest::entryWindowsRefuseTheOnlineEntryAndCarryTheRows()
{
    Server s;
    auto &db = s.core->logDatabase();
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(db.connectionName())));
    for (const char *e : {"ISP One", "ISP Two", "ISP Two"})
        QVERIFY(q.exec(QStringLiteral("INSERT INTO log (Usera, Entry, bulan, tahun, waktua) VALUES ('pc','%1','01','26',60)")
                           .arg(QLatin1String(e))));
    QVERIFY(db.saveSmtp("ISP Two", {"mail.two.test", "25"}));
    auto *entries = s.get<QListWidget>("lventry");
    auto choose = [&](const char *name) {
        entries->setCurrentItem(entries->findItems(QString::fromLatin1(name), Qt::MatchExactly).value(0));
        s.window->PopupMenu2Popup();
    };

    // The connected entry can be neither renamed nor deleted.
    QVERIFY(s.line->connectFromOutside("ISP One"));
    s.core->Timer1Timer();
    s.core->Timer1Timer();
    choose("ISP One");
    s.window->renameentry1Click();
    QCOMPARE(s.prompter.said.back().text, std::string("You can not rename entry while it is online"));
    QVERIFY(!s.window->renameWindow()->isVisible());
    s.window->showentryproperties1Click();
    TFentry *props = s.window->entryWindow();
    QVERIFY(props->isVisible());
    props->SpeedButton5Click();
    QCOMPARE(s.prompter.said.back().text, std::string("You can not delete entry while it is online"));
    const std::size_t said = s.prompter.said.size();
    props->SpeedButton3Click();  // untouched: closes without asking
    QVERIFY(!props->isVisible());
    QCOMPARE(s.prompter.said.size(), said);

    // Cost: inserted, updated, empty saved as 0; too long a user name refused.
    choose("ISP Two");
    s.window->showentryproperties1Click();
    QCOMPARE(props->windowTitle(), QStringLiteral("Properties of ISP Two"));
    QCOMPARE(props->Edit3->text(), QStringLiteral("0"));
    props->Edit3->setText(QStringLiteral("3000"));
    props->SpeedButton4Click();
    QCOMPARE(db.harga("ISP Two"), std::optional<std::string>("3000"));
    props->Edit3->clear();
    props->SpeedButton4Click();
    QCOMPARE(db.harga("ISP Two"), std::optional<std::string>("0"));
    props->Edit1->setText(QString(257, QLatin1Char('u')));
    props->SpeedButton1Click();
    QCOMPARE(s.prompter.said.back().text, std::string("(TRASControl) Value assigned to UserName is longer than 256"));
    props->Edit1->setText(QStringLiteral("dialer"));
    props->Edit3->setText(QStringLiteral("4500"));
    s.prompter.answers = {B::Yes};
    props->SpeedButton3Click();
    QCOMPARE(s.prompter.said.back().text, std::string("Do You want to save change now ?"));
    QCOMPARE(db.harga("ISP Two"), std::optional<std::string>("4500"));
    server::dialup::DialParams stored;
    QCOMPARE(s.line->entries().getDialParams("ISP Two", stored), 0);
    QCOMPARE(stored.userName, std::string("dialer"));

    // Rename: refused onto an existing name (rows stay), done otherwise (rows follow).
    choose("ISP Two");
    s.window->renameentry1Click();
    TFrename *rename = s.window->renameWindow();
    QCOMPARE(rename->Edit1->text(), QStringLiteral("ISP Two"));
    rename->Edit1->setText(QStringLiteral("Busy"));
    rename->SpeedButton1Click();
    QVERIFY(rename->isVisible());
    QCOMPARE(logRows(s, "ISP Two"), 2);
    rename->Edit1->setText(QStringLiteral("ISP 2"));
    rename->SpeedButton1Click();
    QVERIFY(!rename->isVisible());
    QCOMPARE(logRows(s, "ISP 2"), 2);
    QCOMPARE(db.harga("ISP 2"), std::optional<std::string>("4500"));
    QCOMPARE(db.smtp("ISP 2")->server, std::string("mail.two.test"));
    QVERIFY(!entries->findItems(QStringLiteral("ISP 2"), Qt::MatchExactly).isEmpty());

    // Delete with its log data.
    choose("ISP 2");
    s.window->showentryproperties1Click();
    s.prompter.answers = {B::Ok, B::Yes};
    props->SpeedButton5Click();
    QVERIFY(!props->isVisible());
    QCOMPARE(logRows(s, "ISP 2"), 0);
    QCOMPARE(logRows(s, "ISP One"), 1);
    QVERIFY(!db.smtp("ISP 2").value_or(server::log::SmtpServer{}).server.size());
    QVERIFY(entries->findItems(QStringLiteral("ISP 2"), Qt::MatchExactly).isEmpty());

    // A new entry from the "Menu" button.
    s.window->sfd1Click();
    TFentryEdit *created = s.window->newEntryWindow();
    created->Edit1->setText(QStringLiteral("Night line"));
    // The simulated line's own values, checked before anything is written.
    QVERIFY(created->field("speed") && created->field("address") && created->field("failcode"));
    created->field("phone")->setText(QStringLiteral("0800 123"));
    created->field("speed")->setText(QStringLiteral("fast"));
    created->SpeedButton1Click();
    QCOMPARE(s.prompter.said.back().text, std::string("Speed (bit/s) must be a whole number."));
    QVERIFY(created->isVisible());
    created->field("speed")->setText(QStringLiteral("33600"));
    created->SpeedButton1Click();
    QVERIFY(!created->isVisible());
    QVERIFY(readFile(s.base() + "/config/phonebook.ini").find("[Night line]\nphone=0800 123\nspeed=33600") !=
            std::string::npos);
    QVERIFY(!entries->findItems(QStringLiteral("Night line"), Qt::MatchExactly).isEmpty());
    server::dialup::EntryProperties p;
    QCOMPARE(s.line->entries().getEntryProperties("Night line", p), 0);
    QCOMPARE(p.phoneNumber, std::string("0800 123"));
}

QTEST_MAIN(EditorsTest)
#include "EditorsTest.moc"
