// The bandwidth meter and its trend graph as a person sees them.
#include <QAction>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

#include "widgets/TFmeter.h"
#include "widgets/TrendGraph.h"

using namespace velora::widgets;

namespace {

bool allZero(const std::vector<double> &v)
{
    return std::all_of(v.begin(), v.end(), [](double x) { return x == 0; });
}

// A figure as the system locale writes its decimals.
QString shown(const char *text)
{
    return QString::fromLatin1(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

int pixelsOf(const QImage &image, QRgb color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF);
    return n;
}

}  // namespace

class MeterTest : public QObject {
    Q_OBJECT
private slots:

    void looksAndSitsAsDesigned()
    {
        TFmeter m;
        QVERIFY(m.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(m.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(m.windowFlags() & Qt::Tool, Qt::Tool);
        QCOMPARE(m.palette().color(QPalette::Window), QColor(123, 150, 222));
        QCOMPARE(m.x(), QGuiApplication::primaryScreen()->geometry().width() - 270);
        QCOMPARE(m.y(), 48);
        QCOMPARE(m.height(), m.downloadtrend->height() + 23);
        QCOMPARE(m.Label1->text(), QStringLiteral("D:"));
        QCOMPARE(m.Label4->text(), QStringLiteral("U:"));
        QCOMPARE(m.Label5->text(), QStringLiteral("--"));
        QCOMPARE(m.Tag, 0);
        QCOMPARE(m.downloadtrend->scaleTop(), 100.0);
        QCOMPARE(m.Cleargraph1, nullptr);
        QVERIFY(m.Stayontop1->isChecked());

        // The graph: its pale ground, the red download over the lime upload.
        for (int i = 0; i < 30; ++i)
            m.feed(QStringLiteral("ISP"), 1000 + 40 * (i % 7), 300);
        const QImage shot = m.downloadtrend->grab().toImage();
        QCOMPARE(QColor(shot.pixel(shot.width() / 2, shot.height() - 2)), QColor(233, 233, 254));
        QVERIFY(pixelsOf(shot, qRgb(255, 0, 0)) > 20);
        QVERIFY(pixelsOf(shot, qRgb(0, 255, 0)) > 20);
    }

    void feedingWritesTheFiguresInTheLocalesFormat()
    {
        TFmeter m;
        m.feed(QStringLiteral("ISP One"), 2048, 100);
        QCOMPARE(m.Label1->text(), shown("D: 2.00 KB/s"));
        QCOMPARE(m.Label4->text(), shown("U: 100.00 B/s"));
        QCOMPARE(m.Label6->text(), shown("Max scale: 2.00 KB/s"));
        QCOMPARE(m.Label5->text(), QStringLiteral("ISP One"));
        m.feed(QStringLiteral("ISP One"), 3u * 1048576u / 2u, 1073741824u);
        QCOMPARE(m.Label1->text(), shown("D: 1.50 MB/s"));
        // the server's copy goes on past MB
        QCOMPARE(m.Label4->text(), shown("U: 1.00 GB/s"));

        TFmeter client(MeterOptions{true});
        client.feed(QStringLiteral("x"), 1073741824u, 512);
        QCOMPARE(client.Label1->text(), QStringLiteral("D: /s"));
        QCOMPARE(client.Label4->text(), shown("U: 512.00 B/s"));
    }

    void aBurstLeavesTheScaleOnceItScrolledOutOfBothSeries()
    {
        TrendGraph g;
        g.addValue(0, -5);
        QCOMPARE(g.values(0).back(), 0.0);
        // at least the minimum plus one
        QCOMPARE(g.scaleTop(), 1.0);
        g.addValue(1, 50000);  // the burst, in the upload series
        for (int i = 0; i < TrendGraph::kHeld - 1; ++i) {
            g.addValue(0, 200);
            g.addValue(1, 100);
        }
        // still held, though no longer shown
        QCOMPARE(g.scaleTop(), 50000.0);
        QVERIFY(g.shownValues(1).front() == 100);
        g.addValue(0, 200);
        // the download's new value alone does not drop it
        QCOMPARE(g.scaleTop(), 50000.0);
        g.addValue(1, 100);
        QCOMPARE(g.scaleTop(), 200.0);
        QCOMPARE(static_cast<int>(g.shownValues(0).size()), TrendGraph::kShown);
    }

    void exitHideShowAndTheMenu()
    {
        TFmeter m;
        QSignalSpy shown(&m, &TFmeter::shown), exited(&m, &TFmeter::exited);
        m.show();
        QCOMPARE(m.Tag, 1);
        QCOMPARE(shown.count(), 1);
        for (int i = 1; i <= 5; ++i)
            m.feed(QStringLiteral("ISP"), 1000u * i, 10u * i);

        // "Hide": still fed, the lines go on without a gap.
        m.Hide1->trigger();
        QVERIFY(!m.isVisible());
        QCOMPARE(m.Tag, 1);
        m.feed(QStringLiteral("ISP"), 6000, 60);
        m.show();
        const auto down = m.downloadtrend->values(0);
        QCOMPARE(std::vector<double>(down.end() - 6, down.end()),
                 (std::vector<double>{1000, 2000, 3000, 4000, 5000, 6000}));

        // "Exit": not fed any more; the download starts flat, the upload keeps its points.
        m.Exit1->trigger();
        QVERIFY(!m.isVisible());
        QCOMPARE(m.Tag, 0);
        QCOMPARE(exited.count(), 1);
        QVERIFY(allZero(m.downloadtrend->values(0)));
        QCOMPARE(m.downloadtrend->values(1).back(), 60.0);
        m.show();
        QCOMPARE(m.Tag, 1);
        QCOMPARE(shown.count(), 3);

        // "Stay on top" toggles, and the shown window stays shown.
        m.Stayontop1->trigger();
        QVERIFY(!(m.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(m.isVisible());
        m.Stayontop1->trigger();
        QVERIFY(m.windowFlags() & Qt::WindowStaysOnTopHint);

        QStringList items;
        for (QAction *a : m.PopupMenu1->actions())
            items << a->text();
        QCOMPARE(items, (QStringList{QStringLiteral("Hide"), QStringLiteral("Exit"), QStringLiteral("Stay on top")}));
    }

    void theClientsCopyClearsBothSeries()
    {
        TFmeter m(MeterOptions{true});
        QVERIFY(m.Cleargraph1);
        QCOMPARE(m.PopupMenu1->actions().front()->text(), QStringLiteral("Clear graph"));
        for (int i = 0; i < 10; ++i)
            m.feed(QStringLiteral("ISP"), 900, 90);
        m.Cleargraph1->trigger();
        QVERIFY(allZero(m.downloadtrend->values(0)));
        QVERIFY(allZero(m.downloadtrend->values(1)));
        m.feed(QStringLiteral("ISP"), 900, 90);
        m.show();
        m.Exit1->trigger();
        QVERIFY(allZero(m.downloadtrend->values(0)));
        QVERIFY(allZero(m.downloadtrend->values(1)));
    }

    void everyPartDragsTheWindow()
    {
        TFmeter m;
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        for (QWidget *part : {static_cast<QWidget *>(m.Label1), static_cast<QWidget *>(m.downloadtrend),
                              static_cast<QWidget *>(&m)}) {
            const QPoint before = m.pos();
            QTest::mousePress(part, Qt::LeftButton, {}, QPoint(5, 5));
            QMouseEvent move(QEvent::MouseMove, QPointF(25, 15), part->mapToGlobal(QPointF(25, 15)),
                             Qt::NoButton, Qt::LeftButton, {});
            QCoreApplication::sendEvent(part, &move);
            QTest::mouseRelease(part, Qt::LeftButton, {}, QPoint(25, 15));
            QCOMPARE(m.pos(), before + QPoint(20, 10));
        }
    }
};

QTEST_MAIN(MeterTest)
#include "MeterTest.moc"
