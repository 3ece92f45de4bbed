#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <filesystem>
#include <map>
#include <string>

#include "server/log/LogReport.h"
#include "server/log/UsageBook.h"
#include "support/TestFiles.h"

using namespace velora;
using namespace velora::server::log;

namespace {

struct Cell {
    std::string value, bold, size, borders, align;
};

// The workbook as a spreadsheet reader sees it, keyed "A7", plus the widths.
struct ReadBack {
    std::map<std::string, Cell> cells;
    std::map<std::string, double> widths;
};

ReadBack readWorkbook(const std::string &path, const QString &sheet = {})
{
    QProcess p;
    QStringList args{QStringLiteral(VELORA_READ_XLSX), QString::fromStdString(path)};
    if (!sheet.isEmpty())
        args << sheet;
    p.start(QStringLiteral(VELORA_SYSTEM_PYTHON), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    ReadBack out;
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f[0] == QLatin1String("width"))
            out.widths[f[1].toStdString()] = f[2].toDouble();
        else if (f.size() == 7)
            out.cells[(f[1] + f[0]).toStdString()] = {f[2].toStdString(), f[3].toStdString(), f[4].toStdString(),
                                                       f[5].toStdString(), f[6].toStdString()};
    }
    return out;
}

struct LogReport : ::testing::Test {
    test::TempDir dir;
    std::string dbPath = dir.file("log.db");
    LogDatabase db;
    ReportHeading heading{"March", "All", "All", "pc1"};

    void SetUp() override { ASSERT_TRUE(db.open(dbPath)); }
    void rows(int n)
    {
        QSqlQuery q(QSqlDatabase::database(QString::fromStdString(db.connectionName())));
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,"
                                              "waktua) VALUES ('9:0%1:00 AM','pc1','Metro','0:1:%1','3/%1/2004',"
                                              "57600,'03','04',%2)")
                                   .arg(i + 1)
                                   .arg(60 + i + 1)));
        ASSERT_TRUE(db.saveHarga("Metro", "3000"));
    }
    std::string write(ReportFormat format, const LogFilter &filter = {})
    {
        const std::string out = dir.file(reportFileName(heading, format));
        std::string why;
        EXPECT_TRUE(writeReport(dbPath, filter, heading, {}, out, format, {}, &why)) << why;
        return out;
    }
};

}  // namespace

TEST_F(LogReport, TextFileHoldsTheExactLines)
{
    EXPECT_EQ(reportFileName(heading, ReportFormat::Text), "rpt-March-All.txt");
    const std::string head =
        "Dovazu Networking Usage report\r\n \r\nPeriod  :\tMonth : March  Year :All\r\nEntry    :\tAll\r\n"
        "User     :\tpc1\r\n \r\n \r\n     Date     \t     Time     \t     User     \t     Dialup entry    \t"
        "     Speed     \t     Duration     \r\n";
    EXPECT_EQ(test::readFile(write(ReportFormat::Text)),
              head + " \r\n \r\nSummary\r\nConnection count :\t0\r\nEverage speed    :\t0\r\n"
                     "Total Time       :\t0\r\nTotal cost       :\t0.00\r\n");
    rows(3);
    EXPECT_EQ(test::readFile(write(ReportFormat::Text)),
              head +
                  "3/3/2004\t9:03:00 AM\tpc1\tMetro\t57600\t0:1:3\r\n"
                  "3/2/2004\t9:02:00 AM\tpc1\tMetro\t57600\t0:1:2\r\n"
                  "3/1/2004\t9:01:00 AM\tpc1\tMetro\t57600\t0:1:1\r\n"
                  " \r\n \r\nSummary\r\nConnection count :\t3\r\nEverage speed    :\t57600 bps\r\n"
                  "Total Time       :\t0:3:6\r\nTotal cost       :\t155.00\r\n");
}

