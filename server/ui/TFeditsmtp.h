#pragma once
// "Edit SMTP server": the outgoing mail server of one dial-up entry, saved
// into the log database's smtp table. The relay takes it at the next dial.

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velora {
class Prompter;
}
namespace velora::server::log {
class LogDatabase;
}

namespace velora::server::ui {

class TFeditsmtp : public QDialog {
    Q_OBJECT
public:
    // `book` may be null (no log file): saving then fails silently.
    TFeditsmtp(log::LogDatabase *book, Prompter &prompter, QWidget *parent = nullptr);

    // The selected row of the list: entry, server and port, as stored.
    void setRow(const std::string &entry, const std::string &server, const std::string &port);
    void setBook(log::LogDatabase *book) { book_ = book; }

    void FormShow();
    void SpeedButton2Click();  // Save
    void SpeedButton1Click();  // close

    QLabel *Label4 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QPushButton *SpeedButton2 = nullptr;
    QPushButton *SpeedButton1 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    log::LogDatabase *book_;
    Prompter &prompter_;
    std::string entry_, server_, port_;
};

}  // namespace velora::server::ui
