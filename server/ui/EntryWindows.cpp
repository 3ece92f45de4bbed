#include "server/ui/EntryWindows.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Prompter.h"
#include "common/TextCodec.h"
#include "server/frame/OperatorConsole.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"

namespace velora::server::ui {

namespace {

QPushButton *button(QWidget *parent, const char *name, const char *text)
{
    auto *b = named(new QPushButton(QString::fromLatin1(text), parent), name);
    b->setAutoDefault(false);
    return b;
}

QLineEdit *edit(QWidget *parent, const char *name)
{
    auto *e = named(new QLineEdit(parent), name);
    e->setMaxLength(1024);  // the store says what is too long, with its own text
    return e;
}

std::string typed(const QLineEdit *e) { return utf8ToCp1252(e->text().toStdString()); }

}  // namespace

// ------------------------------------------------------------------ entry dialog

TFentryEdit::TFentryEdit(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent)
    : QDialog(parent), console_(console), prompter_(prompter)
{
    setObjectName(QStringLiteral("Fentryedit"));
    setWindowModality(Qt::WindowModal);
    Edit1 = edit(this, "Edit1");
    form_ = new QFormLayout;
    form_->addRow(QStringLiteral("Entry name :"), Edit1);
    SpeedButton1 = button(this, "SpeedButton1", "Save");
    SpeedButton2 = button(this, "SpeedButton2", "close");
    connect(SpeedButton1, &QPushButton::clicked, this, &TFentryEdit::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton2);
    auto *all = new QVBoxLayout(this);
    all->addLayout(form_);
    all->addStretch();
    all->addLayout(buttons);
    resize(420, 240);
}

void TFentryEdit::start(const std::string &entry)
{
    entry_ = entry;
    setWindowTitle(entry.empty() ? QStringLiteral("Create new entry")
                                 : QStringLiteral("Edit entry ") + state::shownText(entry));
    Edit1->setText(state::shownText(entry));
    Edit1->setReadOnly(!entry.empty());
    // The line decides which values there are.
    while (form_->rowCount() > 1)
        form_->removeRow(1);
    edits_.clear();
    fields_ = console_.entryFields(entry);
    for (const dialup::EntryField &f : fields_) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QStringLiteral("Edit_") + QString::fromStdString(f.key));
        e->setText(state::shownText(f.value));
        if (f.secret)
            e->setEchoMode(QLineEdit::Password);
        form_->addRow(QString::fromStdString(f.label) + (f.required ? QStringLiteral(" * :") : QStringLiteral(" :")), e);
        edits_.push_back(e);
    }
}

QLineEdit *TFentryEdit::field(const std::string &key) const
{
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].key == key)
            return edits_[i];
    return nullptr;
}

void TFentryEdit::SpeedButton1Click()
{
    std::vector<dialup::EntryField> values = fields_;
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i].value = values[i].kind == dialup::EntryField::Kind::Command || values[i].secret
                              ? typed(edits_[i])
                              : trimBlanks(typed(edits_[i]));
    const std::string name = entry_.empty() ? trimBlanks(typed(Edit1)) : entry_;
    if (const auto refused = console_.saveEntryFields(name, values, entry_.empty())) {
        prompter_.tell(Prompter::Kind::Error, *refused);
        return;
    }
    accept();
}

// ------------------------------------------------------------------ rename

TFrename::TFrename(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent)
    : QDialog(parent), console_(console), prompter_(prompter)
{
    setObjectName(QStringLiteral("Frename"));
    setWindowTitle(QStringLiteral("Rename entry"));
    setWindowModality(Qt::WindowModal);
    Edit1 = edit(this, "Edit1");
    SpeedButton1 = button(this, "SpeedButton1", "Rename");
    connect(SpeedButton1, &QPushButton::clicked, this, &TFrename::SpeedButton1Click);
    auto *all = new QHBoxLayout(this);
    all->addWidget(Edit1, 1);
    all->addWidget(SpeedButton1);
    resize(340, 60);
}

void TFrename::start(const std::string &entry)
{
    entry_ = entry;
    Edit1->setText(state::shownText(entry));  // FormShow
}

void TFrename::SpeedButton1Click()
{
    if (const auto refused = console_.renameEntry(entry_, trimBlanks(typed(Edit1)))) {
        prompter_.tell(Prompter::Kind::Error, *refused);
        return;
    }
    accept();
}

// ------------------------------------------------------------------ properties

