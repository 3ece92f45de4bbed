#pragma once
// "Tip of the day": one tip at random, next and previous through the rest.

#include <QDialog>

#include "common/TipFile.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace velora::client {

class TFtip : public QDialog {
    Q_OBJECT
public:
    // Reads the tips once, now.
    explicit TFtip(const QString &tipFile, QWidget *parent = nullptr);

    void SpeedButton1Click();  // next
    void SpeedButton2Click();  // previous
    void SpeedButton3Click();  // close
    const TipList &tips() const { return tips_; }
    void startAt(std::uint64_t seed);
    // The title bar's close button and Escape end here.
    void reject() override;

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    QPushButton *SpeedButton2 = nullptr;
    QPushButton *SpeedButton3 = nullptr;
    QCheckBox *CheckBox1 = nullptr;

signals:
    // The settings are to be saved (the check box is one of them).
    void saveRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showTip();
    TipList tips_;
    bool checkedWhenShown_ = false;
};

}  // namespace velora::client
