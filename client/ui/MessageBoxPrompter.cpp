#include "MessageBoxPrompter.h"

#include <QMessageBox>

namespace velora::client {

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
}  // namespace

void MessageBoxPrompter::tell(Kind kind, const std::string &text, const std::string &caption)
{
    const QString title = caption.empty() ? QStringLiteral("Velora client") : QString::fromStdString(caption);
    const QString body = QString::fromStdString(text);
    switch (kind) {
    case Kind::Error: QMessageBox::critical(parent_, title, body); break;
    case Kind::Warning: QMessageBox::warning(parent_, title, body); break;
    default: QMessageBox::information(parent_, title, body); break;
    }
}

Prompter::Button MessageBoxPrompter::ask(const std::string &text, const std::vector<Button> &buttons,
                                         const std::string &caption)
{
    QMessageBox box(QMessageBox::Question,
                    caption.empty() ? QStringLiteral("Velora client") : QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::NoButton, parent_);
    for (Button b : buttons)
        box.addButton(standard(b));
    box.exec();
    const auto pressed = box.standardButton(box.clickedButton());
    for (Button b : buttons)
        if (standard(b) == pressed)
            return b;
    return buttons.empty() ? Button::Cancel : buttons.back();
}

}  // namespace velora::client
