#include "client/ui/TFpassword.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "client/core/SavedLogin.h"
#include "common/TextCodec.h"

namespace velora::client::ui {

namespace {
QString shown(const std::string &cp1252) { return QString::fromStdString(cp1252ToUtf8(cp1252)); }
}  // namespace

TFpassword::TFpassword(core::ClientSettings &settings, core::ClientSession &session, Prompter &prompter,
                       QWidget *parent)
    : QDialog(parent), settings_(settings), session_(session), prompter_(prompter)
{
    setObjectName(QStringLiteral("TFpassword"));
    setModal(true);
    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Username : "), this), 0, 0);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    grid->addWidget(Edit1, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Password :"), this), 1, 0);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setEchoMode(QLineEdit::Password);
    grid->addWidget(Edit2, 1, 1);
    CheckBox1 = new QCheckBox(QStringLiteral("save this  login information "), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    grid->addWidget(CheckBox1, 2, 0, 1, 2);
    SpeedButton1 = new QPushButton(QStringLiteral("OK"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setDefault(true);
    grid->addWidget(SpeedButton1, 3, 1, Qt::AlignRight);
    connect(SpeedButton1, &QPushButton::clicked, this, &TFpassword::SpeedButton1Click);
    setMinimumWidth(320);
}

void TFpassword::openIn(Mode mode, const QString &caption)
{
    mode_ = mode;
    setWindowTitle(caption);
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
    Edit1->setText(shown(user));
    Edit2->setText(login ? shown(login->password) : QString());
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

    const std::string user = typedToWire(Edit1->text().toStdString());
    // The password travels enciphered, so only CR and LF need to go.
    std::string password = utf8ToCp1252(Edit2->text().toStdString());
    std::erase_if(password, [](char c) { return c == '\r' || c == '\n'; });

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
    if (mode_ == Mode::Retry && session_.state() == core::ClientSession::State::Disconnected) {
        QString error;
        if (session_.activatecfg(&error))
            session_.executeconnect(1);
        else
            prompter_.tell(Prompter::Kind::Error, error.toStdString());
    }
    accept();
}

}  // namespace velora::client::ui
