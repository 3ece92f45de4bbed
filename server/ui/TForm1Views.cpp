#include "server/ui/TForm1.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include "server/clientservice/ClientRow.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"
#include "server/ui/TrayImages.h"
#include "widgets/LockTimes.h"
#include "widgets/TFtip.h"

// The window's view updates: what the console shows, put on the screen.

namespace velora::server::ui {

using state::shownText;

void TForm1::refreshStatus()
{
    const frame::StatusView &v = console_.statusView();
    if (v.ticked) {
        Label8->setText(shownText(v.entry));
        Label22->setText(shownText(v.device));
        Label4->setText(shownText(v.timeOnline));
        Label21->setText(shownText(v.speed));
        Label6->setText(shownText(v.lock));
        LbLockedBy->setText(widgets::lockedByText(shownText(v.lockHolder), v.lockedSince));
        Label2->setText(shownText(v.status));
        Label25->setText(shownText(v.errorNotice));
        SpeedButton6->setVisible(!v.unlockShown);
        SpeedButton7->setVisible(v.unlockShown);
    }
    // Only on change: some trays redraw on every set.
    const QString hint = v.trayHint.empty() ? QStringLiteral("Velora XP") : shownText(v.trayHint);
    if (v.trayImage != trayImage_) {
        trayImage_ = v.trayImage;
        const QIcon icon = trayImage(trayImage_);
        setWindowIcon(icon);
        if (tray_) {
            tray_->setIcon(icon);
            tray_->show();
        }
    }
    if (hint != trayHint_) {
        trayHint_ = hint;
        if (tray_)
            tray_->setToolTip(trayHint_);
    }
}

void TForm1::updateentry(const std::vector<std::string> &names)
{
    for (QAction *a : dialItems_)
        delete a;
    dialItems_.clear();
    lventry->clear();
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto *item = new QListWidgetItem(shownText(names[i]), lventry);
        item->setData(Qt::UserRole, QByteArray::fromStdString(names[i]));
        // A menu would read "&" as a shortcut mark.
        QString text = shownText(names[i]);
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *a = named(dial1->addAction(text), "dialItem");
        connect(a, &QAction::triggered, this, [this, i] { console_.zanfel(i, prompter_); });
        dialItems_.push_back(a);
    }
}

void TForm1::showClientRows(const std::vector<clientservice::ClientRow> &rows)
{
    Lvclient->clear();
    for (const clientservice::ClientRow &r : rows)
        new QTreeWidgetItem(Lvclient, {shownText(r.name), shownText(r.address), shownText(r.lock),
                                       r.lock == "locking" ? widgets::lockedSinceText(r.lockedSince) : QString()});
}

void TForm1::showOnline(bool online)
{
    Button5->setVisible(!online);
    Button6->setVisible(online);
    tlsFingerprint_->setText(QString::fromStdString(console_.tlsFingerprint()));
}

void TForm1::showProblem(const QString &text) { statusBar()->showMessage(text); }

void TForm1::loadcfg()
{
    const frame::ServerSettings &s = console_.settings();
    Edit1->setText(shownText(s.port));
    CheckBox1->setChecked(s.startWithSystem);
    CheckBox1->setEnabled(s.startWithSystemEnabled);
    CheckBox2->setChecked(s.onlineStartup);
    CheckBox3->setChecked(s.startMinimized);
    // A value the list cannot show leaves it empty (and is kept on saving).
    ComboBox5->setCurrentIndex(s.shutdownMode >= 0 && s.shutdownMode < ComboBox5->count() ? s.shutdownMode : -1);
    CheckBox4->setChecked(s.keepAlive);
    tip_->CheckBox1->setChecked(s.tipOfTheDay);
    CheckBox9->setChecked(s.ics);
    Edit3->setText(shownText(s.pingIp));
    CheckBox6->setChecked(s.smtpAutoRelay);
    Edit2->setText(shownText(s.smtpPort));
    CheckBox7->setChecked(s.connectionLogging);
    ComboBox6->setCurrentIndex(s.clientPolling >= 0 && s.clientPolling < ComboBox6->count() ? s.clientPolling : -1);
    policyRedial->setChecked(s.policy.redial);
    policyRedialHoldoff->setValue(s.policy.redialholdoff);
    policyRedialMaxFail->setValue(s.policy.redialmaxfail);
    policyIdleHangup->setValue(s.policy.idlehangup);
    policyIdleBytes->setValue(s.policy.idlebytes);
    policyMonthlyBudget->setText(shownText(s.policy.monthlybudget));
}

}  // namespace velora::server::ui
