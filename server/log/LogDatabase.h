#pragma once
// The log database: one SQLite connection for the life of the server and the
// statements run on its three tables (`log`, `harga`, `smtp`). Every value is
// bound as a parameter, so a name with a double quote is stored as it is and
// cannot change a statement. Texts cross this class as Windows-1252 bytes.

#include <cstdint>
#include <optional>
#include <string>

#include "common/NumberFormat.h"
#include "server/state/ServerState.h"

namespace velora::server::log {

// The viewer's four `like` patterns; "%" matches everything.
struct LogFilter {
    std::string bulan = "%";
    std::string tahun = "%";
    std::string entry = "%";
    std::string usera = "%";
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
    bool isOpen() const { return open_; }

    // writelog(0): inserts the current connection's row (DialerName becomes
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

    const std::string &connectionName() const { return connection_; }

private:
    std::string connection_;
    bool open_ = false;
    std::optional<std::int64_t> rowId_;
};

// Ten-thousandths as "###,##0.00", rounded half away from zero.
std::string formatCost(std::int64_t tenThousandths, const NumberSeparators &seps);

}  // namespace velora::server::log
