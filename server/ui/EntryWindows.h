#pragma once
// The entry windows of the main window's entry list: properties (TFentry),
// rename (TFrename) and the entry dialog for new entries and "edit entry"
// (TFentryEdit). Window-modal; they act through the operator console.

#include <QDialog>

#include <string>
#include <vector>

#include "server/dialup/entries/EntryStore.h"

namespace velora {
class Prompter;
}
namespace velora::server::frame {
class OperatorConsole;
}

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velora::server::ui {

// The values the line's store keeps for an entry (for the simulated line its
// phone number, speed, address and failure; for the command line its commands,
// interface, speed and device; for pppd its device, phone, user and password),
// for a new entry or "edit entry". Each value's field is named "Edit_" + key.
class TFentryEdit : public QDialog {
    Q_OBJECT
public:
    TFentryEdit(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent = nullptr);
    // An empty name: a new entry, its name asked for too.
    void start(const std::string &entry);
    void SpeedButton1Click();  // Save
    QLineEdit *field(const std::string &key) const;

    QLineEdit *Edit1;  // the entry's name
    QPushButton *SpeedButton1, *SpeedButton2;

private:
    frame::OperatorConsole &console_;
    Prompter &prompter_;
    std::string entry_;
    std::vector<dialup::EntryField> fields_;
    std::vector<QLineEdit *> edits_;
    QFormLayout *form_;
};

class TFrename : public QDialog {
    Q_OBJECT
public:
    TFrename(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent = nullptr);
    void start(const std::string &entry);
    void SpeedButton1Click();  // Rename

    QLineEdit *Edit1;
    QPushButton *SpeedButton1;

private:
    frame::OperatorConsole &console_;
    Prompter &prompter_;
    std::string entry_;
};

class TFentry : public QDialog {
    Q_OBJECT
public:
    TFentry(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent = nullptr);
    // FormShow: false when the entry is not in the store.
    bool start(const std::string &entry);
    void SpeedButton1Click();  // save password
    void SpeedButton4Click();  // save cost
    void SpeedButton2Click();  // edit entry
    void SpeedButton5Click();  // delete entry
    void SpeedButton3Click();  // close
    bool credentialsChanged() const { return credentialsChanged_; }
    bool costChanged() const { return costChanged_; }
    TFentryEdit *editWindow() const { return edit_; }

    QLabel *Label8, *Label9, *Label10, *Label11, *Label12;
    QLineEdit *Edit1, *Edit2, *Edit3;
    QPushButton *SpeedButton1, *SpeedButton2, *SpeedButton3, *SpeedButton4, *SpeedButton5;

protected:
    void done(int result) override;  // FormClose

private:
    bool saveCredentials();
    bool saveCost();

    frame::OperatorConsole &console_;
    Prompter &prompter_;
    TFentryEdit *edit_;
    std::string entry_;
    bool credentialsChanged_ = false;
    bool costChanged_ = false;
    bool loading_ = false;
    bool deleted_ = false;
};

}  // namespace velora::server::ui
