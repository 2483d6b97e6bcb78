#include "frontends/console/ConsoleDialogs.h"

#include "app/Messages.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace console {

std::string OneLine(const std::string& latin1) {
    std::string folded;
    for (std::size_t i = 0; i < latin1.size(); ++i) {
        char c = latin1[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < latin1.size() && latin1[i + 1] == '\n') {
                ++i;
            }
            folded += ' ';
        } else {
            folded += c;
        }
    }
    return platform::Latin1ToUtf8(folded);
}

int AnswerOf(const std::string& line) {
    std::string word;
    for (char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return word == "y" || word == "yes" || word == "j" || word == "ja" ? platform::IDYES
                                                                       : platform::IDNO;
}

void ConsoleDialogs::Beep() {
    if (quiet_) {
        return;
    }
    std::fputc('\a', out_);
    std::fflush(out_);
}

int ConsoleDialogs::MessageBox(const std::string& text, const std::string& caption,
                               unsigned flags) {
    const bool question = (flags & 0x0F) == platform::MB_YESNO;
    const bool error = (flags & 0xF0) == platform::MB_ICONERROR ||
                       caption == app::MessageText(app::Msg::CaptionError, 0) ||
                       caption == app::MessageText(app::Msg::CaptionError, 1);
    if (quiet_ && !error && !(question && ask_)) {
        return question ? questionAnswer_ : platform::IDOK;
    }
    std::fprintf(out_, "[%s] %s\n", OneLine(caption).c_str(), OneLine(text).c_str());
    if (!ask_) {
        std::fflush(out_);
        return question ? questionAnswer_ : platform::IDOK;
    }
    std::fprintf(out_, question ? "  yes/no> " : "  (Enter)> ");
    std::fflush(out_);
    std::optional<std::string> line = ask_();
    if (!line) {
        return question ? questionAnswer_ : platform::IDOK;
    }
    return question ? AnswerOf(*line) : platform::IDOK;
}

bool ConsoleDialogs::OpenFile(const std::string& title, const std::string&, std::string& path) {
    if (!ask_) {
        return false;
    }
    std::fprintf(out_, "[%s] file name (empty: cancel)> ", OneLine(title).c_str());
    std::fflush(out_);
    std::optional<std::string> line = ask_();
    if (!line || line->empty()) {
        return false;
    }
    path = platform::Utf8ToLatin1(*line);
    return true;
}

bool ConsoleDialogs::OpenDocument(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    return platform::StartDetached({"xdg-open", path});
}

} // namespace console
