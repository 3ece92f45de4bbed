#include "widgets/TrendGraph.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace velora::widgets {

TrendGraph::TrendGraph(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("downloadtrend"));
    for (auto &s : series_)
        s.assign(kHeld, kMinimum);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendGraph::addValue(int series, double value)
{
    value = std::max(value, kMinimum);
    auto &s = series_[series];
    std::rotate(s.begin(), s.begin() + 1, s.end());
    s.back() = value;
    rescale(value);
    update();
}

void TrendGraph::rescale(double newValue)
{
    double top = newValue;
    for (const auto &s : series_)
        top = std::max(top, *std::max_element(s.begin(), s.end()));
    top_ = std::max(top, kMinimum + 1);
}

void TrendGraph::zeroSeries(int series)
{
    std::fill(series_[series].begin(), series_[series].end(), kMinimum);
    update();
}

void TrendGraph::clear()
{
    zeroSeries(0);
    zeroSeries(1);
}

std::vector<double> TrendGraph::shownValues(int series) const
{
    const auto &s = series_[series];
    return {s.end() - kShown, s.end()};
}

void TrendGraph::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(233, 233, 254));
    const double w = width() - 1;
    const double h = height() - 1 - 2 * kMargin;
    if (w <= 0 || h <= 0)
        return;
    p.setRenderHint(QPainter::Antialiasing, true);
    const double span = top_ - kMinimum;
    // Upload first, so the download line stays on top where they meet.
    for (int series : {1, 0}) {
        const auto &s = series_[series];
        QPainterPath path;
        for (int i = 0; i < kShown; ++i) {
            const double v = s[static_cast<std::size_t>(kHeld - kShown + i)];
            const QPointF pt(w * i / (kShown - 1), kMargin + h - h * (std::min(v, top_) - kMinimum) / span);
            if (i == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
        p.setPen(QPen(seriesColor[series], 1.2));
        p.drawPath(path);
    }
}

}  // namespace velora::widgets
