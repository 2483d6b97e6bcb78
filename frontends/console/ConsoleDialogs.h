#pragma once

#include "platform/Dialogs.h"

#include <cstdio>
#include <string>

namespace console {

// Boxes as one line "[Caption] text" on standard output. Questions take the
// answer chosen on the command line (No unless --yes).
class ConsoleDialogs : public platform::Dialogs {
public:
    explicit ConsoleDialogs(std::FILE* out) : out_(out) {}
    void SetQuestionAnswer(int answer) { questionAnswer_ = answer; }

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool OpenFile(const std::string& title, const std::string& filter, std::string& path) override;
    bool OpenDocument(const std::string& path) override;

private:
    std::FILE* out_;
    int questionAnswer_ = platform::IDNO;
};

// A Latin-1 text with its line breaks folded to blanks, as UTF-8.
std::string OneLine(const std::string& latin1);

} // namespace console
