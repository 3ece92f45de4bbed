// The main window's view: what a status record, a login or a lost
// connection shows. Texts from the server are shown through shownText only.
#include "client/ui/TFmain.h"

#include <algorithm>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include "client/core/WireText.h"
#include "client/ui/ClientIcons.h"
#include "client/ui/TFpassword.h"
#include "widgets/LockTimes.h"
#include "widgets/TFsend.h"

namespace velora::client::ui {

using core::shownText;

namespace {

// Refills an editable combo's list and keeps what its edit field shows.
void refill(QComboBox *combo, const std::vector<std::string> &items)
{
    const QString text = combo->currentText();
    combo->blockSignals(true);
    combo->clear();
    for (const auto &i : items)
        combo->addItem(shownText(i));
    combo->setCurrentIndex(-1);
    combo->setEditText(text);
    combo->blockSignals(false);
}

}  // namespace

// ---- session ----

void TFmain::onLoginStarted()
{
    connectHelp->hide();
    setMessage("Trying to connect to" + session_.applied().host);
    hapuspopup();
    refill(ComboBox1, {});
    password_->clearFields();
}

void TFmain::onLoginAccepted()
{
    Timer3.start();
    Button1->hide();
    Button3->show();
    connect1->setText(QStringLiteral("disconnect"));
    Image3->show();
    Image6->hide();
    setTrayImage(core::StatusModel::LineNotConnected);
    // A person who had gone to the settings to make the login work wants
    // to see the line now.
    showPanel(PanelNormal);
    applyPrivileges();
}

void TFmain::applyPrivileges()
{
    const core::Privileges &p = session_.privileges();
    const bool unlockAll = p.unlockAll != "0";
    SpeedButton1->setEnabled(unlockAll);
    SpeedButton1->setToolTip(unlockAll ? QStringLiteral("click to release all clients lock")
                                       : QStringLiteral("you do not have previlege to unlock all"));
    const bool dial = p.dialHangup != "0";
    Button2->setEnabled(dial);
    Button4->setEnabled(dial);
    Button5->setEnabled(true);
    Button5a->setEnabled(true);
    Button2->setToolTip(dial ? QStringLiteral("use this button to dial a connection")
                             : QStringLiteral("you do not have privilege to dial a connection"));
    Button4->setToolTip(dial ? QStringLiteral("use this button to hangup current connection")
                             : QStringLiteral("you do not have privilege to hang up a connection"));
    dial1->menuAction()->setVisible(dial);
    hangup1->setVisible(dial);
    const bool shutdown = p.shutdown != "0";
    SpeedButton2->setEnabled(shutdown);
    SpeedButton2->setToolTip(shutdown ? QStringLiteral("click to shutdown server computer")
                                      : QStringLiteral("you do not have privilege to shutdown server computer"));
}

void TFmain::setCommandsEnabled(bool on)
{
    for (QPushButton *b : {Button2, Button4, Button5, Button5a, SpeedButton1, SpeedButton2})
        b->setEnabled(on);
}

void TFmain::onLoginRefused(const std::string &reason)
{
    password_->openIn(TFpassword::Mode::Retry, QStringLiteral("Fail to connect, ") + shownText(reason));
}

void TFmain::onHandshakeFailed()
{
    error("Handshake error\nConnection to Velora server interupted. Please restart Velora client");
}

void TFmain::onConnectFailed(const QString &reason)
{
    // Between the attempts after a lost session the loss stays the news.
    if (session_.retrying()) {
        Label1->setToolTip(reason);
        return;
    }
    // Say so instead of leaving the person to wonder.
    setMessage("cannot connect to server");
    Label1->setToolTip(reason);
    setTrayHint(model_.message);
    showConnectHelp(reason);
}

void TFmain::onConnectionLost(const QString &reason)
{
    lostReason_ = reason;
    Label1->setToolTip(reason);
    connectHelpText->setText(QStringLiteral("Disconnected from server: %1.").arg(reason));
    connectHelp->show();
}

void TFmain::onRetryScheduled(int seconds)
{
    // Disconnect stops the attempts.
    Button1->hide();
    Button3->show();
    connectHelpText->setText(QStringLiteral("Disconnected from server: %1.\nConnecting again in %2 s.")
                                 .arg(lostReason_)
                                 .arg(seconds));
    connectHelp->show();
}

void TFmain::askLogin()
{
    if (password_->isVisible())
        return;
    password_->openIn(TFpassword::Mode::Login, QStringLiteral("Log in to the Velora server"));
}

void TFmain::showConnectHelp(const QString &reason)
{
    const core::AppliedSettings &a = session_.applied();
    if (a.host.empty())
        connectHelpText->setText(QStringLiteral("No server address is set yet. Enter the server's address "
                                                "and port in the Configuration panel, save, then Connect."));
    else
        connectHelpText->setText(QStringLiteral("%1:%2: %3\nCheck the server address and port in the "
                                                "Configuration panel.")
                                     .arg(shownText(a.host))
                                     .arg(a.port)
                                     .arg(reason));
    connectHelp->show();
}

void TFmain::onDisconnectedState()
{
    hapuspopup();
    Timer3.stop();
    followUp_.stop();
    lastRecord_.reset();
    selectedActive_.clear();
    Lvclient->clear();
    shownClients_.clear();
    Button1->show();
    Button3->hide();
    setTrayImage(core::StatusModel::NoServer);
    Image1->hide();
    Image2->hide();
    Image6->show();
    Image3->hide();
    Image7->hide();
    model_.reset();
    showLabels();
    refill(ComboBox1, {});
    refill(combodefault, {});
    setTrayHint(model_.message);
    connect1->setText(QStringLiteral("connect"));
    dial1->menuAction()->setEnabled(false);
    hangup1->setEnabled(false);
    setCommandsEnabled(false);
}

// ---- status view ----

void TFmain::setMessage(const std::string &text)
{
    model_.message = text;
    Label1->setText(shownText(text));
}

void TFmain::showLabels()
{
    Label1->setText(shownText(model_.message));
    Label8->setText(shownText(model_.activeEntry));
    Label6->setText(shownText(model_.lockStatus));
    LbLockedBy->setText(widgets::lockedByText(shownText(model_.lockHolder), model_.lockHolderSince));
    Label14->setText(shownText(model_.errorNotice));
    Label21->setText(shownText(model_.speed));
    Label22->setText(shownText(model_.device));
    Label4->setText(shownText(model_.onlineText));
}

void TFmain::UpdateGUI(const wire::StatusRecord &record)
{
    followUp_.stop();
    lastRecord_ = record;
    const bool complete = model_.apply(record);
    Label1->setToolTip(QString());
    showLabels();
    if (!complete)
        return;
    setTrayHint(model_.shortOrFullHint());

    const core::StatusModel::Controls c = model_.controls(session_.privileges().dialHangup);
    Button2->setEnabled(c.dialEnabled);
    Button4->setEnabled(c.dialEnabled);
    dial1->menuAction()->setEnabled(c.trayDialEnabled);
    hangup1->setEnabled(c.trayHangupEnabled);
    if (c.lockIcon != core::StatusModel::LockIcon::Unchanged)
        Image7->setVisible(c.lockIcon == core::StatusModel::LockIcon::Shown);
    Button5->setVisible(!c.showUnlock);
    Button5a->setVisible(c.showUnlock);
    Button2->setVisible(!c.showHangup);
    Button4->setVisible(c.showHangup);
    Image1->setVisible(c.lineConnected);
    Image2->setVisible(!c.lineConnected);
    setTrayImage(c.trayImage);

    isiclientlist();
    tulisentry();
    selectActiveEntry();
}

void TFmain::expectStatus() { followUp_.start(FollowUpMs); }

void TFmain::restoreView()
{
    followUp_.stop();
    if (!lastRecord_ || !session_.inSession())
        return;
    // The record's seconds are as old as the record; the clock has gone on since.
    const std::uint64_t seconds = model_.secondsOnline;
    const std::string online = model_.onlineText;
    const wire::StatusRecord record = *lastRecord_;
    UpdateGUI(record);
    if (model_.message == "Connected" && seconds > model_.secondsOnline) {
        model_.secondsOnline = seconds;
        model_.onlineText = online;
        Label4->setText(shownText(online));
    }
}

void TFmain::selectActiveEntry()
{
    // Once per entry in use: a person may pick another entry meanwhile.
    if (model_.activeEntry == selectedActive_)
        return;
    selectedActive_ = model_.activeEntry;
    const auto &e = model_.entries;
    const auto it = std::find(e.begin(), e.end(), model_.activeEntry);
    if (it != e.end())
        ComboBox1->setCurrentIndex(static_cast<int>(it - e.begin()));
}

void TFmain::preselectEntry()
{
    for (const std::string &wanted : {settings_.value(core::ClientSettings::DefaultEntry), lastDialled_}) {
        const int i = wanted.empty() ? -1 : ComboBox1->findText(shownText(wanted), Qt::MatchExactly);
        if (i >= 0) {
            ComboBox1->setCurrentIndex(i);
            return;
        }
    }
    ComboBox1->setCurrentIndex(ComboBox1->count() > 0 ? 0 : -1);
}

void TFmain::hapuspopup()
{
    shownEntries_.clear();
    if (!dialItemsExist_)
        return;
    for (QAction *a : dialItems_)
        delete a;
    dialItems_.clear();
    dialItemsExist_ = false;
}

void TFmain::tulisentry()
{
    if (dialItemsExist_ && shownEntries_ == model_.entries)
        return;
    hapuspopup();
    shownEntries_ = model_.entries;
    // A choice the person made stays while its entry is still offered.
    const QString chosen = ComboBox1->currentText();
    refill(ComboBox1, model_.entries);
    refill(combodefault, model_.entries);
    const int again = chosen.isEmpty() ? -1 : ComboBox1->findText(chosen, Qt::MatchExactly);
    if (again >= 0)
        ComboBox1->setCurrentIndex(again);
    else
        preselectEntry();
    for (std::size_t i = 0; i < model_.entries.size(); ++i) {
        QAction *a = dial1->addAction(shownText(model_.entries[i]));
        const int index = static_cast<int>(i);
        connect(a, &QAction::triggered, this, [this, index] { zanfel(index); });
        dialItems_.push_back(a);
        dialItemsExist_ = true;
    }
}

void TFmain::isiclientlist()
{
    std::vector<std::string> since;
    for (const std::int64_t t : model_.clientLockedSince)
        since.push_back(std::to_string(t));
    std::vector<std::vector<std::string>> rows{model_.clientNames, model_.clientLocks, model_.clientAddresses,
                                               since};
    if (rows == shownClients_)
        return;
    shownClients_ = std::move(rows);
    Lvclient->clear();
    for (std::size_t i = 0; i < model_.clientNames.size(); ++i) {
        auto *item = new QTreeWidgetItem(Lvclient);
        item->setText(0, shownText(model_.clientNames[i]));
        item->setText(1, shownText(wire::at(model_.clientAddresses, i)));
        item->setText(2, shownText(wire::at(model_.clientLocks, i)));
        item->setText(3, widgets::lockedSinceText(model_.clientLockedSince[i]));
        if (widgets::TFsend::isOperator(model_.clientNames[i]))
            widgets::TFsend::markOperatorRow(item, QString::fromLatin1(widgets::TFsend::OperatorTip));
    }
    fillSendList();
}

void TFmain::Timer3Timer()
{
    model_.clockTick();
    Label4->setText(shownText(model_.onlineText));
    setTrayHint(model_.fullHint());
}

void TFmain::setTrayImage(int index)
{
    trayImage_ = index;
    tray->setIcon(icons::tray(index));
}

void TFmain::setTrayHint(const std::string &hint) { tray->setToolTip(shownText(hint)); }

QString TFmain::trayHint() const { return tray->toolTip(); }

}  // namespace velora::client::ui
