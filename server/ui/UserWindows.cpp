#include "server/ui/UserWindows.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Prompter.h"
#include "common/TextCodec.h"
#include "server/state/Text.h"
#include "server/ui/Named.h"

namespace velora::server::ui {

namespace {

// As typed, without the silent stripping of separators: the editor refuses them.
std::string typed(const QLineEdit *e) { return utf8ToCp1252(e->text().toStdString()); }

}  // namespace

TFpassword::TFpassword(users::UserStore &store, Prompter &prompter, QWidget *parent)
    : QDialog(parent), editor_(store), prompter_(prompter)
{
    setObjectName(QStringLiteral("FPassword"));
    setFixedSize(486, 303);
    setWindowModality(Qt::WindowModal);

    auto *fields = new QGridLayout;
    const std::pair<QLineEdit **, const char *> edits[] = {{&Edit1, "User name            :"},
                                                           {&Edit2, "Description             :"},
                                                           {&Edit3, "Password               :"},
                                                           {&Edit4, "Re-type Password  :"}};
    const char *const names[] = {"Edit1", "Edit2", "Edit3", "Edit4"};
    for (int i = 0; i < 4; ++i) {
        *edits[i].first = named(new QLineEdit(this), names[i]);
        (*edits[i].first)->setMaxLength(256);
        fields->addWidget(new QLabel(QString::fromLatin1(edits[i].second), this), i, 0);
        fields->addWidget(*edits[i].first, i, 1);
    }
    Edit3->setEchoMode(QLineEdit::Password);
    Edit4->setEchoMode(QLineEdit::Password);

    auto *group = named(new QGroupBox(QStringLiteral(" user privilege "), this), "GroupBox1");
    auto *checks = new QVBoxLayout(group);
    const std::pair<QCheckBox **, const char *> boxes[] = {{&CheckBox1, "User is disabeled"},
                                                           {&CheckBox2, "User has privilege to unlock all"},
                                                           {&CheckBox3, "User has privilege to dial/Hang up"},
                                                           {&CheckBox4, "User has privilege to execute Shutdown"}};
    const char *const boxNames[] = {"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4"};
    for (int i = 0; i < 4; ++i) {
        *boxes[i].first = named(new QCheckBox(QString::fromLatin1(boxes[i].second), group), boxNames[i]);
        checks->addWidget(*boxes[i].first);
    }

    auto button = [this](const char *name, const char *text) {
        auto *b = named(new QPushButton(QString::fromLatin1(text), this), name);
        b->setAutoDefault(false);
        return b;
    };
    SpeedButton1 = button("SpeedButton1", "OK");
    SpeedButton2 = button("SpeedButton2", "Cancel");
    SpeedButton3 = button("SpeedButton3", "Delete");
    connect(SpeedButton1, &QPushButton::clicked, this, &TFpassword::SpeedButton1Click);
    connect(SpeedButton2, &QPushButton::clicked, this, &TFpassword::SpeedButton2Click);
    connect(SpeedButton3, &QPushButton::clicked, this, &TFpassword::SpeedButton3Click);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton3);
    buttons->addStretch();
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton2);

    auto *all = new QVBoxLayout(this);
    all->addLayout(fields);
    all->addWidget(group);
    all->addStretch();
    all->addLayout(buttons);
}

bool TFpassword::loadStore()
{
    // The file as it is now, so edits made since the server started stay.
    std::string why;
    if (editor_.load(&why))
        return true;
    prompter_.tell(Prompter::Kind::Error, "The user store cannot be read: " + why);
    return false;
}

bool TFpassword::startNew()
{
    if (!loadStore())
        return false;
    EditIndex = -1;
    for (QLineEdit *e : {Edit1, Edit2, Edit3, Edit4})
        e->clear();
    for (QCheckBox *c : {CheckBox1, CheckBox2, CheckBox3, CheckBox4})
        c->setChecked(false);
    setWindowTitle(QStringLiteral("Add new user"));
    SpeedButton3->hide();
    return true;
}

bool TFpassword::startEdit(const std::string &name)
{
    if (!loadStore())
        return false;
    EditIndex = editor_.find(name);
    if (EditIndex < 0) {
        prompter_.tell(Prompter::Kind::Information, "No user is being selected");
        return false;
    }
    const users::UserFields f = editor_.fieldsAt(EditIndex);
    SpeedButton3->show();
    setWindowTitle(QStringLiteral("edit user : ") + state::shownText(f.name));
    Edit1->setText(state::shownText(f.name));
    Edit2->setText(state::shownText(f.description));
    Edit3->setText(state::shownText(f.password));
    Edit4->setText(state::shownText(f.retyped));
    CheckBox1->setChecked(f.disabled);
    CheckBox2->setChecked(f.unlockAll);
    CheckBox3->setChecked(f.dialHangup);
    CheckBox4->setChecked(f.shutdown);
    return true;
}

void TFpassword::SpeedButton1Click()
{
    users::UserFields f;
    f.name = typed(Edit1);
    f.description = typed(Edit2);
    f.password = typed(Edit3);
    f.retyped = typed(Edit4);
    f.disabled = CheckBox1->isChecked();
    f.unlockAll = CheckBox2->isChecked();
    f.dialHangup = CheckBox3->isChecked();
    f.shutdown = CheckBox4->isChecked();
    if (const auto refused = editor_.save(EditIndex, f)) {
        prompter_.tell(Prompter::Kind::Information, *refused);
        return;  // the editor stays open
    }
    emit saved();
    accept();
}

void TFpassword::SpeedButton2Click() { reject(); }

void TFpassword::SpeedButton3Click()
{
    if (const auto refused = editor_.remove(EditIndex)) {
        prompter_.tell(Prompter::Kind::Information, *refused);
        return;
    }
    emit saved();
    accept();
}

}  // namespace velora::server::ui
