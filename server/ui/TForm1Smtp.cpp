#include "server/ui/TForm1.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/Prompter.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"
#include "server/ui/TFeditsmtp.h"

// The "SMTP auto relay" page, its edit window, and the sharing check box.

namespace velora::server::ui {

using state::shownText;

QWidget *TForm1::buildSmtpPage()
{
    auto *page = named(new QWidget, "TabSMTP");
    const QString hint = QStringLiteral("Double click to edit SMTP server  properties");

    LVsmtp = named(new QTreeWidget(page), "LVsmtp");
    LVsmtp->setHeaderLabels({QStringLiteral("Dial-up entry"), QStringLiteral("SMTP Server"), QStringLiteral("port")});
    LVsmtp->setRootIsDecorated(false);
    LVsmtp->setSelectionBehavior(QAbstractItemView::SelectRows);
    LVsmtp->setSelectionMode(QAbstractItemView::SingleSelection);
    LVsmtp->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LVsmtp->setToolTip(hint);
    QHeaderView *header = LVsmtp->header();
    header->setMinimumSectionSize(72);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->resizeSection(2, 75);
    LVsmtp->setMinimumWidth(200 + 200 + 75);

    auto *note = named(new QLabel(QStringLiteral("* ") + hint, page), "smtpNote");

    Edit2 = named(new QLineEdit(page), "Edit2");
    Edit2->setMaximumWidth(70);
    SpeedButton9 = named(new QPushButton(QStringLiteral("save"), page), "SpeedButton9");
    SpeedButton9->setAutoDefault(false);
    Label46 = named(new QLabel(QStringLiteral("Disabled"), page), "Label46");
    QPalette red = Label46->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label46->setPalette(red);
    QFont bold = Label46->font();
    bold.setBold(true);
    Label46->setFont(bold);

    auto *port = new QHBoxLayout;
    port->addWidget(new QLabel(QStringLiteral("Incoming SMTP port :"), page));
    port->addWidget(Edit2);
    port->addWidget(named(new QLabel(QStringLiteral("default: 25"), page), "smtpPortDefaultHint"));
    port->addWidget(SpeedButton9);
    port->addStretch();
    port->addWidget(Label46);

    auto *about = named(new QGroupBox(QStringLiteral(" SMTP Auto Relay "), page), "smtpAboutBox");
    auto *aboutText = named(
        new QLabel(QStringLiteral("Set the mail programs of the office to send through this server's address.\n"
                                  "Each connection is passed on, unchanged, to the SMTP server of the entry "
                                  "that is dialled.\n"
                                  "A changed server or port takes effect at the next dial of that entry."),
                   about),
        "smtpAboutText");
    aboutText->setWordWrap(true);
    (new QVBoxLayout(about))->addWidget(aboutText);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(LVsmtp, 1);
    layout->addWidget(note);
    layout->addLayout(port);
    layout->addWidget(about);

    connect(LVsmtp, &QTreeWidget::itemDoubleClicked, this, [this] { LVsmtpDblClick(); });
    // Any edit of the port marks it, for the notice of the next save.
    connect(Edit2, &QLineEdit::textEdited, this, [this] { Edit2Tag_ = 1; });
    connect(SpeedButton9, &QPushButton::clicked, this, &TForm1::SpeedButton9Click);
    return page;
}

void TForm1::connectSmtp()
{
    connect(&console_, &frame::OperatorConsole::entriesChanged, this, [this] { updatesmtp(); });
    connect(&console_, &frame::OperatorConsole::configLoaded, this, &TForm1::showRelayDisabled);
    connect(CheckBox9, &QCheckBox::clicked, this, &TForm1::CheckBox9Click);
}

void TForm1::updatesmtp()
{
    LVsmtp->clear();
    log::LogDatabase *book = console_.logBook();
    if (!book)
        return;
    for (const std::string &name : console_.entryNames()) {
        // An exact match: a name with "%" or "_" finds only its own row.
        const auto row = book->smtp(name);
        const std::string server = row ? row->server : std::string();
        const std::string port = row ? row->port : std::string();
        auto *item = new QTreeWidgetItem(LVsmtp, {shownText(name), shownText(server), shownText(port)});
        item->setData(0, Qt::UserRole, QByteArray::fromStdString(name));
        item->setData(1, Qt::UserRole, QByteArray::fromStdString(server));
        item->setData(2, Qt::UserRole, QByteArray::fromStdString(port));
    }
}

TFeditsmtp &TForm1::editSmtpWindow()
{
    if (!Feditsmtp)
        Feditsmtp = new TFeditsmtp(console_.logBook(), prompter_, this);
    Feditsmtp->setBook(console_.logBook());
    return *Feditsmtp;
}

void TForm1::LVsmtpDblClick()
{
    const auto items = LVsmtp->selectedItems();
    if (items.isEmpty())
        return;
    QTreeWidgetItem *row = items.first();
    auto bytes = [row](int column) { return row->data(column, Qt::UserRole).toByteArray().toStdString(); };
    TFeditsmtp &edit = editSmtpWindow();
    edit.setRow(bytes(0), bytes(1), bytes(2));
    edit.exec();
    // However the window was closed, the list shows the table again.
    updatesmtp();
}

void TForm1::SpeedButton9Click()
{
    savecfg();
    if (Edit2Tag_ == 1 && console_.statusView().status == "Connected") {
        prompter_.tell(Prompter::Kind::Information, "The new setting will be activated next time you dial ");
        Edit2Tag_ = 0;
    }
}

void TForm1::showRelayDisabled() { Label46->setVisible(!console_.settings().smtpAutoRelay); }

void TForm1::CheckBox9Click()
{
    // Only a tick that sharing cannot honour is taken back.
    if (!CheckBox9->isChecked() || console_.sharingUsable())
        return;
    CheckBox9->setChecked(false);
    if (!console_.entryNames().empty())
        prompter_.tell(Prompter::Kind::Information,
                       "Velora detect that ICS has not been enabled\n"
                       "Velora needs ICS to be enabled on one entry,\n"
                       "Please see help on how to share your internet connection ");
}

}  // namespace velora::server::ui
