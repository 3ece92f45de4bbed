#include "widgets/TFmeter.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSizeGrip>

#include "common/NumberFormat.h"
#include "widgets/TrendGraph.h"

namespace velora::widgets {

namespace {

constexpr std::uint64_t kGiB = 1073741824ULL;

QLabel *label(QWidget *parent, const char *name, const QString &text, const QColor &color)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    QFont f = l->font();
    f.setPointSizeF(7.5);
    l->setFont(f);
    l->setMargin(1);
    return l;
}

// The figures sit on the graph; a veil of its ground keeps them readable
// where a line runs through them.
void veil(QLabel *l)
{
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, QColor(233, 233, 254, 200));
    l->setPalette(pal);
    l->setAutoFillBackground(true);
}

}  // namespace

TFmeter::TFmeter(MeterOptions options, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), options_(options)
{
    setObjectName(QStringLiteral("TFmeter"));
    setWindowTitle(QStringLiteral("Bandwidth meter"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(123, 150, 222));
    setPalette(pal);
    setAutoFillBackground(true);

    Label5 = label(this, "Label5", QStringLiteral("--"), Qt::white);
    downloadtrend = new TrendGraph(this);
    Label4 = label(downloadtrend, "Label4", QStringLiteral("U:"), QColor(0, 255, 0));
    Label1 = label(downloadtrend, "Label1", QStringLiteral("D:"), QColor(255, 0, 0));
    Label6 = label(downloadtrend, "Label6", QStringLiteral("--"), Qt::black);
    for (QLabel *l : {Label4, Label1, Label6})
        veil(l);
    auto *grip = new QSizeGrip(this);
    grip->setObjectName(QStringLiteral("sizeGrip"));
    grip->resize(10, 10);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    if (options_.clientCopy) {
        Cleargraph1 = PopupMenu1->addAction(QStringLiteral("Clear graph"));
        Cleargraph1->setObjectName(QStringLiteral("Cleargraph1"));
        connect(Cleargraph1, &QAction::triggered, this, &TFmeter::Cleargraph1Click);
    }
    Hide1 = PopupMenu1->addAction(QStringLiteral("Hide"));
    Hide1->setObjectName(QStringLiteral("Hide1"));
    Exit1 = PopupMenu1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    Stayontop1 = PopupMenu1->addAction(QStringLiteral("Stay on top"));
    Stayontop1->setObjectName(QStringLiteral("Stayontop1"));
    Stayontop1->setCheckable(true);
    Stayontop1->setChecked(true);
    connect(Hide1, &QAction::triggered, this, &TFmeter::Hide1Click);
    connect(Exit1, &QAction::triggered, this, &TFmeter::Exit1Click);
    connect(Stayontop1, &QAction::triggered, this, &TFmeter::Stayontop1Click);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    // Every part of the window is a handle to drag it by.
    for (QWidget *w : {static_cast<QWidget *>(this), static_cast<QWidget *>(downloadtrend),
                       static_cast<QWidget *>(Label1), static_cast<QWidget *>(Label4),
                       static_cast<QWidget *>(Label5), static_cast<QWidget *>(Label6)})
        w->installEventFilter(this);

    // Design: 261 wide, a 254 × 100 graph, the window 23 pixels taller.
    resize(261, 100 + 23);
    layoutParts();
    place();
}

void TFmeter::place()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->geometry().width() : 1024;
    move(screenWidth - 270, 48);
}

void TFmeter::layoutParts()
{
    Label5->setGeometry(4, 2, width() - 8, 16);
    downloadtrend->setGeometry(3, 20, width() - 7, height() - 23);
    const int gh = downloadtrend->height();
    for (QLabel *l : {Label4, Label1, Label6})
        l->adjustSize();
    Label4->move(2, 1);
    Label1->move(81, 1);
    Label6->move(2, gh - Label6->height() - 1);
    if (auto *grip = findChild<QSizeGrip *>(QStringLiteral("sizeGrip")))
        grip->move(width() - grip->width(), height() - grip->height());
}

void TFmeter::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutParts();
}

QString TFmeter::bytesText(std::uint64_t n) const
{
    if (options_.clientCopy && n >= kGiB)
        return {};
    const QLocale locale = QLocale::system();
    const NumberSeparators seps{locale.decimalPoint().toStdString(), locale.groupSeparator().toStdString()};
    return QString::fromStdString(formatBytes(n, seps));
}

void TFmeter::feed(const QString &entry, std::uint64_t download, std::uint64_t upload)
{
    downloadtrend->addValue(0, static_cast<double>(download));
    Label4->setText(QStringLiteral("U: ") + bytesText(upload) + QStringLiteral("/s"));
    Label1->setText(QStringLiteral("D: ") + bytesText(download) + QStringLiteral("/s"));
    downloadtrend->addValue(1, static_cast<double>(upload));
    Label6->setText(QStringLiteral("Max scale: ") +
                    bytesText(static_cast<std::uint64_t>(downloadtrend->scaleTop())) + QStringLiteral("/s"));
    Label5->setText(entry);
    for (QLabel *l : {Label4, Label1, Label6})
        l->adjustSize();
}

void TFmeter::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFmeter::FormShow()
{
    Tag = 1;
    emit shown();
}

void TFmeter::Hide1Click()
{
    Tag = 1;
    close();
}

void TFmeter::Exit1Click()
{
    downloadtrend->zeroSeries(0);
    if (options_.clientCopy)
        downloadtrend->zeroSeries(1);
    downloadtrend->repaint();
    Tag = 0;
    emit exited();
    close();
}

void TFmeter::Cleargraph1Click() { downloadtrend->clear(); }

void TFmeter::Stayontop1Click()
{
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, Stayontop1->isChecked());
    // Changing a flag hides a top-level window; a shown meter stays shown.
    if (visible)
        QWidget::show();
}

bool TFmeter::eventFilter(QObject *, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        if (e->button() != Qt::LeftButton)
            return false;
        dragging_ = true;
        dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
        return false;
    }
    case QEvent::MouseMove:
        if (dragging_) {
            move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - dragOffset_);
            return true;
        }
        return false;
    case QEvent::MouseButtonRelease:
        dragging_ = false;
        return false;
    case QEvent::ContextMenu:
        PopupMenu1->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    default:
        return false;
    }
}

}  // namespace velora::widgets
