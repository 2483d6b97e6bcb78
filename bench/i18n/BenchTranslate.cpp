// Time of one TranslateDialog for a form of the main window's size, read from
// language files of growing length (lookup is a substring scan per text).

#include "i18n/Sprachdlg.h"
#include "platform/Controls.h"
#include "platform/Files.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsPerRun(std::size_t components, std::size_t fileLines, int runs) {
    platform::TForm form(nullptr, "UpdateForm");
    form.SetCaption("Download :");
    std::string file;
    for (std::size_t i = 0; i < components; ++i) {
        auto* label = platform::Create<platform::TLabel>(&form, "Label" + std::to_string(i));
        label->SetCaption("Text " + std::to_string(i));
    }
    // Filler first, so every lookup scans the whole file.
    for (std::size_t i = components; i < fileLines; ++i) {
        file +=
            "[Other" + std::to_string(i) + "]Text:=Translated text " + std::to_string(i) + "\r\n";
    }
    file += "[UpdateForm]Download ::=Download:\r\n";
    for (std::size_t i = 0; i < components; ++i) {
        file += "[Label" + std::to_string(i) + "]Text " + std::to_string(i) + ":=T\r\n";
        file += "[Hint][Label" + std::to_string(i) + "]:=\r\n";
    }
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("bench_i18n." + std::to_string(getpid()) + ".lng"))
                                 .string();
    platform::WriteWholeFile(path, file);
    auto* language = platform::Create<i18n::TLanguage>(&form, "Sprache");
    language->SetDialogfile(path);

    auto start = Clock::now();
    for (int i = 0; i < runs; ++i) {
        language->TranslateDialog(form);
    }
    auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start);
    std::filesystem::remove(path);
    return elapsed.count() / runs;
}

} // namespace

int main() {
    std::printf("components  file lines  us per TranslateDialog\n");
    for (std::size_t lines : {100u, 1000u, 10000u}) {
        for (std::size_t components : {40u, 200u}) {
            std::printf("%10zu  %10zu  %10.1f\n", components, lines,
                        MicrosecondsPerRun(components, lines, 20));
        }
    }
    return 0;
}
