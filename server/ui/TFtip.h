#pragma once
// "Tip of the day": one tip at random, then forward and back through the
// others. The file is read again on every show.

#include <QDialog>
#include <string>

#include "common/TipFile.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace velora::server {

class TFtip : public QDialog {
    Q_OBJECT
public:
    explicit TFtip(std::string tipFile, QWidget *parent = nullptr);

    void SpeedButton1Click();  // next
    void SpeedButton2Click();  // previous
    void SpeedButton3Click();  // close: save the configuration first
    const TipList &tips() const { return tips_; }

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    QPushButton *SpeedButton2 = nullptr;
    QPushButton *SpeedButton3 = nullptr;
    QCheckBox *CheckBox1 = nullptr;

signals:
    // The check box is part of the configuration; the owner saves it.
    void saveRequested();
    void problem(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    void showTip();

    std::string tipFile_;
    TipList tips_;
};

}  // namespace velora::server
