#include "widgets/MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace velora::widgets {

namespace {

QMessageBox::StandardButton standard(Prompter::Button b)
{
    switch (b) {
    case Prompter::Button::Ok: return QMessageBox::Ok;
    case Prompter::Button::Cancel: return QMessageBox::Cancel;
    case Prompter::Button::Yes: return QMessageBox::Yes;
    case Prompter::Button::No: return QMessageBox::No;
    case Prompter::Button::YesToAll: return QMessageBox::YesToAll;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon icon(Prompter::Kind kind)
{
    switch (kind) {
    case Prompter::Kind::Error: return QMessageBox::Critical;
    case Prompter::Kind::Warning: return QMessageBox::Warning;
    case Prompter::Kind::Question: return QMessageBox::Question;
    case Prompter::Kind::Information: break;
    }
    return QMessageBox::Information;
}

// The box belongs to the window the person is working in (an editor, say),
// and the focus goes back where it was: not to the main window.
class Returning {
public:
    explicit Returning(QWidget *fallback)
        : focus_(QApplication::focusWidget()),
          owner_(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                 : QApplication::activeWindow()    ? QApplication::activeWindow()
                                                   : fallback)
    {
    }
    ~Returning()
    {
        if (!focus_ || !focus_->isVisible())
            return;
        focus_->activateWindow();
        focus_->setFocus(Qt::OtherFocusReason);
    }
    Returning(const Returning &) = delete;
    Returning &operator=(const Returning &) = delete;
    QWidget *owner() const { return owner_; }

private:
    QPointer<QWidget> focus_;
    QWidget *owner_;
};

// What a box says can be copied: a fingerprint to compare, an error to
// pass on.
void selectable(QMessageBox &box)
{
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

}  // namespace

QString MessageBoxPrompter::title(const std::string &caption) const
{
    return caption.empty() ? caption_ : QString::fromStdString(caption);
}

void MessageBoxPrompter::tell(Kind kind, const std::string &text, const std::string &caption)
{
    Returning back(parent_);
    QMessageBox box(icon(kind), title(caption), QString::fromStdString(text), QMessageBox::Ok, back.owner());
    selectable(box);
    box.exec();
}

Prompter::Button MessageBoxPrompter::ask(const std::string &text, const std::vector<Button> &buttons,
                                         const std::string &caption, std::optional<Button> defaultButton)
{
    Returning back(parent_);
    QMessageBox box(QMessageBox::Question, title(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, back.owner());
    selectable(box);
    for (Button b : buttons)
        box.addButton(standard(b));
    if (!buttons.empty()) {
        box.setEscapeButton(box.button(standard(buttons.back())));
        box.setDefaultButton(standard(defaultButton.value_or(buttons.front())));
    }
    box.exec();
    const auto pressed = box.standardButton(box.clickedButton());
    for (Button b : buttons)
        if (standard(b) == pressed)
            return b;
    return buttons.empty() ? Button::Cancel : buttons.back();
}

}  // namespace velora::widgets
