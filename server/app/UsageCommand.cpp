#include "server/app/UsageCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>

#include "common/IniProfile.h"
#include "server/log/UsageBook.h"
#include "server/state/Text.h"

namespace velora::server::app {

namespace {

int number(const std::string &text, int low, int high)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int n = std::stoi(text);
    return n >= low && n <= high ? n : -1;
}

QJsonObject jsonOf(const log::ComputerUsage &c)
{
    return {{QStringLiteral("address"), state::shownText(c.address)},
            {QStringLiteral("name"), state::shownText(c.name)},
            {QStringLiteral("down"), qint64(c.down)},
            {QStringLiteral("up"), qint64(c.up)}};
}

}  // namespace

int printUsage(const ServerArgs &given, const std::string &baseDir)
{
    // Its options may follow the word, as its usage line shows them.
    ServerArgs args = given;
    const std::vector<std::string> &rest = given.commandArgs;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string &s = rest[i];
        const auto valueOf = [&](const std::string &name, std::string &into) {
            if (s == "--" + name && i + 1 < rest.size()) {
                into = rest[++i];
                return true;
            }
            if (s.rfind("--" + name + "=", 0) == 0) {
                into = s.substr(name.size() + 3);
                return true;
            }
            return false;
        };
        if (s == "--json")
            args.json = true;
        else if (!valueOf("month", args.month) && !valueOf("year", args.year)) {
            std::fprintf(stderr, "velora: usage: velora [--basedir DIR] usage [--month M --year YYYY] [--json] (not %s)\n",
                         state::terminalText(state::shownText(s)).c_str());
            return 2;
        }
    }
    const IniProfile ini(baseDir + "/config/config.ini");
    const int billingDay = ini.readNumber("policy", "billingday", 1, 28, 1, nullptr);
    const std::int64_t capMb = ini.readNumber("policy", "monthlybytes", 0, INT32_MAX, 0, nullptr);
    log::BillingCycle cycle = log::cycleOf(QDate::currentDate(), billingDay);
    if (!args.month.empty() || !args.year.empty()) {
        const int month = args.month.empty() ? cycle.first.month() : number(args.month, 1, 12);
        const int year = args.year.empty() ? QDate::currentDate().year() : number(args.year, 1970, 9999);
        if (month < 0 || year < 0) {
            std::fputs("velora: usage: --month is 1-12 and --year four digits\n", stderr);
            return 2;
        }
        cycle = log::cycleStartingIn(month, year, billingDay);
    }
    log::LogDatabase db;
    std::string why;
    if (!db.openForReading(baseDir + "/config/log.db", &why)) {
        std::fprintf(stderr, "velora: %s\n", state::terminalText(state::shownMessage(why)).c_str());
        return 1;
    }
    log::UsageBook book(db);
    const auto usage = book.cycleUsage(cycle, capMb > 0 ? std::uint64_t(capMb) * 1048576u : 0);
    if (!usage) {
        std::fputs("velora: the usage rows cannot be read\n", stderr);
        return 1;
    }
    std::uint64_t down = 0, up = 0;
    for (const log::ComputerUsage &c : usage->computers) {
        down += c.down;
        up += c.up;
    }
    if (args.json) {
        QJsonArray rows;
        for (const log::ComputerUsage &c : usage->computers)
            rows.append(jsonOf(c));
        const QJsonObject o{{QStringLiteral("first"), cycle.first.toString(Qt::ISODate)},
                            {QStringLiteral("last"), cycle.last.toString(Qt::ISODate)},
                            {QStringLiteral("computers"), rows},
                            {QStringLiteral("down"), qint64(down)},
                            {QStringLiteral("up"), qint64(up)},
                            {QStringLiteral("cap"), qint64(usage->cap)}};
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    for (const log::ComputerUsage &c : usage->computers)
        std::printf("%s\t%s\t%llu\t%llu\n", state::terminalText(state::shownText(c.address)).c_str(),
                    state::terminalText(state::shownText(c.name)).c_str(), static_cast<unsigned long long>(c.down),
                    static_cast<unsigned long long>(c.up));
    std::printf("total\t%s to %s\t%llu\t%llu\n", cycle.first.toString(Qt::ISODate).toUtf8().constData(),
                cycle.last.toString(Qt::ISODate).toUtf8().constData(), static_cast<unsigned long long>(down),
                static_cast<unsigned long long>(up));
    return 0;
}

}  // namespace velora::server::app