TEST_F(LogReport, WorkbookPutsEveryTextInItsCell)
{
    const ReadBack empty = readWorkbook(write(ReportFormat::Workbook));
    EXPECT_EQ(empty.cells.at("A11").value, "Summary");
    EXPECT_EQ(empty.cells.at("A13").value, "Connection count :");
    EXPECT_EQ(empty.cells.at("C13").value, "0");
    EXPECT_EQ(empty.cells.at("C16").value, "0.00");
    EXPECT_EQ(empty.cells.count("A8"), 0u);

    rows(3);
    const ReadBack book = readWorkbook(write(ReportFormat::Workbook));
    const Cell &title = book.cells.at("A1");
    EXPECT_EQ(title.value + "|" + title.bold + "|" + title.size, "Dovazu Networking Usage report|b|12.0");
    EXPECT_EQ(book.cells.at("A3").value + "|" + book.cells.at("A3").bold + "|" + book.cells.at("A3").size,
              "Period  :|b|10.0");
    EXPECT_EQ(book.cells.at("A4").value, "Entry    :");
    EXPECT_EQ(book.cells.at("A5").value, "User     :");
    EXPECT_EQ(book.cells.at("B3").value, "Month : March  Year :All");
    EXPECT_EQ(book.cells.at("B4").value, "All");
    EXPECT_EQ(book.cells.at("B5").value, "pc1");
    const std::pair<const char *, const char *> header[] = {
        {"A7", "     Date     "},         {"B7", "     Time     "},  {"C7", "     User     "},
        {"D7", "     Dialup entry    "}, {"E7", "     Speed     "}, {"F7", "     Duration     "}};
    for (const auto &[at, text] : header) {
        const Cell &c = book.cells.at(at);
        EXPECT_EQ(c.value + "|" + c.bold + "|" + c.size + "|" + c.borders + "|" + c.align,
                  std::string(text) + "|b|10.0|double/double|center")
            << at;
    }
    EXPECT_EQ(book.cells.at("A8").value, "3/3/2004");
    EXPECT_EQ(book.cells.at("F8").value, "0:1:3");
    EXPECT_EQ(book.cells.at("E10").value, "57600");
    EXPECT_EQ(book.cells.at("B10").value, "9:01:00 AM");
    EXPECT_EQ(book.cells.count("A11"), 0u);
    EXPECT_EQ(book.cells.at("A14").value + "|" + book.cells.at("A14").size, "Summary|11.0");
    const std::pair<const char *, const char *> summary[] = {{"A16", "Connection count :"},
                                                             {"A17", "Everage speed     :"},
                                                             {"A18", "Total Time           :"},
                                                             {"A19", "Total cost             :"},
                                                             {"C16", "3"},
                                                             {"C17", "57600 bps"},
                                                             {"C18", "0:3:6"},
                                                             {"C19", "155.00"}};
    for (const auto &[at, text] : summary)
        EXPECT_EQ(book.cells.at(at).value, text) << at;
    EXPECT_EQ(book.cells.at("A16").bold, "b");
    // Fitted to the widest of the header and the rows.
    EXPECT_GT(book.widths.at("D"), book.widths.at("A"));
    EXPECT_GE(book.widths.at("D"), 21.0);
}

TEST_F(LogReport, WorkbookHasTheAuditOfThePeriodOnASheetOfItsOwn)
{
    const auto at = [](int month, int day) {
        return QDateTime(QDate(2004, month, day), QTime(10, 30)).toSecsSinceEpoch();
    };
    ASSERT_TRUE(db.audit({0, at(3, 2), "ann", "pc1", "127.0.0.1", "dial", "Metro"}));
    ASSERT_TRUE(db.audit({0, at(3, 5), "operator", "Admin@srv", "192.0.2.1", "lock", "caf\xE9"}));
    ASSERT_TRUE(db.audit({0, at(4, 1), "ann", "pc1", "127.0.0.1", "hangup", ""}));
    rows(1);
    LogFilter march;
    march.bulan = "03";
    march.tahun = "04";
    const ReadBack audit = readWorkbook(write(ReportFormat::Workbook, march), QStringLiteral("Audit"));
    EXPECT_EQ(audit.cells.at("A1").value, "Audit trail");
    EXPECT_EQ(audit.cells.at("A3").value + audit.cells.at("F3").value, "TimeDetail");
    // Newest first, as the log sheet; April's row is not in March.
    EXPECT_EQ(audit.cells.at("A4").value, "2004-03-05 10:30:00");
    EXPECT_EQ(audit.cells.at("F4").value, "caf\u00e9");
    EXPECT_EQ(audit.cells.at("B5").value + "|" + audit.cells.at("C5").value + "|" + audit.cells.at("D5").value +
                  "|" + audit.cells.at("E5").value + "|" + audit.cells.at("F5").value,
              "ann|pc1|127.0.0.1|dial|Metro");
    EXPECT_EQ(audit.cells.count("A6"), 0u);
    // The log's own sheet is still the first.
    EXPECT_EQ(readWorkbook(dir.file(reportFileName(heading, ReportFormat::Workbook))).cells.at("A8").value,
              "3/1/2004");
}

