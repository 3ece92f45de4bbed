#pragma once
// The monthly report: the rows and summary of a filter written as a workbook
// (.xlsx) or as tab-delimited text with CR LF line ends. Runs in any thread:
// it opens its own reading connection to the log file and touches nothing
// else, so a long report never holds up the server.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/NumberFormat.h"
#include "server/log/LogDatabase.h"

namespace velora::server::log {

// What the report's heading names; "All" where the list shows nothing.
// Texts are Windows-1252 bytes.
struct ReportHeading {
    std::string month = "All";
    std::string year = "All";
    std::string entry = "All";
    std::string user = "All";
};

enum class ReportFormat { Workbook, Text };

// ".txt" (any case) is text; everything else a workbook.
ReportFormat reportFormatFor(const std::string &path);
// ".xlsx" or ".txt" (any case); nullopt for any other name, which no
// program would open as the report it is.
std::optional<ReportFormat> knownReportFormat(const std::string &path);
// "rpt-" + month + "-" + year with the format's extension.
std::string reportFileName(const ReportHeading &heading, ReportFormat format);

// A report asked for on the command line: the month as a number or an
// English name, the year as four digits (or two), "All" or empty for any;
// entry and user names as stored, "All" or empty for any. False with why.
bool reportRequest(const std::string &month, const std::string &year, const std::string &entry,
                   const std::string &user, LogFilter &filter, ReportHeading &heading, std::string *why);

// Called now and then with the rows written so far and the rows due; false
// stops the report.
using ReportProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// Why a report may not be written to outPath: not a regular file (a folder,
// a device, a pipe, a link), or one of the server's own files (those in the
// log database's folder, under any name). Nothing when it may.
std::optional<std::string> reportTargetRefused(const std::string &outPath, const std::string &databasePath);

// Writes beside the target and renames at the end, so a failed or stopped
// report leaves no half file and an existing file stays until the new one is
// complete. False with the reason in plain words.
bool writeReport(const std::string &databasePath, const LogFilter &filter, const ReportHeading &heading,
                 const NumberSeparators &seps, const std::string &outPath, ReportFormat format,
                 const ReportProgress &progress, std::string *why);

}  // namespace velora::server::log
