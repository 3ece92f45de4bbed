// Both trays show the installed status icons, each state its own: the lamp
// of the picture has the colour of the state's file.
#include <QColor>
#include <QImage>
#include <QTest>

#include "client/ui/ClientIcons.h"
#include "server/ui/TrayImages.h"

namespace {

// The lamp sits at (12, 9) of the icons' 16-unit canvas.
QColor lamp(const QIcon &icon)
{
    return icon.pixmap(64, 64).toImage().pixelColor(48, 36);
}

bool near(const QColor &a, const char *want)
{
    const QColor b(QString::fromLatin1(want));
    return qAbs(a.red() - b.red()) < 10 && qAbs(a.green() - b.green()) < 10 && qAbs(a.blue() - b.blue()) < 10 &&
           a.alpha() > 240;
}

}  // namespace

class TrayIconTest : public QObject {
    Q_OBJECT
private slots:
    void statesShowTheirIcons()
    {
#ifndef VELORA_HAVE_SVG
        QSKIP("built without Qt SVG: the trays are painted");
#endif
        const char *online = "#3cc43c", *dialing = "#f0b020", *offline = "#8a8f94";
        // Server: 0 connected, 1 not connected, 2 taking no clients.
        QVERIFY2(near(lamp(velora::server::ui::trayImage(0)), online), "server, connected");
        QVERIFY2(near(lamp(velora::server::ui::trayImage(1)), dialing), "server, line down");
        QVERIFY2(near(lamp(velora::server::ui::trayImage(2)), offline), "server offline");
        QVERIFY2(near(lamp(velora::server::ui::trayImage(7)), dialing), "unknown reads as line down");
        // Client: 0 no server, 1 line connected, 2 server but no line.
        QVERIFY2(near(lamp(velora::client::ui::icons::tray(0)), offline), "client, no server");
        QVERIFY2(near(lamp(velora::client::ui::icons::tray(1)), online), "client, connected");
        QVERIFY2(near(lamp(velora::client::ui::icons::tray(2)), dialing), "client, line down");
        // Small trays get a picture of their own size, not a blurred large one.
        QCOMPARE(velora::server::ui::trayImage(0).availableSizes().contains(QSize(16, 16)), true);
    }
};

QTEST_MAIN(TrayIconTest)
#include "TrayIconTest.moc"
