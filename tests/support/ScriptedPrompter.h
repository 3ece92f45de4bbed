#pragma once
// A Prompter for tests: no dialog ever opens.

#include "common/Prompter.h"

namespace velora::test {

// Records what was said and answers from a script; the default answer is used
// when the script is exhausted.
class ScriptedPrompter : public velora::Prompter {
public:
    struct Said {
        Kind kind;
        std::string text;
        std::vector<Button> buttons;  // empty for tell()
        std::optional<Button> defaultButton;
    };

    std::vector<Said> said;
    std::vector<Button> answers;
    Button defaultAnswer = Button::Cancel;

    void tell(Kind kind, const std::string &text, const std::string & = {}) override
    {
        said.push_back({kind, text, {}, {}});
    }
    Button ask(const std::string &text, const std::vector<Button> &buttons, const std::string & = {},
               std::optional<Button> defaultButton = {}) override
    {
        said.push_back({Kind::Question, text, buttons, defaultButton});
        if (answers.empty())
            return defaultAnswer;
        const Button b = answers.front();
        answers.erase(answers.begin());
        return b;
    }
};

}  // namespace velora::test
