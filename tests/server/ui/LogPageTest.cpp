// The Log page over a real core and database: start-up selection, the grid
// and its summary, clearing and both report formats.

#include <QAbstractBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLegendMarker>
#include <QValueAxis>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <cmath>

#include "server/log/ReportJob.h"
#include "server/ui/UsageTab.h"
#include "support/ServerWithWindow.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::test;
using B = Prompter::Button;

namespace {

const char LoggingOn[] = "[server]\nport=0\n[dial]\nconnectionlogging=1\n";

void addRow(Server &s, const char *user, const char *entry, const char *bulan, const char *tahun, int speed,
            int seconds)
{
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(s.core->logDatabase().connectionName())));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua)"
                                  " VALUES ('1:00:00 PM','%1','%2','0:0:0','1/1/26',%3,'%4','%5',%6)")
                       .arg(QLatin1String(user), QLatin1String(entry))
                       .arg(speed)
                       .arg(QLatin1String(bulan), QLatin1String(tahun))
                       .arg(seconds)));
}

// 1, 2, 2.5 or 5 times a power of ten.
bool roundStep(double step)
{
    const double m = step / std::pow(10.0, std::floor(std::log10(step)));
    for (const double r : {1.0, 2.0, 2.5, 5.0})
        if (std::abs(m - r) < 1e-9)
            return true;
    return false;
}

QString thisMonth() { return QStringLiteral("%1").arg(QDate::currentDate().month(), 2, 10, QLatin1Char('0')); }
QString thisYear() { return QStringLiteral("%1").arg(QDate::currentDate().year() % 100, 2, 10, QLatin1Char('0')); }

void choose(QComboBox *box, const QString &text)
{
    const int i = box->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    box->setCurrentIndex(i);
}

}  // namespace

class LogPageTest : public QObject {
    Q_OBJECT
private slots:
    void startsOnThisMonthAndShowsTheDisabledMark();
    void gridAndSummaryFollowTheSortedFilter();
    void aNamePickedFromTheListStaysPicked();
    void clearDeletesTheShownRowsAndNeverWhileConnected();
    void reportsAreWrittenOffTheWindowAndFallBackToText();
    void auditTabAndTheMonthsCostFollowTheLog();
    void usageChartNamesItsSeriesAndTicksAtRoundFigures();
};

void LogPageTest::startsOnThisMonthAndShowsTheDisabledMark()
{
    Server off;
    QCOMPARE(off.get<QComboBox>("ComboBox2")->currentIndex(), QDate::currentDate().month());
    QCOMPARE(off.get<QComboBox>("ComboBox3")->currentText(), QString::number(QDate::currentDate().year()));
    QCOMPARE(off.get<QComboBox>("ComboBox3")->itemText(1), QStringLiteral("2001"));
    QCOMPARE(off.get<QComboBox>("ComboBox1")->currentText(), QStringLiteral("All"));
    QCOMPARE(off.get<QComboBox>("ComboBox4")->currentText(), QStringLiteral("All"));
    QVERIFY(!off.get<QLabel>("Label45")->isHidden());
    QCOMPARE(off.window->logFilter().bulan, thisMonth().toStdString());
    QCOMPARE(off.window->logFilter().tahun, thisYear().toStdString());

    Server on(LoggingOn);
    QVERIFY(on.get<QLabel>("Label45")->isHidden());
    const QHeaderView *header = on.get<QTableView>("DBGrid1")->horizontalHeader();
    const char *titles[] = {"Date", "Time", "User", "Dial up entry", "Speed", "Duration"};
    const int widths[] = {91, 88, 102, 150, 95, 96};
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(header->model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(titles[c]));
        QCOMPARE(header->sectionSize(c), widths[c]);
    }

    // A connection of the simulated line shows up at its first tick.
    QVERIFY(on.line->connectFromOutside("ISP One"));
    on.core->dialup().executedial("ISP One", "Local");
    on.core->Timer1Timer();
    on.core->Timer1Timer();
    on.core->Timer3Timer();
    QAbstractItemModel *grid = on.get<QTableView>("DBGrid1")->model();
    QCOMPARE(grid->rowCount(), 1);
    QCOMPARE(grid->index(0, 3).data().toString(), QStringLiteral("ISP One"));
    QCOMPARE(on.text("Label28"), QStringLiteral("1"));
}

