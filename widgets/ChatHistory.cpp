#include "widgets/ChatHistory.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace velora::widgets {

const char *const ChatHistory::LinkTag = "zanfel";

ChatHistory::ChatHistory(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    document()->setMaximumBlockCount(MaxLines);
    // Whether the view follows is decided by where the person left it, not by
    // the range growing underneath.
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
        QScrollBar *bar = verticalScrollBar();
        follow_ = bar->sliderPosition() >= bar->maximum();
    });
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this,
            [this] { follow_ = verticalScrollBar()->value() >= verticalScrollBar()->maximum(); });
}

bool ChatHistory::atBottom() const { return verticalScrollBar()->value() >= verticalScrollBar()->maximum(); }

void ChatHistory::insert(const QString &text, const QColor &colour, bool link)
{
    const bool follow = follow_ || atBottom();
    QScrollBar *bar = verticalScrollBar();
    const int kept = bar->value();
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    QTextCharFormat f;
    if (colour.isValid())
        f.setForeground(colour);
    if (link) {
        f.setAnchor(true);
        f.setAnchorHref(QString::fromLatin1(LinkTag));
        f.setFontUnderline(true);
    }
    c.insertText(text, f);
    if (follow)
        bar->setValue(bar->maximum());
    else
        bar->setValue(kept);
    follow_ = follow;
}

void ChatHistory::addLine(const QString &text, const QColor &colour)
{
    if (!empty_) {
        QTextCursor c(document());
        c.movePosition(QTextCursor::End);
        // A fresh block takes the default format, not the previous line's.
        c.insertBlock(QTextBlockFormat(), QTextCharFormat());
    }
    empty_ = false;
    insert(text, colour, false);
}

void ChatHistory::addPart(const QString &text, const QColor &colour)
{
    empty_ = false;
    insert(text, colour, false);
}

void ChatHistory::addLinkPart(const QString &text, const QColor &colour)
{
    empty_ = false;
    insert(text, colour, true);
}

int ChatHistory::lineCount() const { return empty_ ? 0 : document()->blockCount(); }

QString ChatHistory::lineText(int line) const { return document()->findBlockByNumber(line).text(); }

QStringList ChatHistory::linkTexts(int line) const
{
    QStringList out;
    const QTextBlock b = document()->findBlockByNumber(line);
    for (auto it = b.begin(); !it.atEnd(); ++it)
        if (it.fragment().charFormat().isAnchor())
            out << it.fragment().text();
    return out;
}

QString ChatHistory::linkTextAt(const QPoint &pos) const
{
    const QTextBlock b = cursorForPosition(pos).block();
    for (auto it = b.begin(); !it.atEnd(); ++it) {
        const QTextFragment frag = it.fragment();
        if (!frag.charFormat().isAnchor())
            continue;
        // Only a point on the name itself, not beside it.
        QTextCursor from(document()), to(document());
        from.setPosition(frag.position());
        to.setPosition(frag.position() + frag.length());
        const QRect a = cursorRect(from), z = cursorRect(to);
        if (pos.x() >= a.left() && pos.x() <= z.right() && pos.y() >= a.top() && pos.y() <= z.bottom())
            return frag.text();
    }
    return {};
}

void ChatHistory::mouseReleaseEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QString text = linkTextAt(event->position().toPoint());
    if (!text.isEmpty())
        emit linkClicked(text);
}

}  // namespace velora::widgets
