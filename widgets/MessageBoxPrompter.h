#pragma once
// The Prompter as real message boxes, for both programs' windows.

#include <QString>

#include "common/Prompter.h"

class QWidget;

namespace velora::widgets {

class MessageBoxPrompter : public Prompter {
public:
    // defaultCaption titles every box that is given no caption of its own.
    explicit MessageBoxPrompter(QString defaultCaption, QWidget *parent = nullptr)
        : caption_(std::move(defaultCaption)), parent_(parent)
    {
    }
    void setParent(QWidget *parent) { parent_ = parent; }
    void tell(Kind kind, const std::string &text, const std::string &caption = {}) override;
    Button ask(const std::string &text, const std::vector<Button> &buttons, const std::string &caption = {},
               std::optional<Button> defaultButton = {}) override;

private:
    QString title(const std::string &caption) const;

    QString caption_;
    QWidget *parent_;
};

}  // namespace velora::widgets
