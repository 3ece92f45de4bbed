// Usage by computer: one read of the nftables counters with 254 office
// addresses (dynamic sets with counters, and per-address counter rules for
// comparison), where a read's time goes (the listing, its JSON, parsing),
// and the Usage tab over a log with a year of rows. Prints figures, and
// FAILED instead of a figure whose listing did not hold what was put in;
// the nftables part runs in a network namespace of this process's own (root
// only) and is skipped elsewhere. Also leaves a picture of the tab with a
// month of rows in /tmp/usage-tab.png.
#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QPixmap>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <nftables/libnftables.h>
#include <sched.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "server/log/UsageBook.h"
#include "server/sharing/NftUsageCounters.h"
#include "server/ui/UsageTab.h"
#include "support/TestFiles.h"

using namespace velora::server;

namespace {

std::string address(int i) { return "192.168.1." + std::to_string(i); }

bool nft(nft_ctx *ctx, const std::string &script)
{
    const bool ok = nft_run_cmd_from_buffer(ctx, script.c_str()) == 0;
    nft_ctx_get_output_buffer(ctx);
    nft_ctx_get_error_buffer(ctx);
    return ok;
}

// The listing's JSON, empty when nftables refused it.
std::string listing(nft_ctx *ctx, const char *command)
{
    const bool ok = nft_run_cmd_from_buffer(ctx, command) == 0;
    nft_ctx_get_error_buffer(ctx);
    const std::string out = nft_ctx_get_output_buffer(ctx);
    return ok ? out : std::string();
}

std::size_t occurrences(const std::string &text, const std::string &what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time a round; on a loaded machine the processor time a round (the
// second figure) is the steadier one.
template <typename F>
std::string averageMs(int rounds, F f)
{
    QElapsedTimer t;
    t.start();
    const double cpu = cpuMs();
    for (int i = 0; i < rounds; ++i)
        f();
    char out[64];
    std::snprintf(out, sizeof out, "%.3f ms (processor %.3f ms)", t.nsecsElapsed() / 1e6 / rounds,
                  (cpuMs() - cpu) / rounds);
    return out;
}

void counterReads()
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::puts("counter read: skipped (no network namespace of our own; needs root)");
        return;
    }
    sharing::NftUsageCounters counters;
    std::string why;
    if (!counters.count("bench0", &why)) {
        std::printf("counter read: skipped (%s)\n", why.c_str());
        return;
    }
    nft_ctx *ctx = nft_ctx_new(NFT_CTX_DEFAULT);
    nft_ctx_buffer_output(ctx);
    nft_ctx_buffer_error(ctx);
    std::string up = "add element inet velora usage_up { ", down = "add element inet velora usage_down { ";
    for (int i = 1; i <= 254; ++i) {
        const std::string e = address(i) + " counter packets " + std::to_string(i * 10) + " bytes " +
                              std::to_string(i * 15000) + (i < 254 ? ", " : " }\n");
        up += e;
        down += e;
    }
    if (!nft(ctx, up + down)) {
        std::puts("counter read: skipped (the elements were refused)");
        nft_ctx_free(ctx);
        return;
    }
    const auto reading = counters.read(&why);
    std::uint64_t sum = 0;
    for (const sharing::AddressBytes &a : reading ? reading->computers : std::vector<sharing::AddressBytes>{})
        sum += a.down + a.up;
    if (!reading || reading->computers.size() != 254 || sum != 2u * 15000u * (254u * 255u / 2u)) {
        std::printf("counter read: FAILED (%s)\n", reading ? "not the 254 addresses put in" : why.c_str());
        nft_ctx_free(ctx);
        return;
    }
    std::printf("sets with counters: %zu addresses read\n", reading->computers.size());
    std::printf("  one read, 254 addresses: %s (goal < 5 ms)\n",
                averageMs(200, [&] { (void)counters.read(); }).c_str());

    // Where a read's time goes.
    nft_ctx_output_set_flags(ctx, NFT_CTX_OUTPUT_JSON);
    const std::string table = listing(ctx, "list table inet velora");
    std::printf("  listing the whole table %s (%zu bytes of JSON); parsing that %s\n",
                averageMs(200, [&] { (void)listing(ctx, "list table inet velora"); }).c_str(), table.size(),
                averageMs(200, [&] { (void)sharing::NftUsageCounters::parseListing(table); }).c_str());
    nft_ctx_output_set_flags(ctx, 0);
    std::printf("  the same listing as text %s\n",
                averageMs(200, [&] { (void)listing(ctx, "list table inet velora"); }).c_str());
    nft_ctx_output_set_flags(ctx, NFT_CTX_OUTPUT_JSON);
    std::printf("  one set alone %s; the named counters alone %s\n",
                averageMs(200, [&] { (void)listing(ctx, "list set inet velora usage_up"); }).c_str(),
                averageMs(200, [&] { (void)listing(ctx, "list counters table inet velora"); }).c_str());

    // The other way: a counter rule per address and direction.
    std::string rules = "add table inet bench\nadd chain inet bench forward_count { type filter hook forward priority 0; }\n";
    for (int i = 1; i <= 254; ++i)
        rules += "add rule inet bench forward_count oifname \"bench0\" ip saddr " + address(i) + " counter\n"
                 "add rule inet bench forward_count iifname \"bench0\" ip daddr " + address(i) + " counter\n";
    const std::string chain = nft(ctx, rules) ? listing(ctx, "list chain inet bench forward_count") : std::string();
    const std::size_t listed = occurrences(chain, "\"counter\"");
    if (listed != 508) {
        std::printf("per-address counter rules: FAILED (%zu of 508 counters listed)\n", listed);
    } else {
        std::printf("per-address counter rules (508 rules): one listing %s; every forwarded packet walks up to"
                    " 508 rules instead of two set look-ups\n",
                    averageMs(200, [&] { (void)listing(ctx, "list chain inet bench forward_count"); }).c_str());
    }
    nft_ctx_free(ctx);
}

// A year of days, 20 computers a day, and a connection a day with its cost.
void seed(log::LogDatabase &db, const QDate &last)
{
    log::UsageBook book(db);
    QSqlDatabase sql = QSqlDatabase::database(QString::fromStdString(db.connectionName()), false);
    QSqlQuery q(sql);
    q.exec(QStringLiteral("INSERT INTO harga (entry,harga) VALUES ('ISP One', 1500)"));
    for (QDate d = last.addDays(-364); d <= last; d = d.addDays(1)) {
        std::vector<log::ComputerUsage> rows;
        const int n = d.dayOfYear();
        for (int c = 1; c <= 20; ++c)
            rows.push_back({address(c), "pc-" + std::to_string(c), std::uint64_t((n * 37 + c * 101) % 200 + 20) * 1048576 / c,
                            std::uint64_t((n * 13 + c * 7) % 40 + 2) * 1048576 / c});
        rows.push_back({log::kThisComputer, "Admin@server", 5u * 1048576, 1048576});
        book.add(d, rows);
        q.prepare(QStringLiteral("INSERT INTO log (waktu,Usera,Entry,Duration,tanggal,speed,bulan,tahun,waktua)"
                                 " VALUES ('10:00:00','pc-1','ISP One','1:0:0',?,56000,?,?,?)"));
        q.addBindValue(QLocale::system().toString(d, QLocale::ShortFormat));
        q.addBindValue(d.toString(QStringLiteral("MM")));
        q.addBindValue(d.toString(QStringLiteral("yy")));
        q.addBindValue(1200 + (n * 97) % 3600);
        q.exec();
    }
}

}  // namespace

int main(int argc, char **argv)
{
    counterReads();
    QApplication app(argc, argv);
    velora::test::TempDir dir;
    log::LogDatabase db;
    if (!db.open(dir.file("log.db"))) {
        std::puts("usage tab: skipped (no database)");
        return 0;
    }
    const QDate today(2026, 11, 27);
    seed(db, today);
    ui::UsageTab tab;
    tab.resize(900, 640);
    tab.refresh(&db, 15, 8192ull * 1048576, today);
    tab.grab();
    std::printf("usage tab, a year of rows (7,665 usage rows, 365 connections): refresh %s (goal < 100 ms)\n",
                averageMs(20, [&] {
                    tab.refresh(&db, 15, 8192ull * 1048576, today);
                    tab.grab();
                }).c_str());
    tab.grab().save(QStringLiteral("/tmp/usage-tab.png"));
    std::puts("picture: /tmp/usage-tab.png");
    return 0;
}