void LogPageTest::gridAndSummaryFollowTheSortedFilter()
{
    Server s(LoggingOn);
    const QString m = thisMonth(), y = thisYear();
    for (int i = 0; i < 300; ++i)
        addRow(s, "pc1", "A_1", qPrintable(m), qPrintable(y), i % 2 ? 115200 : 57600, 1);
    addRow(s, "pc2", "AB1", qPrintable(m), qPrintable(y), 0, 3423);
    addRow(s, "pc2", "AB1", "01", "04", 0, 5);  // another month and year
    s.window->Showlog();
    QTableView *grid = s.get<QTableView>("DBGrid1");
    QCOMPARE(grid->model()->rowCount(), 256);  // the first page only
    QCOMPARE(grid->model()->index(0, 3).data().toString(), QStringLiteral("AB1"));
    QCOMPARE(s.text("Label28"), QStringLiteral("301"));
    QCOMPARE(s.text("Label29"), QStringLiteral("86400 bps"));
    QCOMPARE(s.text("Label32"), QStringLiteral("1:2:3"));
    QCOMPARE(s.text("Label33"), QStringLiteral("0.00"));
    grid->scrollToBottom();
    QTRY_COMPARE_WITH_TIMEOUT(grid->model()->rowCount(), 301, 3000);

    // The entry list is filled when it opens; A_1 does not pull in AB1.
    QComboBox *entries = s.get<QComboBox>("ComboBox1");
    entries->showPopup();
    entries->hidePopup();
    QCOMPARE(entries->count(), 3);
    choose(entries, QStringLiteral("A_1"));
    choose(s.get<QComboBox>("ComboBox2"), QStringLiteral("All"));
    choose(s.get<QComboBox>("ComboBox3"), QStringLiteral("All"));
    s.click("SpeedButton5");
    QCOMPARE(s.text("Label28"), QStringLiteral("300"));
    entries->showPopup();  // refilled, the choice kept
    entries->hidePopup();
    QCOMPARE(entries->currentText(), QStringLiteral("A_1"));

    QVERIFY(s.core->logDatabase().saveHarga("AB1", "3000"));
    choose(entries, QStringLiteral("AB1"));
    choose(s.get<QComboBox>("ComboBox2"), QStringLiteral("January"));
    choose(s.get<QComboBox>("ComboBox3"), QStringLiteral("2004"));
    s.click("SpeedButton5");
    QCOMPARE(s.text("Label28"), QStringLiteral("1"));
    QCOMPARE(s.text("Label32"), QStringLiteral("0:0:5"));
    QCOMPARE(s.text("Label33"), QStringLiteral("4.17"));
}

void LogPageTest::aNamePickedFromTheListStaysPicked()
{
    Server s(LoggingOn);
    const QString m = thisMonth(), y = thisYear();
    addRow(s, "Local", "ISP One", qPrintable(m), qPrintable(y), 0, 1);
    addRow(s, "vm", "ISP One", qPrintable(m), qPrintable(y), 0, 1);
    addRow(s, "vm", "ISP One", qPrintable(m), qPrintable(y), 0, 1);
    QComboBox *users = s.get<QComboBox>("ComboBox4");
    users->showPopup();
    QAbstractItemView *view = users->view();
    QTRY_VERIFY(view->isVisible());
    // As on a desktop: the list's window closes and the focus comes back to
    // the box before the click's item is taken.
    struct FocusBack : QObject {
        QComboBox *box;
        explicit FocusBack(QComboBox *b) : box(b) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Hide) {
                QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
                QCoreApplication::sendEvent(box, &in);
                QFocusEvent popup(QEvent::FocusIn, Qt::PopupFocusReason);
                QCoreApplication::sendEvent(box, &popup);
            }
            return false;
        }
    } focusBack(users);
    view->window()->installEventFilter(&focusBack);
    const int vm = users->findText(QStringLiteral("vm"));
    QVERIFY(vm > 0);
    const QRect row = view->visualRect(view->model()->index(vm, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row.center());
    QTRY_VERIFY(!view->isVisible());
    QCOMPARE(users->currentText(), QStringLiteral("vm"));
    s.click("SpeedButton5");
    QCOMPARE(s.text("Label28"), QStringLiteral("2"));
    QCOMPARE(s.get<QTableView>("DBGrid1")->model()->index(1, 2).data().toString(), QStringLiteral("vm"));
}

