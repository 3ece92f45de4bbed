// Usage by computer: one read of the nftables counters with 254 office
// addresses (dynamic sets with counters, and per-address counter rules for
// comparison), and the Usage tab over a log with a year of rows. Prints
// figures, never fails; the nftables part runs in a network namespace of
// this process's own (root only) and is skipped elsewhere. Also leaves a
// picture of the tab with a month of rows in /tmp/usage-tab.png.
#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QPixmap>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <nftables/libnftables.h>
#include <sched.h>

#include <cstdio>
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

template <typename F>
double averageMs(int rounds, F f)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i)
        f();
    return t.nsecsElapsed() / 1e6 / rounds;
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
    nft(ctx, up + down);
    const auto reading = counters.read(&why);
    std::printf("sets with counters: %zu addresses read\n", reading ? reading->computers.size() : 0);
    std::printf("  one read, 254 addresses: %.3f ms (goal < 5 ms)\n",
                averageMs(200, [&] { (void)counters.read(); }));

    // The other way: a counter rule per address and direction.
    std::string rules = "add table inet bench\nadd chain inet bench fwd { type filter hook forward priority 0; }\n";
    for (int i = 1; i <= 254; ++i)
        rules += "add rule inet bench fwd oifname \"bench0\" ip saddr " + address(i) + " counter\n"
                 "add rule inet bench fwd iifname \"bench0\" ip daddr " + address(i) + " counter\n";
    nft(ctx, rules);
    nft_ctx_output_set_flags(ctx, NFT_CTX_OUTPUT_JSON);
    std::printf("per-address counter rules (508 rules): one read %.3f ms; every forwarded packet walks up to"
                " 508 rules instead of two set look-ups\n",
                averageMs(200, [&] { nft(ctx, "list chain inet bench fwd"); }));
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
    std::printf("usage tab, a year of rows (7,665 usage rows, 365 connections): refresh %.2f ms (goal < 100 ms)\n",
                averageMs(20, [&] {
                    tab.refresh(&db, 15, 8192ull * 1048576, today);
                    tab.grab();
                }));
    tab.grab().save(QStringLiteral("/tmp/usage-tab.png"));
    std::puts("picture: /tmp/usage-tab.png");
    return 0;
}
