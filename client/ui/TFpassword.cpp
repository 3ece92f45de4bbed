#include "client/ui/TFpassword.h"

#include <algorithm>

#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "client/core/SavedLogin.h"
#include "client/core/WireText.h"

namespace velora::client::ui {

using core::secretText;
using core::shownText;
using core::wireText;

TFpassword::TFpassword(core::ClientSettings &settings, core::ClientSession &session, Prompter &prompter,
                       QWidget *parent)
    : QDialog(parent), settings_(settings), session_(session), prompter_(prompter)
{
    setObjectName(QStringLiteral("TFpassword"));
    setModal(true);
    auto *grid = new QGridLayout(this);
    failureLabel = new QLabel(this);
    failureLabel->setObjectName(QStringLiteral("failureLabel"));
    failureLabel->setTextFormat(Qt::PlainText);
    failureLabel->setWordWrap(true);
    failureLabel->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    failureLabel->hide();
    grid->addWidget(failureLabel, 0, 0, 1, 2);
    auto *userLabel = new QLabel(QStringLiteral("Username : "), this);
    grid->addWidget(userLabel, 1, 0);
    Edit1 = new QLineEdit(this);
    userLabel->setBuddy(Edit1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    grid->addWidget(Edit1, 1, 1);
    auto *passwordLabel = new QLabel(QStringLiteral("Password :"), this);
    grid->addWidget(passwordLabel, 2, 0);
    Edit2 = new QLineEdit(this);
    passwordLabel->setBuddy(Edit2);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setEchoMode(QLineEdit::Password);
    grid->addWidget(Edit2, 2, 1);
    CheckBox1 = new QCheckBox(QStringLiteral("save this  login information "), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    grid->addWidget(CheckBox1, 3, 0, 1, 2);
    SpeedButton1 = new QPushButton(QStringLiteral("OK"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 4, 0, 1, 2);
    connect(SpeedButton1, &QPushButton::clicked, this, &TFpassword::SpeedButton1Click);
    // Nothing is saved and no new login starts.
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(320);
}

void TFpassword::openIn(Mode mode, const QString &caption)
{
    mode_ = mode;
    setWindowTitle(caption);
    // Room for the whole caption beside the title bar's buttons.
    setMinimumWidth(std::max(320, QFontMetrics(font()).horizontalAdvance(caption) + 160));
    failureLabel->setText(caption);
    failureLabel->setVisible(mode == Mode::Retry);
    getpassword();
    open();
}

void TFpassword::getpassword()
{
    core::SavedLogin saved(settings_.savedLoginFile());
    if (!saved.load() || saved.empty()) {
        CheckBox1->setChecked(false);
        return;
    }
    CheckBox1->setChecked(true);
    bool corrupt = false;
    const auto login = saved.remembered(&corrupt);
    const std::string user = wire::at(wire::split(saved.lines().front(), wire::ListSep, 1), 0);
    Edit1->setText(shownText(user));
    Edit2->setText(login ? shownText(login->password) : QString());
}

void TFpassword::clearFields()
{
    Edit1->clear();
    Edit2->clear();
}

void TFpassword::SpeedButton1Click()
{
    if (mode_ == Mode::Edit && !CheckBox1->isChecked()) {
        const auto answer = prompter_.ask(
            "The user/password information will be cleared.\nLogin window will be prompted again next "
            "time you logon.",
            {Prompter::Button::Ok, Prompter::Button::Cancel});
        if (answer == Prompter::Button::Ok)
            clearFields();
        else
            CheckBox1->setChecked(true);
    }

    const std::string user = wireText(Edit1->text());
    const std::string password = secretText(Edit2->text());
    if (mode_ != Mode::Edit && Edit1->text().trimmed().isEmpty()) {
        failureLabel->setText(QStringLiteral("Enter your user name."));
        failureLabel->show();
        Edit1->setFocus();
        return;
    }

    core::SavedLogin saved(settings_.savedLoginFile());
    const bool readable = saved.load();
    QString why;
    if (!readable) {
        // Writing now would drop the lines that could not be read.
        prompter_.tell(Prompter::Kind::Error,
                       "cannot read the login information: " + settings_.savedLoginFile().toStdString());
    } else if (CheckBox1->isChecked()) {
        saved.remember(user, password);
        if (!saved.save(&why))
            prompter_.tell(Prompter::Kind::Error, "cannot save the login information: " + why.toStdString());
    } else if (!saved.empty()) {
        saved.forget();
        if (!saved.save(&why))
            prompter_.tell(Prompter::Kind::Error, "cannot save the login information: " + why.toStdString());
    }

    session_.setTypedLogin(user, password);
    if (mode_ != Mode::Edit && session_.state() == core::ClientSession::State::Disconnected) {
        QString error;
        if (session_.activatecfg(&error))
            session_.executeconnect(1);
        else
            prompter_.tell(Prompter::Kind::Error, error.toStdString());
    }
    accept();
}

}  // namespace velora::client::ui
