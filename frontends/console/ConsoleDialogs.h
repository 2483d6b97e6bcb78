#pragma once

#include "platform/Dialogs.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace console {

// Boxes as one line "[Caption] text" on standard output. With a person at
// the terminal the answer is read at a prompt; otherwise OK is taken and
// questions get the answer chosen on the command line (No unless --yes).
class ConsoleDialogs : public platform::Dialogs {
public:
    // Runs the loop until a line is typed; nothing when the input ended.
    using LineSource = std::function<std::optional<std::string>()>;

    // Quiet: only error boxes, and questions a person is asked.
    ConsoleDialogs(std::FILE* out, bool quiet) : out_(out), quiet_(quiet) {}
    void SetQuestionAnswer(int answer) { questionAnswer_ = answer; }
    void SetInteractive(LineSource source) { ask_ = std::move(source); }

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool OpenFile(const std::string& title, const std::string& filter, std::string& path) override;
    bool OpenDocument(const std::string& path) override;
    void Beep() override;

private:
    std::FILE* out_;
    bool quiet_;
    int questionAnswer_ = platform::IDNO;
    LineSource ask_;
};

// A Latin-1 text with its line breaks folded to blanks, as UTF-8.
std::string OneLine(const std::string& latin1);
// IDYES for y, yes, j, ja (any case), else IDNO.
int AnswerOf(const std::string& line);

} // namespace console
