#pragma once
// "Tip of the day": one tip at random, then forward and back through the
// others. The file is read again on every show, so an edited file is seen
// without a restart.

#include <QDialog>
#include <cstdint>
#include <string>

#include "common/TipFile.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace velora::widgets {

class TFtip : public QDialog {
    Q_OBJECT
public:
    // tipFile is a path in the local encoding (UTF-8 here).
    explicit TFtip(std::string tipFile, QWidget *parent = nullptr);

    void SpeedButton1Click();  // next
    void SpeedButton2Click();  // previous
    void SpeedButton3Click();  // close: the owner saves the check box first
    // Starts the round at the tip a seed chooses (a show picks a random one).
    void startAt(std::uint64_t seed);
    const TipList &tips() const { return tips_; }
    // Tip file text shown when the tip file cannot be read.
    void setFallbackTips(std::string content) { fallback_ = std::move(content); }
    // The title bar's close button and Escape end here.
    void reject() override;

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    QPushButton *SpeedButton2 = nullptr;
    QPushButton *SpeedButton3 = nullptr;
    QCheckBox *CheckBox1 = nullptr;

signals:
    // The check box is part of the owner's configuration; the owner saves it.
    void saveRequested();
    // The tip file could not be read (the window then shows no tip).
    void problem(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    void showTip();

    std::string tipFile_;
    std::string fallback_;
    TipList tips_;
    bool checkedWhenShown_ = false;
};

}  // namespace velora::widgets
