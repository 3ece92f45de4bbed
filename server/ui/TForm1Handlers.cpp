#include "server/ui/TForm1.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

#include "common/Prompter.h"
#include "server/frame/LinePolicy.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/Text.h"
#include "widgets/TFtip.h"

// The window's handlers: the operator's commands and the window's events,
// each handed to the console.

namespace velora::server::ui {

void TForm1::pageToSettings()
{
    frame::ServerSettings &s = console_.settings();
    s.port = state::typedText(Edit1->text());
    s.startWithSystem = CheckBox1->isChecked();
    s.onlineStartup = CheckBox2->isChecked();
    s.startMinimized = CheckBox3->isChecked();
    if (ComboBox5->currentIndex() >= 0)
        s.shutdownMode = ComboBox5->currentIndex();
    s.keepAlive = CheckBox4->isChecked();
    s.tipOfTheDay = tip_->CheckBox1->isChecked();
    s.ics = CheckBox9->isChecked();
    s.pingIp = state::typedText(Edit3->text());
    s.smtpAutoRelay = CheckBox6->isChecked();
    s.smtpPort = state::typedText(Edit2->text());
    s.connectionLogging = CheckBox7->isChecked();
    if (ComboBox6->currentIndex() >= 0)
        s.clientPolling = ComboBox6->currentIndex();
    s.policy.redial = policyRedial->isChecked();
    s.policy.redialholdoff = policyRedialHoldoff->value();
    s.policy.redialmaxfail = policyRedialMaxFail->value();
    s.policy.idlehangup = policyIdleHangup->value();
    s.policy.idlebytes = policyIdleBytes->value();
    s.policy.monthlybudget = state::typedText(policyMonthlyBudget->text());
}

void TForm1::savecfg()
{
    // A budget the policy cannot read would switch it off without a word.
    const std::string budget = state::typedText(policyMonthlyBudget->text().trimmed());
    if (!budget.empty() && !frame::costUnits(budget)) {
        prompter_.tell(Prompter::Kind::Error,
                       "The monthly budget must be a number such as 150 or 99.50, or empty for none.");
        return;
    }
    pageToSettings();
    // The core reloads the file afterwards; configLoaded refills the page.
    if (console_.savecfg(prompter_).ok)
        statusBar()->showMessage(QStringLiteral("Configuration saved."), SavedNoticeMs);
}

void TForm1::Button5Click() { console_.goOnline(); }

void TForm1::Button6Click() { console_.goOffline(); }

void TForm1::Button2Click()
{
    std::string selected;
    const auto items = lventry->selectedItems();
    if (!items.isEmpty())
        selected = items.first()->data(Qt::UserRole).toByteArray().toStdString();
    console_.operatorDial(selected, prompter_);
}

void TForm1::Button3Click() { console_.operatorHangup(prompter_); }

void TForm1::hangup1Click() { console_.operatorHangup(prompter_); }

void TForm1::Button1Click() { console_.getentry(); }

void TForm1::SpeedButton6Click() { console_.operatorLock(); }

void TForm1::SpeedButton7Click() { console_.operatorUnlock(); }

void TForm1::SpeedButton8Click() { console_.unlockAll(); }

void TForm1::SpeedButton3Click() { savecfg(); }

// ------------------------------------------------------- window and tray

void TForm1::restore1Click()
{
    if (isVisible() && !isMinimized()) {
        if (tray_)
            hide();
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

void TForm1::exit1Click() { close(); }

void TForm1::Tipoftheday1Click()
{
    tip_->show();
    tip_->raise();
    tip_->activateWindow();
}

void TForm1::secondStageDone()
{
    // Without a tray a hidden window could not be brought back.
    if (console_.showWindowAtStart() || !tray_) {
        showNormal();
        raise();
        activateWindow();
    } else {
        hide();
    }
    if (console_.showTipAtStart())
        tip_->show();
    fillLogLists();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (console_.FormClose(prompter_) == frame::OperatorConsole::CloseAction::EndProgram) {
        event->accept();
        tip_->hide();
        emit quitRequested();
    } else {
        event->ignore();
    }
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    restore1->setText(QStringLiteral("hide"));
}

void TForm1::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    if (!isVisible())
        restore1->setText(QStringLiteral("restore"));
}

void TForm1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimizing goes to the tray, where there is one.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_)
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

}  // namespace velora::server::ui
