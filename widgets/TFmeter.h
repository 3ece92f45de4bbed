#pragma once
// "Bandwidth meter": the small frameless window that both programs float at
// the top right of the screen, with the trend graph of the connected entry's
// download and upload and the figures written over it. It is fed while its
// Tag is 1: while shown and after "Hide", not after "Exit".

#include <QPoint>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QAction;
class QLabel;
class QMenu;

namespace velora::widgets {

class TrendGraph;

struct MeterOptions {
    // The client's copy: a "Clear graph" item, "Exit" clears both series,
    // figures of 1 GiB and more show no number.
    bool clientCopy = false;
};

class TFmeter : public QWidget {
    Q_OBJECT
public:
    explicit TFmeter(MeterOptions options = {}, QWidget *parent = nullptr);

    // The figures of one sample, in the order the labels and series take them.
    void feed(const QString &entry, std::uint64_t download, std::uint64_t upload);
    // "#,##0.00 B" / KB / MB with the locale's separators; beyond that GB on
    // the server, nothing on the client.
    QString bytesText(std::uint64_t n) const;

    int Tag = 0;

    void FormShow();
    void Hide1Click();
    void Exit1Click();
    void Stayontop1Click();
    void Cleargraph1Click();

    QLabel *Label5 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label6 = nullptr;
    TrendGraph *downloadtrend = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *Cleargraph1 = nullptr;
    QAction *Hide1 = nullptr;
    QAction *Exit1 = nullptr;
    QAction *Stayontop1 = nullptr;

signals:
    // The window was shown (the client subscribes) and left with "Exit".
    void shown();
    void exited();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();
    void layoutParts();

    MeterOptions options_;
    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace velora::widgets
