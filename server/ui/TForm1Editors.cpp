#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/Prompter.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/Text.h"
#include "server/ui/EntryWindows.h"
#include "server/ui/Named.h"
#include "server/ui/TForm1.h"
#include "server/ui/UserWindows.h"

// The operator's editors: the "User/password" page with its editor, and the
// entry list's context menu with the entry windows.

namespace velora::server::ui {

QWidget *TForm1::buildUserPage()
{
    auto *page = named(new QWidget, "TabUser");
    auto *add = named(new QPushButton(QStringLiteral("Add new user"), page), "SpeedButton1");
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &TForm1::SpeedButton1Click);
    Lvuser = named(new QTreeWidget(page), "Lvuser");
    Lvuser->setHeaderLabels({QStringLiteral("User name"), QStringLiteral("Description")});
    Lvuser->setRootIsDecorated(false);
    Lvuser->setSelectionBehavior(QAbstractItemView::SelectRows);
    Lvuser->setToolTip(QStringLiteral("Double click to edit user properties"));
    Lvuser->setColumnWidth(0, 200);
    connect(Lvuser, &QTreeWidget::itemDoubleClicked, this, [this] { LvuserDblClick(); });
    auto *all = new QVBoxLayout(page);
    auto *top = new QHBoxLayout;
    top->addWidget(add);
    top->addStretch();
    all->addLayout(top);
    all->addWidget(Lvuser, 1);
    all->addWidget(new QLabel(QStringLiteral("* Double click to edit user properties"), page));

    userWindow_ = new TFpassword(console_.userStore(), prompter_, this);
    connect(userWindow_, &TFpassword::saved, this, &TForm1::updateuserlist);
    connect(&console_, &frame::OperatorConsole::usersChanged, this, &TForm1::updateuserlist);
    updateuserlist();
    return page;
}

void TForm1::updateuserlist()
{
    Lvuser->clear();
    for (const users::UserRecord &r : console_.userStore().records()) {
        auto *item = new QTreeWidgetItem(Lvuser);
        item->setText(0, state::shownText(r.name));
        item->setText(1, state::shownText(r.description));
    }
}

void TForm1::SpeedButton1Click()
{
    if (userWindow_->startNew())
        userWindow_->open();
}

void TForm1::LvuserDblClick()
{
    const QTreeWidgetItem *item = Lvuser->currentItem();
    if (!item || !item->isSelected()) {
        prompter_.tell(Prompter::Kind::Information, "No user is being selected");
        return;
    }
    if (userWindow_->startEdit(state::typedText(item->text(0))))
        userWindow_->open();
}

void TForm1::buildEntryWindows()
{
    lventry->setToolTip(QStringLiteral("Right click to edit entry properties\nIf you are running Velora in service "
                                       "mode please rewrite each dial up entry User name and password"));
    lventry->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu2 = named(new QMenu(this), "PopupMenu2");
    renameentry1 = named(PopupMenu2->addAction(QStringLiteral("rename entry")), "renameentry1");
    showentryproperties1 = named(
        PopupMenu2->addAction(QStringLiteral("Show dial up entry properties /Edit dial up entry password")),
        "showentryproperties1");
    connect(renameentry1, &QAction::triggered, this, &TForm1::renameentry1Click);
    connect(showentryproperties1, &QAction::triggered, this, &TForm1::showentryproperties1Click);
    connect(lventry, &QWidget::customContextMenuRequested, this, &TForm1::lventryContextPopup);

    sfd1 = named(new QAction(QStringLiteral("Create new entry"), PopupMenu4), "sfd1");
    PopupMenu4->insertAction(PopupMenu4->actions().value(0), sfd1);
    connect(sfd1, &QAction::triggered, this, &TForm1::sfd1Click);

    entryWindow_ = new TFentry(console_, prompter_, this);
    renameWindow_ = new TFrename(console_, prompter_, this);
    newEntryWindow_ = new TFentryEdit(console_, prompter_, this);
}

void TForm1::lventryContextPopup(const QPoint &pos)
{
    // Only over a chosen entry.
    QListWidgetItem *item = lventry->itemAt(pos);
    if (!item)
        return;
    lventry->setCurrentItem(item);
    PopupMenu2Popup();
    PopupMenu2->popup(lventry->viewport()->mapToGlobal(pos));
}

void TForm1::PopupMenu2Popup()
{
    const QListWidgetItem *item = lventry->currentItem();
    selectedEntry_ = item ? state::typedText(item->text()) : std::string();
}

void TForm1::renameentry1Click()
{
    if (selectedEntry_.empty())
        return;
    if (console_.statusView().entry == selectedEntry_) {
        prompter_.tell(Prompter::Kind::Information, "You can not rename entry while it is online");
        return;
    }
    renameWindow_->start(selectedEntry_);
    renameWindow_->open();
}

void TForm1::showentryproperties1Click()
{
    if (!selectedEntry_.empty() && entryWindow_->start(selectedEntry_))
        entryWindow_->open();
}

void TForm1::sfd1Click()
{
    newEntryWindow_->start({});
    newEntryWindow_->open();
}

}  // namespace velora::server::ui
