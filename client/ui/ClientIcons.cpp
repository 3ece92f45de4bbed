#include "client/ui/ClientIcons.h"

#include <QPainter>
#include <QPainterPath>

#include "widgets/StatusIcons.h"

namespace velora::client::ui::icons {

namespace {

QPixmap canvas(int size)
{
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    return p;
}

QPixmap monitor(int size, const QColor &screen, bool crossed)
{
    QPixmap pm = canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 24.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(screen);
    p.drawRoundedRect(QRectF(2.5, 3.5, 19, 13), 1.5, 1.5);
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(9, 17, 6, 2));
    p.drawRect(QRectF(6, 19.5, 12, 1.5));
    if (crossed) {
        p.setPen(QPen(QColor(200, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(7, 6), QPointF(17, 14));
        p.drawLine(QPointF(17, 6), QPointF(7, 14));
    }
    return pm;
}

QPixmap globe(int size, const QColor &fill)
{
    QPixmap pm = canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 24.0;
    p.scale(s, s);
    p.setPen(QPen(fill.darker(160), 1.5));
    p.setBrush(fill);
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(fill.darker(160), 1));
    p.drawEllipse(QRectF(8, 2.5, 8, 19));
    p.drawLine(QPointF(2.5, 12), QPointF(21.5, 12));
    p.drawLine(QPointF(4.5, 7), QPointF(19.5, 7));
    p.drawLine(QPointF(4.5, 17), QPointF(19.5, 17));
    return pm;
}

}  // namespace

QPixmap serverOffline(int size) { return monitor(size, QColor(200, 200, 200), true); }
QPixmap serverOnline(int size) { return monitor(size, QColor(90, 160, 230), false); }
QPixmap lineConnected(int size) { return globe(size, QColor(70, 190, 80)); }
QPixmap lineIdle(int size) { return globe(size, QColor(190, 190, 190)); }

QPixmap locked(int size)
{
    QPixmap pm = canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 24.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(120, 90, 20), 2.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(7.5, 11);
    shackle.lineTo(7.5, 7.5);
    shackle.arcTo(QRectF(7.5, 3, 9, 9), 180, -180);
    shackle.lineTo(16.5, 11);
    p.drawPath(shackle);
    p.setPen(QPen(QColor(120, 90, 20), 1.2));
    p.setBrush(QColor(230, 180, 40));
    p.drawRoundedRect(QRectF(4.5, 10.5, 15, 11), 2, 2);
    return pm;
}

QIcon tray(int index)
{
    // The installed status icons: green line up, amber server with the line
    // down, grey no server.
    const QIcon installed = widgets::statusIcon(index == 1   ? widgets::StatusIcon::LineUp
                                                : index == 2 ? widgets::StatusIcon::LineDown
                                                             : widgets::StatusIcon::NoService);
    if (!installed.isNull())
        return installed;
    switch (index) {
    case 1: return QIcon(lineConnected(32));
    case 2: return QIcon(serverOnline(32));
    default: return QIcon(serverOffline(32));
    }
}

}  // namespace velora::client::ui::icons
