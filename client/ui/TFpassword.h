#pragma once
// The login window: login mode when there is nothing to log in with yet,
// retry mode after a refused login, edit mode from the menu.

#include <QDialog>

#include "client/core/ClientSession.h"
#include "client/core/ClientSettings.h"
#include "common/Prompter.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velora::client::ui {

class TFpassword : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Login, Retry, Edit };

    TFpassword(core::ClientSettings &settings, core::ClientSession &session, Prompter &prompter,
               QWidget *parent = nullptr);

    // Shows the window without blocking the caller's event loop.
    void openIn(Mode mode, const QString &caption);
    Mode mode() const { return mode_; }
    // Loads the remembered login into the fields.
    void getpassword();
    void SpeedButton1Click();
    void clearFields();

    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    // In retry mode why the login failed, in the window itself: a caption is
    // cut off or not shown at all by some window managers.
    QLabel *failureLabel = nullptr;
    QPushButton *cancelButton = nullptr;

private:
    core::ClientSettings &settings_;
    core::ClientSession &session_;
    Prompter &prompter_;
    Mode mode_ = Mode::Edit;
};

}  // namespace velora::client::ui
