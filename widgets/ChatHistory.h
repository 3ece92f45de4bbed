#pragma once
// The chat history `memo2`: lines made of parts, a part being a text in a
// colour, a sender's name carrying a link. At most MaxLines lines; the
// oldest go first. New lines keep the view at the bottom only while it
// stands there.

#include <QColor>
#include <QString>
#include <QPlainTextEdit>

namespace velora::widgets {

class ChatHistory : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int MaxLines = 10000;
    // The link tag of a sender's name.
    static const char *const LinkTag;

    explicit ChatHistory(QWidget *parent = nullptr);

    // A new line; an invalid colour is the memo's default one.
    void addLine(const QString &text, const QColor &colour = {});
    // A further part of the last line.
    void addPart(const QString &text, const QColor &colour = {});
    void addLinkPart(const QString &text, const QColor &colour = {});

    int lineCount() const;
    QString lineText(int line) const;
    // The text of every link part of a line, in order.
    QStringList linkTexts(int line) const;
    bool atBottom() const;

signals:
    // A link part was clicked; its text.
    void linkClicked(const QString &text);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void insert(const QString &text, const QColor &colour, bool link);
    QString linkTextAt(const QPoint &pos) const;

    bool empty_ = true;
    bool follow_ = true;
};

}  // namespace velora::widgets
