#include "server/ui/TrayImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "widgets/StatusIcons.h"

namespace velora::server::ui {

namespace {

// Without the installed icons: a globe on a 64-unit canvas, green while the
// line is up, grey when it is not, crossed out in red while the server takes
// no clients.
QPixmap paint(int index, int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    const bool connected = index == 0;
    const QColor fill = connected ? QColor(0x2e, 0xa0, 0x43) : QColor(0x8a, 0x93, 0x9b);
    const QColor line = connected ? QColor(0x14, 0x5a, 0x24) : QColor(0x4a, 0x50, 0x56);

    const QRectF globe(6, 6, 52, 52);
    p.setPen(QPen(line, 3));
    p.setBrush(fill);
    p.drawEllipse(globe);
    // Meridian and parallels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2.5));
    p.drawEllipse(QRectF(22, 7.5, 20, 49));
    p.drawLine(QPointF(32, 7.5), QPointF(32, 56.5));
    p.drawLine(QPointF(7.5, 32), QPointF(56.5, 32));
    QPainterPath parallels;
    parallels.moveTo(12, 19);
    parallels.quadTo(32, 25, 52, 19);
    parallels.moveTo(12, 45);
    parallels.quadTo(32, 39, 52, 45);
    p.drawPath(parallels);

    if (index == 2) {
        const QColor red(0xd0, 0x21, 0x21);
        p.setPen(QPen(red, 7, Qt::SolidLine, Qt::RoundCap));
        p.drawEllipse(QRectF(10, 10, 44, 44));
        p.drawLine(QPointF(17, 17), QPointF(47, 47));
    } else if (connected) {
        // A small spark of traffic in the corner.
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(0xf2, 0xc0, 0x1e));
        p.drawEllipse(QRectF(42, 42, 20, 20));
    }
    return pm;
}

}  // namespace

QIcon trayImage(int index)
{
    if (index < 0 || index > 2)
        index = 1;
    // The installed status icons: green line up, amber serving with the line
    // down, grey taking no clients.
    const widgets::StatusIcon which[] = {widgets::StatusIcon::LineUp, widgets::StatusIcon::LineDown,
                                         widgets::StatusIcon::NoService};
    const QIcon installed = widgets::statusIcon(which[index]);
    if (!installed.isNull())
        return installed;
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(paint(index, size));
    return icon;
}

}  // namespace velora::server::ui
