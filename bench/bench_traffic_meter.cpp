// A repaint of the meter window with a full graph, offscreen.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "widgets/TFmeter.h"
#include "widgets/TrendGraph.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    velora::widgets::TFmeter meter;
    meter.show();
    for (int i = 0; i < 100; ++i)
        meter.feed(QStringLiteral("Metro"), static_cast<std::uint64_t>(3000 + 2500 * std::sin(i / 5.0)),
                   static_cast<std::uint64_t>(400 + 300 * std::cos(i / 3.0)));
    QImage image(meter.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> ms, feedMs;
    for (int i = 0; i < 300; ++i) {
        QElapsedTimer t;
        t.start();
        meter.feed(QStringLiteral("Metro"), static_cast<std::uint64_t>(3000 + 2500 * std::sin(i / 5.0)), 500);
        feedMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        t.restart();
        // Offscreen a repaint() paints nothing on screen: render the window instead.
        meter.render(&image);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(feedMs.begin(), feedMs.end());
    std::printf("meter repaint %dx%d (target < 2 ms): median %.3f ms  p99 %.3f ms  longest %.3f ms\n", meter.width(),
                meter.height(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    std::printf("feed (labels and series): median %.3f ms  longest %.3f ms\n", feedMs[feedMs.size() / 2],
                feedMs.back());
    return 0;
}
