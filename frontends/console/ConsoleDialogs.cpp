#include "frontends/console/ConsoleDialogs.h"

#include "platform/Text.h"

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

int ConsoleDialogs::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    std::fprintf(out_, "[%s] %s\n", OneLine(caption).c_str(), OneLine(text).c_str());
    std::fflush(out_);
    if ((flags & 0x0F) == platform::MB_YESNO) {
        return questionAnswer_;
    }
    return platform::IDOK;
}

bool ConsoleDialogs::OpenFile(const std::string&, const std::string&, std::string&) {
    return false;
}

bool ConsoleDialogs::OpenDocument(const std::string&) { return false; }

} // namespace console
