// The client's chat: the send-message window, the client list's context
// menu, the messages of the push line, the popup and the sound.
#include <QAction>
#include <QMenu>
#include <QTreeWidget>

#include "client/core/WireText.h"
#include "client/ui/TFmain.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"

namespace velora::client::ui {

void TFmain::buildChat()
{
    send_ = new widgets::TFsend(
        widgets::TFsend::Client, prompter_,
        [this] { return widgets::TFsend::Identity{session_.localHostName(), session_.localAddress()}; },
        [this](const std::string &recipient, const std::string &record) -> std::optional<std::string> {
            if (!session_.sendMessage(recipient, record))
                return std::string("Not connected to server");
            return std::nullopt;
        });
    alert_ = new widgets::NewMessageAlert(QStringLiteral("Read Now ?"), true, this);
    alert_->setSoundDir(settings_.clientDir());
    connect(alert_, &widgets::NewMessageAlert::replyRequested, send_, &widgets::TFsend::openFor);
    connect(alert_, &widgets::NewMessageAlert::openRequested, this, [this] {
        send_->show();
        send_->raise();
        send_->activateWindow();
    });

    sendmessage2->setEnabled(true);
    Sendmessege1->setEnabled(true);
    connect(sendmessage2, &QAction::triggered, this, &TFmain::sendmessage2Click);
    connect(Sendmessege1, &QAction::triggered, this, &TFmain::Sendmessege1Click);

    Lvclient->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    sendmessage1 = PopupMenu2->addAction(QStringLiteral("send message"));
    sendmessage1->setObjectName(QStringLiteral("sendmessage1"));
    connect(PopupMenu2, &QMenu::aboutToShow, this, &TFmain::PopupMenu2Popup);
    connect(sendmessage1, &QAction::triggered, this, &TFmain::sendmessage1Click);
    connect(Lvclient, &QWidget::customContextMenuRequested, this, &TFmain::LvclientContextPopup);

    connect(&session_, &core::ClientSession::messagesReceived, this, &TFmain::bacapesan);
    connect(&session_, &core::ClientSession::disconnectedState, this, [this] { send_->setClients({}); });
}

void TFmain::fillSendList()
{
    std::vector<widgets::TFsend::Row> rows;
    rows.reserve(model_.clientNames.size());
    for (std::size_t i = 0; i < model_.clientNames.size(); ++i)
        rows.push_back({model_.clientNames[i], wire::at(model_.clientAddresses, i), wire::at(model_.clientLocks, i)});
    send_->setClients(rows);
}

void TFmain::sendmessage2Click() { send_->openWithList(); }

void TFmain::Sendmessege1Click() { send_->openWithList(); }

void TFmain::LvclientContextPopup(const QPoint &pos)
{
    QTreeWidgetItem *item = Lvclient->currentItem();
    if (!item || !item->isSelected())
        return;
    PopupMenu2->popup(Lvclient->viewport()->mapToGlobal(pos));
}

void TFmain::PopupMenu2Popup()
{
    QTreeWidgetItem *item = Lvclient->currentItem();
    if (!item || !item->isSelected())
        return;
    // The row's own bytes from the record, not the shown text turned back.
    const int index = Lvclient->indexOfTopLevelItem(item);
    if (index < 0 || static_cast<std::size_t>(index) >= model_.clientNames.size())
        return;
    const auto i = static_cast<std::size_t>(index);
    menuName_ = model_.clientNames[i];
    menuAddress_ = wire::at(model_.clientAddresses, i);
    QString caption = QStringLiteral("send message to ") + core::shownText(menuName_);
    // A menu would read "&" as a shortcut mark.
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    sendmessage1->setText(caption);
}

void TFmain::sendmessage1Click()
{
    if (menuAddress_.empty() && menuName_.empty())
        return;
    send_->openFor(menuName_, menuAddress_);
}

void TFmain::bacapesan(const std::vector<wire::MessageRecord> &records)
{
    // Working in the window: no popup, but the sound all the same.
    const bool popupWanted = !send_->inputHasFocus();
    if (send_->bacapesan(records, session_.localAddress()) > 0)
        alert_->announce(popupWanted, send_->lastReceived());
}

}  // namespace velora::client::ui
