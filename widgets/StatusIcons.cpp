#include "widgets/StatusIcons.h"

#ifdef VELORA_HAVE_SVG
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#endif

namespace velora::widgets {

QIcon statusIcon(StatusIcon which)
{
#ifdef VELORA_HAVE_SVG
    // Green line up, amber line down, grey nothing to talk to.
    const char *file = which == StatusIcon::LineUp     ? ":/velora-icons/velora-online.svg"
                       : which == StatusIcon::LineDown ? ":/velora-icons/velora-dialing.svg"
                                                       : ":/velora-icons/velora-offline.svg";
    QSvgRenderer svg(QString::fromLatin1(file));
    if (!svg.isValid())
        return {};
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        svg.render(&p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
#else
    (void)which;
    return {};
#endif
}

}  // namespace velora::widgets
