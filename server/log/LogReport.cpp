#include "server/log/LogReport.h"

#include <xlsxwriter.h>

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <sys/stat.h>

#include "common/FileIo.h"
#include "server/log/UsageBook.h"
#include "server/state/Text.h"

namespace velora::server::log {

namespace {

const char kTitle[] = "Dovazu Networking Usage report";
const std::array<const char *, 6> kHeader = {"     Date     ",         "     Time     ",  "     User     ",
                                             "     Dialup entry    ", "     Speed     ", "     Duration     "};

const std::array<const char *, 6> kAuditHeader = {"Time", "User", "Host", "Address", "Action", "Detail"};
const std::array<const char *, 4> kUsageHeader = {"Address", "Name", "Bytes down", "Bytes up"};

std::array<const std::string *, 6> cellsOf(const LogRow &r)
{
    return {&r.tanggal, &r.waktu, &r.usera, &r.entry, &r.speed, &r.duration};
}

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual bool begin(const ReportHeading &h) = 0;
    virtual bool row(const LogRow &r) = 0;
    // Who did what in the period; only the workbook has a place for it.
    virtual bool auditRow(const AuditRow &) { return true; }
    // The bytes of each office computer in the period; workbook only too.
    virtual bool usage(const std::vector<ComputerUsage> &) { return true; }
    virtual bool end(const SummaryTexts &s) = 0;
    virtual std::string failure() const = 0;
};

// A cell that a spreadsheet would take for a formula starts with an
// apostrophe: the text stays one plain tab-separated field that every reader
// splits alike, and both spreadsheets show it as text instead of running it.
std::string textCell(const std::string &cell)
{
    if (!cell.empty() && (cell.front() == '=' || cell.front() == '+' || cell.front() == '-' || cell.front() == '@'))
        return "'" + cell;
    return cell;
}

class TextSink : public ReportSink {
public:
    explicit TextSink(AtomicFile &file) : file_(file) {}
    bool begin(const ReportHeading &h) override
    {
        return line(kTitle) && line(" ") &&
               line("Period  :\t" + textCell("Month : " + h.month + "  Year :" + h.year)) &&
               line("Entry    :\t" + textCell(h.entry)) && line("User     :\t" + textCell(h.user)) && line(" ") &&
               line(" ") &&
               line(std::string(kHeader[0]) + "\t" + kHeader[1] + "\t" + kHeader[2] + "\t" + kHeader[3] + "\t" +
                    kHeader[4] + "\t" + kHeader[5]);
    }
    bool row(const LogRow &r) override
    {
        std::string l;
        bool first = true;
        for (const std::string *cell : cellsOf(r)) {
            if (!first)
                l += '\t';
            l += textCell(*cell);
            first = false;
        }
        return line(l);
    }
    bool end(const SummaryTexts &s) override
    {
        return line(" ") && line(" ") && line("Summary") && line("Connection count :\t" + s.count) &&
               line("Everage speed    :\t" + s.speed) && line("Total Time       :\t" + s.time) &&
               line("Total cost       :\t" + s.cost);
    }
    std::string failure() const override { return std::strerror(errno_ ? errno_ : EIO); }

private:
    bool line(const std::string &l)
    {
        if (!file_.write(l) || !file_.write("\r\n")) {
            errno_ = errno;
            return false;
        }
        return true;
    }
    AtomicFile &file_;
    int errno_ = 0;
};

class WorkbookSink : public ReportSink {
public:
    explicit WorkbookSink(const std::string &path)
    {
        lxw_workbook_options options{};
        // Rows go out in order, so the sheet is streamed: a report of years of
        // rows needs no more memory than one of a day.
        options.constant_memory = LXW_TRUE;
        book_ = workbook_new_opt(path.c_str(), &options);
        if (!book_)
            return;
        sheet_ = workbook_add_worksheet(book_, nullptr);
        audit_ = workbook_add_worksheet(book_, "Audit");
        usage_ = workbook_add_worksheet(book_, "Usage");
        title_ = font(12, true);
        label_ = font(10, true);
        summary_ = font(11, true);
        header_ = font(10, true);
        format_set_top(header_, LXW_BORDER_DOUBLE);
        format_set_bottom(header_, LXW_BORDER_DOUBLE);
        format_set_align(header_, LXW_ALIGN_CENTER);
    }
    ~WorkbookSink() override
    {
        if (book_)
            workbook_close(book_);
    }
    bool begin(const ReportHeading &h) override
    {
        if (!sheet_)
            return false;
        // Row by row: the streamed sheet cannot go back.
        put(0, 0, kTitle, title_);
        put(2, 0, "Period  :", label_);
        put(2, 1, "Month : " + h.month + "  Year :" + h.year);
        put(3, 0, "Entry    :", label_);
        put(3, 1, h.entry);
        put(4, 0, "User     :", label_);
        put(4, 1, h.user);
        for (lxw_col_t c = 0; c < kHeader.size(); ++c)
            put(6, c, kHeader[c], header_, true);
        if (!audit_)
            return false;
        // Streamed too; its widths go in before any row.
        const double widths[] = {20, 14, 24, 16, 12, 60};
        for (lxw_col_t c = 0; c < kAuditHeader.size(); ++c)
            worksheet_set_column(audit_, c, c, widths[c], nullptr);
        put(0, 0, "Audit trail", title_, false, audit_);
        for (lxw_col_t c = 0; c < kAuditHeader.size(); ++c)
            put(2, c, kAuditHeader[c], header_, false, audit_);
        if (!usage_)
            return false;
        const double usageWidths[] = {16, 24, 16, 16};
        for (lxw_col_t c = 0; c < kUsageHeader.size(); ++c)
            worksheet_set_column(usage_, c, c, usageWidths[c], nullptr);
        put(0, 0, "Usage by computer", title_, false, usage_);
        put(2, 0, "Period  :", label_, false, usage_);
        put(2, 1, "Month : " + h.month + "  Year :" + h.year, nullptr, false, usage_);
        for (lxw_col_t c = 0; c < kUsageHeader.size(); ++c)
            put(4, c, kUsageHeader[c], header_, false, usage_);
        return ok_;
    }
    bool usage(const std::vector<ComputerUsage> &computers) override
    {
        lxw_row_t r = 5;
        std::uint64_t down = 0, up = 0;
        for (const ComputerUsage &c : computers) {
            put(r, 0, c.address, nullptr, false, usage_);
            put(r, 1, c.name, nullptr, false, usage_);
            number(r, 2, c.down, nullptr);
            number(r, 3, c.up, nullptr);
            down += c.down;
            up += c.up;
            ++r;
        }
        put(r, 0, "Total", label_, false, usage_);
        number(r, 2, down, label_);
        number(r, 3, up, label_);
        return ok_;
    }
    bool auditRow(const AuditRow &a) override
    {
        const std::string when =
            QDateTime::fromSecsSinceEpoch(a.time).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
        const std::array<const std::string *, 6> cells = {&when, &a.user, &a.host, &a.address, &a.action, &a.detail};
        lxw_col_t c = 0;
        for (const std::string *cell : cells)
            put(nextAudit_, c++, *cell, nullptr, false, audit_);
        ++nextAudit_;
        return ok_;
    }
    bool row(const LogRow &r) override
    {
        lxw_col_t c = 0;
        for (const std::string *cell : cellsOf(r))
            put(next_, c++, *cell, nullptr, true);
        ++next_;
        return ok_;
    }
    bool end(const SummaryTexts &s) override
    {
        // The summary block starts three rows below the last data row + 1.
        const lxw_row_t r = next_ + 1;
        put(r + 2, 0, "Summary", summary_);
        const std::array<std::pair<const char *, const std::string *>, 4> lines = {
            {{"Connection count :", &s.count},
             {"Everage speed     :", &s.speed},
             {"Total Time           :", &s.time},
             {"Total cost             :", &s.cost}}};
        lxw_row_t at = r + 4;
        for (const auto &[label, value] : lines) {
            put(at, 0, label, label_);
            put(at, 2, *value);
            ++at;
        }
        // Fitted to the header and data rows, as an auto-fit would.
        for (lxw_col_t c = 0; c < widths_.size(); ++c)
            worksheet_set_column(sheet_, c, c, widths_[c] * 1.1 + 1.0, nullptr);
        const lxw_error closed = workbook_close(book_);
        book_ = nullptr;
        if (closed != LXW_NO_ERROR) {
            error_ = lxw_strerror(closed);
            return false;
        }
        return ok_;
    }
    std::string failure() const override { return error_.empty() ? "cannot write the workbook" : error_; }

private:
    lxw_format *font(double size, bool bold)
    {
        lxw_format *f = workbook_add_format(book_);
        format_set_font_size(f, size);
        if (bold)
            format_set_bold(f);
        return f;
    }
    void put(lxw_row_t r, lxw_col_t c, const std::string &cp1252, lxw_format *f = nullptr, bool fitted = false,
             lxw_worksheet *sheet = nullptr)
    {
        if (!ok_)
            return;
        if (cp1252.empty() && !f)
            return;  // an empty cell stays empty, as the spreadsheet would leave it
        const QByteArray utf8 = state::shownText(cp1252).toUtf8();
        const lxw_error e = worksheet_write_string(sheet ? sheet : sheet_, r, c, utf8.constData(), f);
        if (e != LXW_NO_ERROR) {
            ok_ = false;
            error_ = lxw_strerror(e);
            return;
        }
        if (fitted)
            widths_[c] = std::max<double>(widths_[c], state::shownText(cp1252).size());
    }
    void number(lxw_row_t r, lxw_col_t c, std::uint64_t n, lxw_format *f)
    {
        if (!ok_)
            return;
        // A double holds every count below 2^53 bytes (8 PiB) exactly.
        const lxw_error e = worksheet_write_number(usage_, r, c, static_cast<double>(n), f);
        if (e != LXW_NO_ERROR) {
            ok_ = false;
            error_ = lxw_strerror(e);
        }
    }
    lxw_workbook *book_ = nullptr;
    lxw_worksheet *sheet_ = nullptr;
    lxw_worksheet *audit_ = nullptr;
    lxw_worksheet *usage_ = nullptr;
    lxw_row_t nextAudit_ = 3;
    lxw_format *title_ = nullptr, *label_ = nullptr, *summary_ = nullptr, *header_ = nullptr;
    lxw_row_t next_ = 7;
    std::array<double, 6> widths_{};
    bool ok_ = true;
    std::string error_;
};

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const char *const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

bool isAll(const std::string &s) { return s.empty() || lower(s) == "all"; }

bool allDigits(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

bool reportRequest(const std::string &month, const std::string &year, const std::string &entry,
                   const std::string &user, LogFilter &filter, ReportHeading &heading, std::string *why)
{
    filter = {};
    heading = {};
    if (!isAll(month)) {
        int m = 0;
        if (allDigits(month) && month.size() <= 2)
            m = std::stoi(month);
        for (int i = 0; i < 12 && m == 0; ++i)
            if (lower(month) == lower(kMonthNames[i]))
                m = i + 1;
        if (m < 1 || m > 12) {
            if (why)
                *why = "unknown month \"" + month + "\" (1 to 12, a month's name, or All)";
            return false;
        }
        filter.bulan = twoDigits(m);
        heading.month = kMonthNames[m - 1];
    }
    if (!isAll(year)) {
        const int y = allDigits(year) && year.size() <= 4 ? std::stoi(year) : -1;
        const int full = year.size() <= 2 && y >= 0 ? 2000 + y : y;
        if (full < 2000 || full > 2099) {
            if (why)
                *why = "unknown year \"" + year + "\" (2000 to 2099, or All)";
            return false;
        }
        filter.tahun = twoDigits(full % 100);
        heading.year = std::to_string(full);
    }
    if (!isAll(entry)) {
        filter.entry = entry;
        heading.entry = entry;
    }
    if (!isAll(user)) {
        filter.usera = user;
        heading.user = user;
    }
    return true;
}

ReportFormat reportFormatFor(const std::string &path)
{
    const std::string ext = lower(std::filesystem::path(path).extension().string());
    return ext == ".txt" ? ReportFormat::Text : ReportFormat::Workbook;
}

std::optional<ReportFormat> knownReportFormat(const std::string &path)
{
    const std::string ext = lower(std::filesystem::path(path).extension().string());
    if (ext == ".txt")
        return ReportFormat::Text;
    if (ext == ".xlsx")
        return ReportFormat::Workbook;
    return std::nullopt;
}

std::string reportFileName(const ReportHeading &heading, ReportFormat format)
{
    return "rpt-" + heading.month + "-" + heading.year + (format == ReportFormat::Text ? ".txt" : ".xlsx");
}

std::optional<std::string> reportTargetRefused(const std::string &outPath, const std::string &databasePath)
{
    namespace fs = std::filesystem;
    struct stat target {};
    const bool exists = ::lstat(outPath.c_str(), &target) == 0;
    if (exists && S_ISLNK(target.st_mode))
        return outPath + " is a symbolic link; name the file itself";
    if (exists && !S_ISREG(target.st_mode))
        return outPath + " is not a regular file (a folder, a device or a pipe); a report replaces only a file";
    // The server's files sit beside its log database; a name for one of them,
    // or another name of the same file (a hard link), is refused.
    std::error_code ec;
    const fs::path folder = fs::path(databasePath).parent_path();
    const std::string base = fs::path(databasePath).filename().string();
    const fs::path wanted = fs::weakly_canonical(fs::absolute(outPath, ec), ec);
    for (const std::string &name : {base, base + "-wal", base + "-shm", base + "-journal", std::string("config.ini"),
                                   std::string("user.cfg"), std::string("phonebook.ini"), std::string("tip.cfg"),
                                   std::string("velora.lock")}) {
        const fs::path own = folder / name;
        struct stat st {};
        const bool same = exists && ::stat(own.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
                          st.st_ino == target.st_ino;
        if (same || wanted == fs::weakly_canonical(fs::absolute(own, ec), ec))
            return outPath + " is one of the server's own files (" + own.string() +
                   "); the report is not written over it";
    }
    return std::nullopt;
}

bool writeReport(const std::string &databasePath, const LogFilter &filter, const ReportHeading &heading,
                 const NumberSeparators &seps, const std::string &outPath, ReportFormat format,
                 const ReportProgress &progress, std::string *why)
{
    auto fail = [&](const std::string &reason) {
        if (why)
            *why = reason;
        return false;
    };
    LogDatabase db;
    std::string problem;
    if (!db.openForReading(databasePath, &problem))
        return fail(problem);

    if (const auto refused = reportTargetRefused(outPath, databasePath))
        return fail(*refused);
    AtomicFile partial;
    std::string opened;
    // Opened first, so an unwritable place fails at once and in plain words.
    if (!partial.open(outPath, WriteMode{0600, false, false}, &opened))
        return fail("cannot write " + outPath + " (" + opened + ")");
    bool written = false, stopped = false;
    std::string failure;
    {
        std::unique_ptr<ReportSink> sink;
        if (format == ReportFormat::Text)
            sink = std::make_unique<TextSink>(partial);
        else
            sink = std::make_unique<WorkbookSink>(partial.descriptorPath());
        LogSummary summary;
        bool begun = false, sinkOk = true;
        const bool read = db.readReport(filter, summary, [&](const LogRow &r, std::int64_t done) {
            if (!begun) {
                begun = true;
                if (!(sinkOk = sink->begin(heading)))
                    return false;
            }
            if (!(sinkOk = sink->row(r)))
                return false;
            if (progress && done % 512 == 0 && !progress(done, summary.count)) {
                stopped = true;
                return false;
            }
            return true;
        });
        if (read && !begun)
            sinkOk = sink->begin(heading);
        bool auditRead = true;
        if (read && sinkOk && format == ReportFormat::Workbook)
            auditRead = db.readAudit(filter, [&](const AuditRow &a) { return sinkOk = sink->auditRow(a); });
        std::optional<std::vector<ComputerUsage>> usage;
        if (read && sinkOk && auditRead && format == ReportFormat::Workbook) {
            UsageBook book(db);
            usage = book.computers(filter);
            if (usage)
                sinkOk = sink->usage(*usage);
        }
        if (read && sinkOk && !auditRead)
            failure = "cannot read the audit trail";
        else if (read && sinkOk && format == ReportFormat::Workbook && !usage)
            failure = "cannot read the usage rows";
        else if (read && sinkOk) {
            sinkOk = sink->end(summaryTexts(summary, seps));
            written = sinkOk;
        }
        if (!read && sinkOk && !stopped)
            failure = "cannot read the connection log";
        else if (!sinkOk && failure.empty())
            failure = "cannot write " + outPath + " (" + sink->failure() + ")";
        if (written && progress)
            progress(summary.count, summary.count);
    }
    if (!written)
        return fail(stopped ? "the report was stopped" : failure);
    std::string committed;
    if (!partial.commit(&committed))
        return fail("cannot write " + outPath + " (" + committed + ")");
    return true;
}

}  // namespace velora::server::log