TFentry::TFentry(frame::OperatorConsole &console, Prompter &prompter, QWidget *parent)
    : QDialog(parent), console_(console), prompter_(prompter), edit_(new TFentryEdit(console, prompter, this))
{
    setObjectName(QStringLiteral("Fentry"));
    setWindowModality(Qt::WindowModal);
    auto value = [this](const char *name) {
        auto *l = named(new QLabel(this), name);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    Label8 = value("Label8");
    Label9 = value("Label9");
    Label10 = value("Label10");
    Label11 = value("Label11");
    Label12 = value("Label12");
    auto *shown = new QFormLayout;
    shown->addRow(QStringLiteral("Entry name :"), Label8);
    shown->addRow(QStringLiteral("Phone number :"), Label9);
    shown->addRow(QStringLiteral("Password saved :"), Label10);
    shown->addRow(QStringLiteral("Device name :"), Label11);
    shown->addRow(QStringLiteral("Device type :"), Label12);

    auto *credentials = named(new QGroupBox(QStringLiteral("User/Password"), this), "GroupBox1");
    Edit1 = edit(credentials, "Edit1");
    Edit2 = edit(credentials, "Edit2");
    Edit2->setEchoMode(QLineEdit::Password);
    SpeedButton1 = button(credentials, "SpeedButton1", "save password");
    auto *c = new QFormLayout(credentials);
    c->addRow(QStringLiteral("User name :"), Edit1);
    c->addRow(QStringLiteral("Password :"), Edit2);
    c->addRow(QString(), SpeedButton1);

    auto *billing = named(new QGroupBox(QStringLiteral("Billing"), this), "GroupBox2");
    Edit3 = edit(billing, "Edit3");
    SpeedButton4 = button(billing, "SpeedButton4", "save cost");
    auto *b = new QFormLayout(billing);
    b->addRow(QStringLiteral("Cost per hour   :"), Edit3);
    b->addRow(QString(), SpeedButton4);

    SpeedButton2 = button(this, "SpeedButton2", "edit entry");
    SpeedButton5 = button(this, "SpeedButton5", "delete entry");
    SpeedButton3 = button(this, "SpeedButton3", "close");
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton2);
    buttons->addWidget(SpeedButton5);
    buttons->addStretch();
    buttons->addWidget(SpeedButton3);

    auto *all = new QVBoxLayout(this);
    all->addLayout(shown);
    all->addWidget(credentials);
    all->addWidget(billing);
    all->addLayout(buttons);
    resize(420, 420);

    connect(SpeedButton1, &QPushButton::clicked, this, &TFentry::SpeedButton1Click);
    connect(SpeedButton4, &QPushButton::clicked, this, &TFentry::SpeedButton4Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TFentry::SpeedButton2Click);
    connect(SpeedButton5, &QPushButton::clicked, this, &TFentry::SpeedButton5Click);
    connect(SpeedButton3, &QPushButton::clicked, this, &TFentry::SpeedButton3Click);
    // Typing sets the marks; loading the values does not.
    for (QLineEdit *e : {Edit1, Edit2})
        connect(e, &QLineEdit::textChanged, this, [this] { credentialsChanged_ = credentialsChanged_ || !loading_; });
    connect(Edit3, &QLineEdit::textChanged, this, [this] { costChanged_ = costChanged_ || !loading_; });
}

bool TFentry::start(const std::string &entry)
{
    const auto d = console_.entryDetails(entry);
    if (!d.found) {
        prompter_.tell(Prompter::Kind::Error, "The entry " + cp1252ToUtf8(entry) + " is no longer in the phonebook.");
        return false;
    }
    entry_ = entry;
    deleted_ = false;
    loading_ = true;
    setWindowTitle(QStringLiteral("Properties of ") + state::shownText(entry));
    Label8->setText(state::shownText(entry));
    Label9->setText(state::shownText(d.props.phoneNumber));
    Label10->setText(d.params.passwordSaved ? QStringLiteral("Yes") : QStringLiteral("No"));
    Label11->setText(state::shownText(d.props.deviceName));
    Label12->setText(state::shownText(d.props.deviceType));
    Edit1->setText(state::shownText(d.params.userName));
    Edit2->setText(state::shownText(d.params.password));
    Edit3->setText(state::shownText(d.cost.empty() ? std::string("0") : d.cost));
    loading_ = false;
    credentialsChanged_ = costChanged_ = false;
    return true;
}

bool TFentry::saveCredentials()
{
    credentialsChanged_ = false;
    if (const auto refused = console_.saveEntryCredentials(entry_, typed(Edit1), typed(Edit2))) {
        prompter_.tell(Prompter::Kind::Error, *refused);
        return false;
    }
    return true;
}

bool TFentry::saveCost()
{
    costChanged_ = false;
    if (Edit3->text().trimmed().isEmpty()) {
        loading_ = true;
        Edit3->setText(QStringLiteral("0"));
        loading_ = false;
    }
    if (const auto refused = console_.saveEntryCost(entry_, trimBlanks(typed(Edit3)))) {
        prompter_.tell(Prompter::Kind::Error, *refused);
        return false;
    }
    return true;
}

void TFentry::SpeedButton1Click() { saveCredentials(); }
void TFentry::SpeedButton4Click() { saveCost(); }

void TFentry::SpeedButton2Click()
{
    edit_->start(entry_);
    edit_->open();
}

void TFentry::SpeedButton5Click()
{
    if (console_.statusView().entry == entry_) {
        prompter_.tell(Prompter::Kind::Information, "You can not delete entry while it is online");
        return;
    }
    if (prompter_.ask("Do You really want to delete this entry ?", {Prompter::Button::Ok, Prompter::Button::Cancel}) !=
        Prompter::Button::Ok)
        return;
    const bool withLog = prompter_.ask("Do You also want to delete assosiated log data for this entry ?",
                                       {Prompter::Button::Yes, Prompter::Button::No}) == Prompter::Button::Yes;
    if (const auto refused = console_.deleteEntry(entry_, withLog)) {
        prompter_.tell(Prompter::Kind::Error, *refused);
        return;
    }
    credentialsChanged_ = costChanged_ = false;
    deleted_ = true;
    accept();
}

void TFentry::SpeedButton3Click() { reject(); }

void TFentry::done(int result)
{
    if (!deleted_ && (credentialsChanged_ || costChanged_) &&
        prompter_.ask("Do You want to save change now ?", {Prompter::Button::Yes, Prompter::Button::No}) ==
            Prompter::Button::Yes) {
        if (credentialsChanged_ && !saveCredentials())
            return;  // stays open with the error said
        if (costChanged_ && !saveCost())
            return;
    }
    credentialsChanged_ = costChanged_ = false;
    console_.getentry();
    QDialog::done(result);
}

}  // namespace velora::server::ui
