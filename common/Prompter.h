#pragma once
// The one seam through which a program tells or asks its person something.
// Windows install a message-box implementation; tests install a scripted one
// that records every text and answers as the test chose. Texts are UTF-8.

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
    // when the box is closed without choosing).
    virtual Button ask(const std::string &text, const std::vector<Button> &buttons,
                       const std::string &caption = {}) = 0;
};

// Records what was said and answers from a script; the default answer is used
// when the script is exhausted.
class ScriptedPrompter : public Prompter {
public:
    struct Said {
        Kind kind;
        std::string text;
        std::vector<Button> buttons;  // empty for tell()
    };

    std::vector<Said> said;
    std::vector<Button> answers;
    Button defaultAnswer = Button::Cancel;

    void tell(Kind kind, const std::string &text, const std::string & = {}) override
    {
        said.push_back({kind, text, {}});
    }
    Button ask(const std::string &text, const std::vector<Button> &buttons,
               const std::string & = {}) override
    {
        said.push_back({Kind::Question, text, buttons});
        if (answers.empty())
            return defaultAnswer;
        const Button b = answers.front();
        answers.erase(answers.begin());
        return b;
    }
};

}  // namespace velora
