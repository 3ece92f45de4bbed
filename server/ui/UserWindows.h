#pragma once
// The user editor TFpassword of the "User/password" page: a window-modal
// dialog over the UserEditor, every message through the Prompter.

#include <QDialog>

#include <functional>

#include "server/users/UserEditor.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velora {
class Prompter;
}

namespace velora::server::ui {

class TFpassword : public QDialog {
    Q_OBJECT
public:
    TFpassword(users::UserStore &store, Prompter &prompter, QWidget *parent = nullptr);

    // "Add new user" and a double click on a user; false (with the message
    // said) when the store cannot be read or the user is gone.
    bool startNew();
    bool startEdit(const std::string &name);
    int EditIndex = -1;

    void SpeedButton1Click();  // OK
    void SpeedButton2Click();  // Cancel
    void SpeedButton3Click();  // Delete

signals:
    // The file was written: the page shows the list again.
    void saved();

private:
    bool loadStore();
    users::UserEditor editor_;
    Prompter &prompter_;

public:
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit4;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4;
    QPushButton *SpeedButton1, *SpeedButton2, *SpeedButton3;
};

}  // namespace velora::server::ui
