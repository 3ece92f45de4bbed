#include "server/ui/UsageTab.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLegend>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QStackedBarSeries>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "common/NumberFormat.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"

namespace velora::server::ui {

namespace {

constexpr double kMiB = 1048576.0;

QString bytesText(std::uint64_t n) { return QString::fromStdString(formatBytes(n, state::localeSeparators())); }

QTableWidgetItem *numberItem(std::uint64_t n)
{
    auto *item = new QTableWidgetItem(bytesText(n));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// The smallest of 1, 2, 2.5 and 5 times a power of ten that is at least x.
double niceStep(double x)
{
    const double power = std::pow(10.0, std::floor(std::log10(x)));
    for (const double m : {1.0, 2.0, 2.5, 5.0})
        if (m * power >= x * (1 - 1e-9))
            return m * power;
    return 10 * power;
}

}  // namespace

UsageTab::UsageTab(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("UsageTab"));
    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->legend()->setVisible(true);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chartView_ = named(new QChartView(chart_, this), "UsageChart");
    chartView_->setRenderHint(QPainter::Antialiasing);
    chartView_->setMinimumHeight(220);
    summary_ = named(new QLabel(this), "LbUsageSummary");
    computers_ = named(new QTableWidget(0, 4, this), "UsageComputers");
    computers_->setHorizontalHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Name"), QStringLiteral("Down"), QStringLiteral("Up")});
    computers_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    computers_->setSelectionBehavior(QAbstractItemView::SelectRows);
    computers_->verticalHeader()->hide();
    computers_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(chartView_, 3);
    layout->addWidget(summary_);
    layout->addWidget(computers_, 2);
}

void UsageTab::refresh(log::LogDatabase *db, int billingDay, std::uint64_t capBytes, const QDate &today)
{
    const log::BillingCycle cycle = log::cycleOf(today, billingDay);
    if (!db) {
        show(cycle, {}, {}, capBytes, today);
        return;
    }
    log::UsageBook book(*db);
    const auto days = book.days(cycle);
    const auto computers = book.computers(cycle);
    show(cycle, days.value_or(std::vector<log::DayUsage>{}), computers.value_or(std::vector<log::ComputerUsage>{}),
         capBytes, today);
}

void UsageTab::show(const log::BillingCycle &cycle, const std::vector<log::DayUsage> &days,
                    const std::vector<log::ComputerUsage> &computers, std::uint64_t capBytes, const QDate &today)
{
    chart_->removeAllSeries();
    for (QAbstractAxis *axis : chart_->axes())
        chart_->removeAxis(axis);

    auto *down = new QBarSet(QStringLiteral("Down"));
    auto *up = new QBarSet(QStringLiteral("Up"));
    auto *cost = new QLineSeries;
    cost->setName(QStringLiteral("Cost"));
    QStringList categories;
    double highest = 0, costHighest = 0;
    std::uint64_t used = 0;
    int index = 0;
    for (const log::DayUsage &d : days) {
        *down << d.down / kMiB;
        *up << d.up / kMiB;
        // Days still to come have no cost yet, not a cost of 0.
        if (d.day <= today)
            cost->append(index, d.cost / 10000.0);
        ++index;
        categories << QString::number(d.day.day());
        highest = std::max(highest, (d.down + d.up) / kMiB);
        costHighest = std::max(costHighest, d.cost / 10000.0);
        used += d.down + d.up;
    }
    auto *bars = new QStackedBarSeries;
    bars->append(down);
    bars->append(up);
    bars->setBarWidth(0.8);
    chart_->addSeries(bars);

    // The average day so far, carried on over the days still to come; the
    // volume it comes to at the cycle's end is the summary's "about" figure.
    const std::uint64_t projected = log::projectedBytes(days, today);
    int elapsed = 0;
    for (const log::DayUsage &d : days)
        elapsed += d.day <= today;
    auto *projection = new QLineSeries;
    projection->setName(QStringLiteral("Projection (average day so far)"));
    if (elapsed > 0 && elapsed < int(days.size())) {
        const double average = double(used) / elapsed / kMiB;
        projection->append(elapsed - 1, average);
        projection->append(int(days.size()) - 1, average);
        highest = std::max(highest, average);
    }
    QPen dotted(QColor(0x55, 0x55, 0x55));
    dotted.setStyle(Qt::DotLine);
    dotted.setWidth(2);
    projection->setPen(dotted);
    chart_->addSeries(projection);
    chart_->addSeries(cost);

    auto *days_ = new QBarCategoryAxis;
    days_->append(categories);
    days_->setTitleText(QStringLiteral("Day"));
    auto *megabytes = new QValueAxis;
    megabytes->setTitleText(QStringLiteral("MB"));
    megabytes->setRange(0, highest > 0 ? highest * 1.05 : 1);
    megabytes->applyNiceNumbers();
    megabytes->setLabelFormat(QStringLiteral("%.0f"));
    auto *money = new QValueAxis;
    money->setTitleText(QStringLiteral("Cost"));
    // As many ticks as the bytes axis, each a round sum, so that one grid
    // serves both.
    const int steps = std::max(1, megabytes->tickCount() - 1);
    const double step = niceStep(costHighest > 0 ? costHighest * 1.05 / steps : 1.0 / steps);
    money->setRange(0, step * steps);
    money->setTickCount(steps + 1);
    money->setGridLineVisible(false);
    money->setLabelFormat(step >= 1 ? QStringLiteral("%.0f") : QStringLiteral("%.2f"));
    chart_->addAxis(days_, Qt::AlignBottom);
    chart_->addAxis(megabytes, Qt::AlignLeft);
    chart_->addAxis(money, Qt::AlignRight);
    for (QAbstractSeries *s : {static_cast<QAbstractSeries *>(bars), static_cast<QAbstractSeries *>(projection)}) {
        s->attachAxis(days_);
        s->attachAxis(megabytes);
    }
    cost->attachAxis(days_);
    cost->attachAxis(money);
    // The legend lays its new markers out only when the event loop comes
    // round; a picture taken before would show an empty legend.
    if (QGraphicsLayout *legendLayout = chart_->legend()->layout())
        legendLayout->activate();
    chart_->setTitle(QStringLiteral("%1 to %2").arg(QLocale().toString(cycle.first, QLocale::ShortFormat),
                                                   QLocale().toString(cycle.last, QLocale::ShortFormat)));

    QString text = QStringLiteral("Used %1").arg(bytesText(used));
    if (capBytes > 0)
        text += QStringLiteral(" of %1 (%2 %)").arg(bytesText(capBytes)).arg(used * 100 / capBytes);
    text += QStringLiteral(", about %1 at the cycle's end").arg(bytesText(projected));
    summary_->setText(text);

    computers_->setRowCount(int(computers.size()));
    for (int row = 0; row < int(computers.size()); ++row) {
        const log::ComputerUsage &c = computers[std::size_t(row)];
        computers_->setItem(row, 0, new QTableWidgetItem(state::shownText(c.address)));
        computers_->setItem(row, 1, new QTableWidgetItem(state::shownText(c.name)));
        computers_->setItem(row, 2, numberItem(c.down));
        computers_->setItem(row, 3, numberItem(c.up));
    }
    computers_->resizeColumnToContents(0);
}

}  // namespace velora::server::ui
