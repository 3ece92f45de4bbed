// The audit trail: how long one row takes to write (it is written on the
// main thread as each command arrives), and the Audit tab's reload and the
// workbook's sheet with 200,000 rows in the month shown.
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>

#include "server/log/LogReport.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::log;

namespace {
double ms(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    test::TempDir dir;
    const std::string path = dir.file("log.db");
    LogDatabase db;
    if (!db.open(path)) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    constexpr int kSingles = 2000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kSingles; ++i)
        db.audit({0, now, "ann", "pc1", "127.0.0.1", i % 2 ? "lock" : "unlock", ""});
    std::printf("audit row, one at a time as commands come: %.3f ms each\n", ms(t) / kSingles);

    // The month's bulk, in one transaction so the bench sets up quickly.
    constexpr int kBulk = 200000;
    {
        QSqlDatabase c = QSqlDatabase::database(QString::fromStdString(db.connectionName()));
        c.transaction();
        QSqlQuery q(c);
        q.prepare(QStringLiteral("INSERT INTO audit (waktu,usera,host,address,action,detail) VALUES (?,?,?,?,?,?)"));
        for (int i = 0; i < kBulk; ++i) {
            q.addBindValue(QVariant::fromValue<qlonglong>(now - i % 86400));
            q.addBindValue(QStringLiteral("pc%1").arg(i % 25));
            q.addBindValue(QStringLiteral("pc%1").arg(i % 25));
            q.addBindValue(QStringLiteral("10.0.0.%1").arg(i % 25));
            q.addBindValue(QStringLiteral("dial"));
            q.addBindValue(QStringLiteral("Office ISP"));
            q.exec();
        }
        c.commit();
    }
    const LogFilter month = monthOf(QDate::currentDate());
    t.restart();
    int shown = 0;
    db.readAudit(month, [&](const AuditRow &) { return ++shown, true; }, 2000);
    const auto count = db.auditCount(month);
    std::printf("Audit tab reload (newest %d of %lld rows): %.1f ms\n", shown,
                static_cast<long long>(count.value_or(-1)), ms(t));
    t.restart();
    std::string why;
    const bool ok = writeReport(path, month, ReportHeading{"This", "month", "All", "All"}, {}, dir.file("r.xlsx"),
                                ReportFormat::Workbook, {}, &why);
    std::printf("workbook with the Audit sheet of %lld rows: %.0f ms%s\n", static_cast<long long>(count.value_or(-1)),
                ms(t), ok ? "" : (" FAILED: " + why).c_str());
    return 0;
}
