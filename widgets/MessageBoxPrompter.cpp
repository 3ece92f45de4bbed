#include "widgets/MessageBoxPrompter.h"

#include <QMessageBox>

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

}  // namespace

QString MessageBoxPrompter::title(const std::string &caption) const
{
    return caption.empty() ? caption_ : QString::fromStdString(caption);
}

void MessageBoxPrompter::tell(Kind kind, const std::string &text, const std::string &caption)
{
    QMessageBox box(icon(kind), title(caption), QString::fromStdString(text), QMessageBox::Ok, parent_);
    box.exec();
}

Prompter::Button MessageBoxPrompter::ask(const std::string &text, const std::vector<Button> &buttons,
                                         const std::string &caption, std::optional<Button> defaultButton)
{
    QMessageBox box(QMessageBox::Question, title(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, parent_);
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
