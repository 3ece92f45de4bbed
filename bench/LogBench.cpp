// The connection log with a million rows: the viewer's sort and show, the
// minute update of an open row, and a 100,000-row report written while the
// window keeps its event loop turning.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "server/log/LogReport.h"
#include "support/ServerWithWindow.h"

using namespace velora;
using namespace velora::test;

namespace {

constexpr int kRows = 1000000;
constexpr int kEntries = 10;  // so one entry holds 100,000 rows

double ms(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

void fill(server::log::LogDatabase &db)
{
    QSqlDatabase c = QSqlDatabase::database(QString::fromStdString(db.connectionName()));
    c.transaction();
    QSqlQuery q(c);
    q.prepare(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua)"
                             " VALUES ('10:11:12 AM',?,?,'0:12:3','12/9/2026',?,?,?,?)"));
    for (int i = 0; i < kRows; ++i) {
        q.addBindValue(QStringLiteral("pc%1").arg(i % 25));
        q.addBindValue(QStringLiteral("Entry%1").arg(i % kEntries));
        q.addBindValue(i % 5 ? 57600 : 0);
        // Years of rows, oldest first, the newest in this month.
        const int month = (i / 8000) % 12 + 1, year = 26 - (kRows - 1 - i) / 96000;
        q.addBindValue(QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0')));
        q.addBindValue(QStringLiteral("%1").arg(std::max(year, 1), 2, 10, QLatin1Char('0')));
        q.addBindValue(i % 3600);
        q.exec();
    }
    c.commit();
}

void sortAndShow(Server &s, const char *what)
{
    QTableView *grid = s.get<QTableView>("DBGrid1");
    double worst = 0, sum = 0;
    const int runs = 10;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        s.window->sortlog();
        grid->grab();  // the first screen laid out and painted
        const double took = ms(t);
        worst = std::max(worst, took);
        sum += took;
    }
    std::printf("sortlog + Showlog + first screen, %-28s mean %7.2f ms  worst %7.2f ms  (%s rows)\n", what,
                sum / runs, worst, qPrintable(s.text("Label28")));
}

void choose(Server &s, const char *box, const char *text)
{
    QComboBox *list = s.get<QComboBox>(box);
    list->setCurrentIndex(list->findText(QString::fromLatin1(text)));
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Server s("[server]\nport=0\n[dial]\nconnectionlogging=1\n");
    s.window->resize(900, 600);
    s.window->show();

    QElapsedTimer t;
    t.start();
    fill(s.core->logDatabase());
    std::printf("filled %d rows in %.1f s\n", kRows, ms(t) / 1000);
    s.core->logDatabase().saveHarga("Entry3", "3000");

    // This month and year, as at start-up; then everything; then one entry.
    s.window->ComboBox1Enter();
    s.window->ComboBox4Enter();
    sortAndShow(s, "this month:");
    choose(s, "ComboBox2", "All");
    choose(s, "ComboBox3", "All");
    sortAndShow(s, "all months and years:");
    choose(s, "ComboBox1", "Entry3");
    sortAndShow(s, "one entry, all years:");
    choose(s, "ComboBox4", "pc8");
    sortAndShow(s, "one entry and user:");
    choose(s, "ComboBox4", "pc7");
    sortAndShow(s, "an entry and user never met:");

    // The minute update of the open row, as the connection tick writes it.
    server::state::ServerState st;
    st.ActiveEntry = "Entry3";
    st.SpeedValue = "57600";
    st.TimeOnlineText = "0:0:0";
    s.core->logDatabase().writelog(0, st);
    double worst = 0, sum = 0;
    const int updates = 500;
    for (int i = 1; i <= updates; ++i) {
        st.SecondsOnline = static_cast<std::uint64_t>(i) * 60;
        st.TimeOnlineText = olahwaktu(st.SecondsOnline);
        QElapsedTimer u;
        u.start();
        s.core->logDatabase().writelog(1, st);
        const double took = ms(u);
        worst = std::max(worst, took);
        sum += took;
    }
    std::printf("writelog(1) on %d rows: mean %.3f ms  worst %.3f ms\n", kRows + 1, sum / updates, worst);

    // A 100,000-row report, straight and through the window.
    server::log::LogFilter oneEntry;
    oneEntry.entry = "Entry3";
    for (auto format : {server::log::ReportFormat::Workbook, server::log::ReportFormat::Text}) {
        const std::string out = s.dir.file(format == server::log::ReportFormat::Text ? "r.txt" : "r.xlsx");
        std::string why;
        QElapsedTimer r;
        r.start();
        const bool ok = server::log::writeReport(s.core->logPath(), oneEntry, {}, {}, out, format, {}, &why);
        std::printf("report of 100,000 rows as %s: %.2f s %s\n",
                    format == server::log::ReportFormat::Text ? "text    " : "workbook", ms(r) / 1000,
                    ok ? "" : why.c_str());
    }
    choose(s, "ComboBox4", "All");
    s.window->setSaveChooser([&](const QString &, bool) { return QString::fromStdString(s.dir.file("w.xlsx")); });
    QSignalSpy written(s.window.get(), &server::ui::TForm1::reportWritten);
    QElapsedTimer clock, total;
    qint64 last = 0, longest = 0;
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    total.start();
    probe.start();
    s.window->Button4Click();  // sortlog, then the report on its thread
    longest = std::max(longest, clock.nsecsElapsed() - last);
    last = clock.nsecsElapsed();
    while (written.isEmpty() && total.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    probe.stop();
    std::printf("report of 100,000 rows from the window: %.2f s, longest event-loop stall %.2f ms%s\n",
                ms(total) / 1000, static_cast<double>(longest) / 1e6, written.isEmpty() ? " (NOT WRITTEN)" : "");
    return 0;
}