void LogPageTest::clearDeletesTheShownRowsAndNeverWhileConnected()
{
    Server s(LoggingOn);
    addRow(s, "pc1", "Keep", "02", "26", 0, 1);
    addRow(s, "pc1", "Drop", "02", "26", 0, 1);
    addRow(s, "pc1", "Drop", "03", "26", 0, 1);
    QComboBox *entries = s.get<QComboBox>("ComboBox1");
    s.window->ComboBox1Enter();
    choose(entries, QStringLiteral("Drop"));
    choose(s.get<QComboBox>("ComboBox2"), QStringLiteral("February"));
    s.click("SpeedButton5");
    // Changed but not sorted: the grid's rows are what goes.
    choose(s.get<QComboBox>("ComboBox2"), QStringLiteral("All"));

    const auto up = s.line->connectFromOutside("ISP One");
    s.core->Timer1Timer();
    s.click("SpeedButton2");
    QCOMPARE(s.prompter.said.back().text, std::string("Can not clear log while connection is online\nHang up first"));
    s.line->dropFromOutside(up);
    s.core->Timer1Timer();
    s.prompter.answers = {B::Cancel, B::Yes};
    s.click("SpeedButton2");
    QCOMPARE(s.prompter.said.back().text, std::string("Do you really want to erase all log that shows in the grid ?"));
    QCOMPARE(s.prompter.said.back().buttons, (std::vector<B>{B::Yes, B::Cancel}));
    QCOMPARE(s.core->logDatabase().summary({})->count, 3);
    s.click("SpeedButton2");
    QCOMPARE(s.core->logDatabase().summary({})->count, 2);
    QCOMPARE(s.core->logDatabase().distinctEntries().value(), (std::vector<std::string>{"Drop", "Keep"}));
    QCOMPARE(s.text("Label28"), QStringLiteral("0"));
}

void LogPageTest::reportsAreWrittenOffTheWindowAndFallBackToText()
{
    Server s(LoggingOn);
    addRow(s, "pc1", "Metro", "03", "26", 0, 1);
    choose(s.get<QComboBox>("ComboBox2"), QStringLiteral("March"));
    choose(s.get<QComboBox>("ComboBox3"), QStringLiteral("All"));
    std::vector<std::pair<QString, bool>> offered;
    std::vector<QString> answers = {QString::fromStdString(s.dir.file("report.xlsx"))};
    s.window->setSaveChooser([&](const QString &proposed, bool textOnly) {
        offered.emplace_back(proposed, textOnly);
        const QString a = answers.empty() ? QString() : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return a;
    });
    QSignalSpy written(s.window.get(), &server::ui::TForm1::reportWritten);
    s.click("Button4");
    QVERIFY(written.wait(10000));
    QCOMPARE(offered.at(0), (std::pair<QString, bool>{QStringLiteral("rpt-March-All.xlsx"), false}));
    QVERIFY(test::readFile(s.dir.file("report.xlsx")).rfind("PK", 0) == 0);
    QVERIFY(s.prompter.said.empty());

    // A workbook that cannot be written offers the text file.
    answers = {QString::fromStdString(s.dir.file("missing/report.xlsx")), QString::fromStdString(s.dir.file("r.txt"))};
    s.prompter.answers = {B::Ok};
    s.click("Button4");
    QVERIFY(written.wait(10000));
    QCOMPARE(s.prompter.said.at(0).text,
             std::string("You do not have MS Excel installed, Velora will save the report in \"Tab delimiter\" format.\n"
                         "So you can open the file with another Spread sheet programs"));
    QCOMPARE(offered.at(2), (std::pair<QString, bool>{QStringLiteral("rpt-March-All.txt"), true}));
    const std::string text = test::readFile(s.dir.file("r.txt"));
    QVERIFY(text.find("Period  :\tMonth : March  Year :All\r\n") != std::string::npos);
    QVERIFY(text.find("\tpc1\tMetro\t0\t0:0:0\r\n") != std::string::npos);

    // Cancelled dialogs write nothing and ask nothing.
    answers.clear();
    s.click("Button4");
    QVERIFY(!s.window->reportJob().running());
    QCOMPARE(s.prompter.said.size(), std::size_t(1));
}


