#include "server/ui/TFeditsmtp.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <charconv>

#include "common/Prompter.h"
#include "common/TextCodec.h"
#include "server/log/LogDatabase.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"

namespace velora::server::ui {

namespace {

bool validPort(const std::string &text)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value >= 1 && value <= 65535;
}

}  // namespace

TFeditsmtp::TFeditsmtp(log::LogDatabase *book, Prompter &prompter, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      book_(book), prompter_(prompter)
{
    setObjectName(QStringLiteral("Feditsmtp"));
    setWindowTitle(QStringLiteral("Edit SMTP server"));
    setModal(true);

    Label4 = named(new QLabel(this), "Label4");
    Label4->setTextFormat(Qt::PlainText);
    QFont bold = Label4->font();
    bold.setBold(true);
    Label4->setFont(bold);
    Edit1 = named(new QLineEdit(this), "Edit1");
    Edit1->setMinimumWidth(220);
    Edit2 = named(new QLineEdit(this), "Edit2");
    Edit2->setMaximumWidth(80);
    SpeedButton2 = named(new QPushButton(QStringLiteral("Save"), this), "SpeedButton2");
    SpeedButton1 = named(new QPushButton(QStringLiteral("close"), this), "SpeedButton1");
    for (QPushButton *b : {SpeedButton2, SpeedButton1})
        b->setAutoDefault(false);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Dial-up entry :"), this), 0, 0);
    grid->addWidget(Label4, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("SMTP server :"), this), 1, 0);
    grid->addWidget(Edit1, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("SMTP Port :"), this), 2, 0);
    grid->addWidget(Edit2, 2, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SpeedButton2);
    buttons->addWidget(SpeedButton1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(SpeedButton2, &QPushButton::clicked, this, &TFeditsmtp::SpeedButton2Click);
    connect(SpeedButton1, &QPushButton::clicked, this, &TFeditsmtp::SpeedButton1Click);
}

void TFeditsmtp::setRow(const std::string &entry, const std::string &server, const std::string &port)
{
    entry_ = entry;
    server_ = server;
    port_ = port;
}

void TFeditsmtp::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TFeditsmtp::FormShow()
{
    setWindowTitle(QStringLiteral("Edit SMTP server"));
    Label4->setText(state::shownText(entry_));
    Edit1->setText(state::shownText(server_));
    Edit2->setText(state::shownText(port_));
}

void TFeditsmtp::SpeedButton2Click()
{
    const std::string server = trimBlanks(state::typedText(Edit1->text()));
    const std::string port = trimBlanks(state::typedText(Edit2->text()));
    // A port the relay could never use is refused here, not at the next dial.
    if (!validPort(port)) {
        prompter_.tell(Prompter::Kind::Error, "The SMTP port must be a number from 1 to 65535");
        return;
    }
    if (book_)
        book_->saveSmtp(entry_, {server, port});
    server_ = server;
    port_ = port;
    prompter_.tell(Prompter::Kind::Information, "The setting will be activated next time you dial this entry");
}

void TFeditsmtp::SpeedButton1Click() { accept(); }

}  // namespace velora::server::ui
