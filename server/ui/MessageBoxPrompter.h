#pragma once
// The Prompter as real message boxes, for the server's window.

#include "common/Prompter.h"

class QWidget;

namespace velora::server {

class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget *parent = nullptr) : parent_(parent) {}
    void setParent(QWidget *parent) { parent_ = parent; }
    void tell(Kind kind, const std::string &text, const std::string &caption = {}) override;
    Button ask(const std::string &text, const std::vector<Button> &buttons,
               const std::string &caption = {}) override;

private:
    QWidget *parent_;
};

}  // namespace velora::server