void LogPageTest::auditTabAndTheMonthsCostFollowTheLog()
{
    Server s("[server]\nport=0\n[dial]\nconnectionlogging=1\n[policy]\nmonthlybudget=100\n");
    QVERIFY(s.core->logDatabase().saveHarga("ISP One", "2.5"));
    addRow(s, "pc1", "ISP One", qPrintable(thisMonth()), qPrintable(thisYear()), 56000, 3600);
    addRow(s, "pc1", "ISP One", "01", "99", 56000, 7200);  // another month: not this month's cost
    s.click("SpeedButton5");
    QCOMPARE(s.text("LbMonthCost"), QStringLiteral("2.50 of 100 budget"));

    auto *tabs = s.get<QTabWidget>("logTabs");
    QCOMPARE(tabs->tabText(1), QStringLiteral("Audit"));
    auto *grid = s.get<QTableView>("DBGridAudit");
    QCOMPARE(grid->model()->rowCount(), 0);
    s.core->operatorLock();  // one row, shown once the tab is
    s.get<QTabWidget>("PageControl1")->setCurrentWidget(s.get<QWidget>("Tablog"));
    tabs->setCurrentIndex(1);
    QCOMPARE(grid->model()->rowCount(), 1);
    QCOMPARE(grid->model()->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Action"));
    QCOMPARE(grid->model()->index(0, 1).data().toString(), QStringLiteral("operator"));
    QCOMPARE(grid->model()->index(0, 4).data().toString(), QStringLiteral("lock"));
    // While shown, a new row comes in a moment later, newest first.
    s.core->operatorUnlock();
    QTRY_COMPARE_WITH_TIMEOUT(grid->model()->rowCount(), 2, 3000);
    QCOMPARE(grid->model()->index(0, 4).data().toString(), QStringLiteral("unlock"));
    QVERIFY2(s.text("LbAuditCount").startsWith(QStringLiteral("2 rows")), qPrintable(s.text("LbAuditCount")));
}

void LogPageTest::usageChartNamesItsSeriesAndTicksAtRoundFigures()
{
    const server::log::BillingCycle cycle = server::log::cycleOf(QDate(2026, 11, 27), 15);
    std::vector<server::log::DayUsage> days;
    for (QDate d = cycle.first; d <= cycle.last; d = d.addDays(1))
        days.push_back({d, d.day() * 23456789ull, d.day() * 3456789ull, d.day() * 13579});
    server::ui::UsageTab tab;
    tab.resize(900, 640);
    tab.show(cycle, days, {}, 8192ull * 1048576, QDate(2026, 11, 27));
    tab.grab();
    // Shown again, as each refresh does, and looked at at once.
    tab.show(cycle, days, {}, 8192ull * 1048576, QDate(2026, 11, 27));
    auto *view = tab.findChild<QChartView *>(QStringLiteral("UsageChart"));
    const QImage picture = view->grab().toImage();
    QChart *chart = view->chart();
    QStringList names;
    for (QLegendMarker *m : chart->legend()->markers())
        names << m->label();
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("Cost"), QStringLiteral("Down"),
                                 QStringLiteral("Projection (average day so far)"), QStringLiteral("Up")}));
    // The legend is drawn: its box holds the colour of the bars "Down".
    const QColor down = qobject_cast<QAbstractBarSeries *>(chart->series().front())->barSets().front()->color();
    const QRect legend = view->mapFromScene(chart->mapToScene(chart->legend()->geometry())).boundingRect();
    int downPixels = 0;
    for (int y = legend.top(); y <= legend.bottom(); ++y)
        for (int x = legend.left(); x <= legend.right(); ++x)
            downPixels += picture.valid(x, y) && picture.pixelColor(x, y) == down;
    QVERIFY2(downPixels > 0, "no legend in the picture");

    const auto values = chart->axes(Qt::Vertical);
    QCOMPARE(values.size(), 2);
    for (QAbstractAxis *a : values) {
        const auto *axis = qobject_cast<QValueAxis *>(a);
        const double step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
        QCOMPARE(axis->min(), 0.0);
        QVERIFY2(roundStep(step), qPrintable(axis->titleText() + QStringLiteral(" ticks every %1").arg(step)));
        // One grid serves both.
        QCOMPARE(axis->tickCount(), qobject_cast<QValueAxis *>(values.front())->tickCount());
    }
}

QTEST_MAIN(LogPageTest)
#include "LogPageTest.moc"
