#pragma once
// The meters' trend graph: two series of byte figures that scroll in from
// the right, scaled automatically to the largest value they hold.

#include <QColor>
#include <QWidget>

#include <array>
#include <vector>

namespace velora::widgets {

class TrendGraph : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeld = 100;
    static constexpr int kShown = 90;
    static constexpr double kMinimum = 0;
    static constexpr int kMargin = 3;

    explicit TrendGraph(QWidget *parent = nullptr);

    // Shifts the series one place left and puts the value at the right end;
    // the top of the scale follows every value held in both series.
    void addValue(int series, double value);
    // Every point of one series, or of both, to the minimum.
    void zeroSeries(int series);
    void clear();

    double scaleTop() const { return top_; }
    // Oldest first, kHeld values.
    const std::vector<double> &values(int series) const { return series_[series]; }
    // The values drawn, oldest first, kShown of them.
    std::vector<double> shownValues(int series) const;

    QColor seriesColor[2] = {QColor(255, 0, 0), QColor(0, 255, 0)};

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rescale(double newValue);

    std::array<std::vector<double>, 2> series_;
    double top_ = 100;
};

}  // namespace velora::widgets
