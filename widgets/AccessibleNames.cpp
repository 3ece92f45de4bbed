#include "widgets/AccessibleNames.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QSet>
#include <QWidget>

namespace velora::widgets {

namespace {

// Asks nothing of the accessibility layer itself: an interface made before
// the bridge is up keeps a program off the bus.
bool hasCaption(const QWidget *w, const QSet<const QWidget *> &labelled)
{
    // A window is known by its title, which may change: never named here.
    if (w->isWindow())
        return true;
    if (labelled.contains(w))
        return true;  // a label beside it says what it is
    if (const auto *b = qobject_cast<const QAbstractButton *>(w))
        return !b->text().trimmed().isEmpty();
    if (const auto *g = qobject_cast<const QGroupBox *>(w))
        return !g->title().trimmed().isEmpty();
    // A label shows its text, or will: only a picture needs a name.
    if (const auto *l = qobject_cast<const QLabel *>(w))
        return !l->text().isEmpty() || l->pixmap().isNull();
    return false;
}

class NameOnShow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *w = static_cast<QWidget *>(watched);
            if (w->isWindow())
                nameForAccessibility(w);
        }
        return false;
    }
};

}  // namespace

void nameForAccessibility(QWidget *root)
{
    const QList<QWidget *> all = root->findChildren<QWidget *>() << root;
    QSet<const QWidget *> labelled;
    for (const QWidget *w : all)
        if (const auto *l = qobject_cast<const QLabel *>(w); l && l->buddy())
            labelled.insert(l->buddy());
    for (QWidget *w : all)
        if (!w->objectName().isEmpty() && w->accessibleName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")) && !hasCaption(w, labelled))
            w->setAccessibleName(w->objectName());
}

void nameWindowsOnShow(QObject *application) { application->installEventFilter(new NameOnShow(application)); }

}  // namespace velora::widgets