TEST_F(LogReport, WorkbookHasTheBytesOfEachComputerOfThePeriodOnTheUsageSheet)
{
    UsageBook book(db);
    ASSERT_TRUE(book.add(QDate(2004, 3, 1), {{"192.168.0.2", "ann", 3000000, 40000}, {kThisComputer, kThisComputer, 500, 700}}));
    ASSERT_TRUE(book.add(QDate(2004, 3, 31), {{"192.168.0.2", "ann-pc", 1000000, 10000}, {"192.168.0.3", "bob", 9000000, 1}}));
    // Neither is in March 2004: another month, and March of another year.
    ASSERT_TRUE(book.add(QDate(2004, 4, 1), {{"192.168.0.2", "ann", 77, 77}}));
    ASSERT_TRUE(book.add(QDate(2005, 3, 1), {{"192.168.0.4", "cy", 88, 88}}));
    rows(1);
    LogFilter march;
    march.bulan = "03";
    march.tahun = "04";
    const ReadBack usage = readWorkbook(write(ReportFormat::Workbook, march), QStringLiteral("Usage"));
    EXPECT_EQ(usage.cells.at("B3").value, "Month : March  Year :All");
    EXPECT_EQ(usage.cells.at("A5").value + "|" + usage.cells.at("D5").value, "Address|Bytes up");
    const auto line = [&](int row) {
        const std::string r = std::to_string(row);
        std::string out;
        for (const char *col : {"A", "B", "C", "D"})
            out += (usage.cells.count(col + r) ? usage.cells.at(col + r).value : "") + "|";
        return out;
    };
    // Largest first, the name of the latest day, then the sums as numbers.
    EXPECT_EQ(line(6), "192.168.0.3|bob|9000000|1|");
    EXPECT_EQ(line(7), "192.168.0.2|ann-pc|4000000|50000|");
    EXPECT_EQ(line(8), "this computer|this computer|500|700|");
    EXPECT_EQ(line(9), "Total||13000500|50701|");
    EXPECT_EQ(usage.cells.at("A9").bold, "b");
    EXPECT_EQ(usage.cells.count("A10"), 0u);

    // A year's report sums April in.
    LogFilter year;
    year.tahun = "04";
    const ReadBack all = readWorkbook(write(ReportFormat::Workbook, year), QStringLiteral("Usage"));
    EXPECT_EQ(all.cells.at("C7").value + "|" + all.cells.at("A9").value + "|" + all.cells.at("D9").value,
              "4000077|Total|50778");
}

TEST_F(LogReport, AFailedOrStoppedReportLeavesNoFileBehind)
{
    rows(600);
    std::string why;
    const std::string out = dir.file("rpt.txt");
    test::writeFile(out, "previous report");
    EXPECT_FALSE(writeReport(dbPath, {}, heading, {}, out, ReportFormat::Text,
                             [](std::int64_t done, std::int64_t) { return done < 512; }, &why));
    EXPECT_EQ(why, "the report was stopped");
    EXPECT_EQ(test::readFile(out), "previous report");
    EXPECT_FALSE(writeReport(dbPath, {}, heading, {}, dir.file("missing/rpt.xlsx"), ReportFormat::Workbook, {}, &why));
    EXPECT_NE(why.find("cannot write"), std::string::npos) << why;
    EXPECT_FALSE(writeReport(dir.file("none.db"), {}, heading, {}, out, ReportFormat::Text, {}, &why));
    EXPECT_NE(why.find("cannot"), std::string::npos) << why;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file(".")), {}), 4) << "log.db, -wal, -shm, rpt.txt";
}

TEST_F(LogReport, TextCellsThatASpreadsheetWouldRunStartWithAnApostrophe)
{
    QSqlQuery q(QSqlDatabase::database(QString::fromStdString(db.connectionName())));
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua) "
                                      "VALUES ('9:00:00 AM','=1+2','+Metro','0:0:1','-3/1/2004',0,'03','04',1)")));
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua) "
                                      "VALUES ('9:00:01 AM','@SUM(A1)','Metro=1','0:0:2','3/1/2004',0,'03','04',2)")));
    heading.user = "=HYPERLINK(\"x\")";
    const std::string text = test::readFile(write(ReportFormat::Text));
    EXPECT_NE(text.find("User     :\t'=HYPERLINK(\"x\")\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n3/1/2004\t9:00:01 AM\t'@SUM(A1)\tMetro=1\t0\t0:0:2\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n'-3/1/2004\t9:00:00 AM\t'=1+2\t'+Metro\t0\t0:0:1\r\n"), std::string::npos) << text;
}
