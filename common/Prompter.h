#pragma once
// The one seam through which a program tells or asks its person something.
// Windows install a message-box implementation; tests install a scripted one
// (tests/support) that records every text and answers as the test chose.
// Texts are UTF-8.

#include <optional>
#include <string>
#include <vector>

namespace velora {

class Prompter {
public:
    enum class Button { Ok, Cancel, Yes, No, YesToAll };
    enum class Kind { Information, Warning, Error, Question };

    virtual ~Prompter() = default;

    // Shows the text and waits for the person to acknowledge it.
    virtual void tell(Kind kind, const std::string &text, const std::string &caption = {}) = 0;
    // Asks with the given buttons; returns the one pressed (the last button
    // when the box is closed without choosing). Enter presses defaultButton
    // when given, else the first button.
    virtual Button ask(const std::string &text, const std::vector<Button> &buttons,
                       const std::string &caption = {}, std::optional<Button> defaultButton = {}) = 0;
};

}  // namespace velora
