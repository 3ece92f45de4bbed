#pragma once
// The log database: one SQLite connection for the life of the server and the
// statements run on its three tables (`log`, `harga`, `smtp`). Every value is
// bound as a parameter, so a name with a double quote is stored as it is and
// cannot change a statement. Texts cross this class as Windows-1252 bytes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/NumberFormat.h"
#include "server/state/ServerState.h"

class QSqlQuery;
class QString;
class QTime;

class QDate;

namespace velora::server::log {

// The viewer's selection. A value matches that column exactly (so "A_1"
// never pulls in "AB1"'s rows); no value matches every row.
struct LogFilter {
    std::optional<std::string> bulan;  // "01".."12"
    std::optional<std::string> tahun;  // "00".."99"
    std::optional<std::string> entry;
    std::optional<std::string> usera;
    bool operator==(const LogFilter &) const = default;
};

// The month and year of the given day, as the log writes bulan and tahun.
LogFilter monthOf(const QDate &day);

// One row as the grid and the report show it, texts as stored.
struct LogRow {
    std::int64_t id = 0;
    std::string waktu, usera, entry, duration, tanggal, speed;
};

// The viewer's summary of a filter, summed in 64 bits.
struct LogSummary {
    std::int64_t count = 0;
    std::int64_t seconds = 0;
    std::int64_t speedSum = 0;    // over rows whose speed is not 0
    std::int64_t speedCount = 0;
    std::int64_t costTenThousandths = 0;
};

// The four summary texts: count, "N bps", h:m:s and "###,##0.00".
struct SummaryTexts {
    std::string count = "0", speed = "0", time = "0", cost = "0.00";
};
SummaryTexts summaryTexts(const LogSummary &s, const NumberSeparators &seps);

// One line of the audit trail: who asked for what, from where. `time` is
// seconds since the epoch so the period selection can compare numbers.
struct AuditRow {
    std::int64_t id = 0;
    std::int64_t time = 0;
    std::string user, host, address, action, detail;
};

struct SmtpServer {
    std::string server;
    std::string port;
};

class LogDatabase {
public:
    LogDatabase();
    ~LogDatabase();
    LogDatabase(const LogDatabase &) = delete;
    LogDatabase &operator=(const LogDatabase &) = delete;

    // Opens the file, creating it and any missing table. A file that is not
    // a database, or cannot be opened, is left untouched: false, with why in
    // plain words, and every later operation fails.
    bool open(const std::string &path, std::string *why = nullptr);
    // For a reader beside the server (the report): changes nothing in the file.
    bool openForReading(const std::string &path, std::string *why = nullptr);
    bool isOpen() const { return open_; }

    // writelog(0): inserts the current connection's row (ConnectionDialer becomes
    // "Local" when empty) and remembers its id. writelog(1): brings the
    // remembered row up to date. False on any failure.
    bool writelog(int mode, state::ServerState &st);
    // The connection is over: later updates have no row to write to.
    void forgetRow() { rowId_.reset(); }
    std::optional<std::int64_t> openRowId() const { return rowId_; }

    // Cost per hour of an entry as stored; "0" when it has none.
    std::optional<std::string> harga(const std::string &entry);
    // Upsert; an empty cost is stored as "0".
    bool saveHarga(const std::string &entry, const std::string &cost);

    std::optional<SmtpServer> smtp(const std::string &entry);
    bool saveSmtp(const std::string &entry, const SmtpServer &server);

    // Sum of waktua * harga / 3600 over the filtered rows whose entry has a
    // cost, in ten-thousandths; 0 for an empty set.
    std::optional<std::int64_t> costTenThousandths(const LogFilter &filter = {});
    // The same as "###,##0.00" with the given separators.
    std::optional<std::string> totalCost(const LogFilter &filter, const NumberSeparators &seps);

    // An entry renamed or deleted: its rows in all three tables follow.
    bool renameEntry(const std::string &oldName, const std::string &newName);
    bool deleteEntryData(const std::string &entry);

    // ---- the viewer ----
    // Up to `limit` rows of the filter, newest first, older than `beforeId`
    // when given: the grid fetches page by page.
    std::optional<std::vector<LogRow>> rows(const LogFilter &filter, std::optional<std::int64_t> beforeId,
                                            int limit);
    std::optional<LogSummary> summary(const LogFilter &filter);
    // Names present in the log, sorted.
    std::optional<std::vector<std::string>> distinctEntries();
    std::optional<std::vector<std::string>> distinctUsers();
    // Deletes exactly the rows of the filter.
    bool clearLog(const LogFilter &filter);
    // The summary and every row of the filter, newest first, from one
    // snapshot; the callback returns false to stop.
    bool readReport(const LogFilter &filter, LogSummary &summary,
                    const std::function<bool(const LogRow &, std::int64_t done)> &row);

    // ---- the audit trail ----
    // Appends one row; false when it could not be written (the caller
    // reports that once and serving goes on).
    bool audit(const AuditRow &row);
    // Removes at most `limit` rows older than `before` (seconds since the
    // epoch), the oldest first; how many went, or nothing on failure.
    std::optional<int> pruneAudit(std::int64_t before, int limit);
    // Up to `limit` rows, newest first; rows in [from, to) when given.
    std::optional<std::vector<AuditRow>> auditRows(int limit, std::optional<std::int64_t> from = std::nullopt,
                                                   std::optional<std::int64_t> to = std::nullopt);
    // Every row of the filter's month and year (local time; its entry and
    // user do not apply), newest first; the callback returns false to stop.
    // False when the rows could not be read. A limit below 0 is none.
    bool readAudit(const LogFilter &filter, const std::function<bool(const AuditRow &)> &row, int limit = -1);
    // How many rows the filter's month and year hold.
    std::optional<std::int64_t> auditCount(const LogFilter &filter);

    const std::string &connectionName() const { return connection_; }

    // The `waktu` text: the locale's long time format without its time zone.
    static QString longTimeText(const QTime &time);

private:
    bool openConnection(const std::string &path, bool readOnly, std::string *why);
    std::optional<LogSummary> summaryIn(QSqlQuery &q, const LogFilter &filter);

    std::string connection_;
    bool open_ = false;
    // The per-group totals exist and are kept by triggers.
    bool totals_ = false;
    std::optional<std::int64_t> rowId_;
};

// Ten-thousandths as "###,##0.00", rounded half away from zero.
std::string formatCost(std::int64_t tenThousandths, const NumberSeparators &seps);

}  // namespace velora::server::log
