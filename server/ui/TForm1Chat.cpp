// The operator's chat: the send-message window, the client list's context
// menu, the operator's inbox on the status tick, the popup and the sound.
#include <QAction>
#include <QMenu>
#include <QTreeWidget>

#include "common/WireCodec.h"
#include "server/clientservice/ClientRow.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"
#include "server/ui/TForm1.h"
#include "widgets/NewMessagePopup.h"
#include "widgets/TFsend.h"

namespace velora::server::ui {

namespace {

std::vector<widgets::TFsend::Row> sendRows(const std::vector<clientservice::ClientRow> &rows)
{
    std::vector<widgets::TFsend::Row> out;
    out.reserve(rows.size());
    for (const clientservice::ClientRow &r : rows)
        out.push_back({r.name, r.address, r.lock});
    return out;
}

}  // namespace

void TForm1::buildChat()
{
    send_ = std::make_unique<widgets::TFsend>(
        widgets::TFsend::Server, prompter_,
        [this] { return widgets::TFsend::Identity{console_.operatorName(), console_.operatorAddress()}; },
        [this](const std::string &recipient, const std::string &record) -> std::optional<std::string> {
            console_.pesanserver(recipient, record);
            return std::nullopt;
        });
    alert_ = std::make_unique<widgets::NewMessageAlert>(QStringLiteral(":"), false);
    alert_->setSoundDir(state::shownPath(console_.baseDir()));
    connect(alert_.get(), &widgets::NewMessageAlert::replyRequested, send_.get(), &widgets::TFsend::openFor);
    connect(alert_.get(), &widgets::NewMessageAlert::openRequested, this, [this] {
        send_->show();
        send_->raise();
        send_->activateWindow();
    });

    Sendmessage2->setVisible(true);
    connect(Sendmessage2, &QAction::triggered, this, &TForm1::Sendmessage2Click);

    Lvclient->setToolTip(QStringLiteral("Right click to send message to client"));
    Lvclient->setSelectionBehavior(QAbstractItemView::SelectRows);
    Lvclient->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu3 = named(new QMenu(this), "PopupMenu3");
    sendmessage3 = named(PopupMenu3->addAction(QStringLiteral("send message")), "sendmessage3");
    connect(PopupMenu3, &QMenu::aboutToShow, this, &TForm1::PopupMenu3Popup);
    connect(sendmessage3, &QAction::triggered, this, &TForm1::sendmessage3Click);
    connect(Lvclient, &QWidget::customContextMenuRequested, this, &TForm1::LvclientContextPopup);

    connect(&console_, &frame::OperatorConsole::clientRowsChanged, this,
            [this](const std::vector<clientservice::ClientRow> &rows) { send_->setClients(sendRows(rows)); });
    connect(&console_, &frame::OperatorConsole::serverInboxReady, this, &TForm1::bacapesan);
    send_->setClients(sendRows(console_.clientRows()));
}

void TForm1::Sendmessage2Click() { send_->openWithList(); }

void TForm1::LvclientContextPopup(const QPoint &pos)
{
    QTreeWidgetItem *item = Lvclient->currentItem();
    if (!item || !item->isSelected())
        return;
    PopupMenu3->popup(Lvclient->viewport()->mapToGlobal(pos));
}

void TForm1::PopupMenu3Popup()
{
    QTreeWidgetItem *item = Lvclient->currentItem();
    if (!item || !item->isSelected())
        return;
    // The row's own bytes, not the shown text turned back.
    const std::vector<clientservice::ClientRow> rows = console_.clientRows();
    const int index = Lvclient->indexOfTopLevelItem(item);
    if (index < 0 || static_cast<std::size_t>(index) >= rows.size())
        return;
    menuAddress_ = rows[static_cast<std::size_t>(index)].address;
    menuName_ = rows[static_cast<std::size_t>(index)].name;
    QString caption = QStringLiteral("send message to ") + state::shownText(menuName_);
    // A menu would read "&" as a shortcut mark.
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    sendmessage3->setText(caption);
}

void TForm1::sendmessage3Click()
{
    if (menuAddress_.empty())
        return;
    send_->openFor(menuName_, menuAddress_);
}

void TForm1::bacapesan(const std::string &records)
{
    // Working in the window: no popup, but the sound all the same.
    const bool popupWanted = !send_->inputHasFocus();
    if (send_->bacapesan(wire::parseMessageRecords(records), console_.operatorAddress()) > 0)
        alert_->announce(popupWanted, send_->lastReceived());
}

}  // namespace velora::server::ui
