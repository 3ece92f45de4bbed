#pragma once
// The Log page's "Usage" tab: the billing cycle's bytes a day as stacked
// bars (down, up), the connections' cost a day as a line on its own axis, a
// dotted projection of the daily average to the cycle's end, and under it
// the table of computers, largest first.

#include <QDate>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "server/log/UsageBook.h"

class QChart;
class QChartView;
class QLabel;
class QTableWidget;

namespace velora::server::ui {

class UsageTab : public QWidget {
    Q_OBJECT
public:
    explicit UsageTab(QWidget *parent = nullptr);

    // Reads the cycle of `today` from the log (nothing shown without one).
    void refresh(log::LogDatabase *db, int billingDay, std::uint64_t capBytes, const QDate &today);
    // Shows figures already read.
    void show(const log::BillingCycle &cycle, const std::vector<log::DayUsage> &days,
              const std::vector<log::ComputerUsage> &computers, std::uint64_t capBytes, const QDate &today);

private:
    QChart *chart_ = nullptr;
    QChartView *chartView_ = nullptr;
    QLabel *summary_ = nullptr;
    QTableWidget *computers_ = nullptr;
};

}  // namespace velora::server::ui
