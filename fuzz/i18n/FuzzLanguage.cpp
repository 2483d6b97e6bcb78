// Feeds arbitrary bytes to the language reader: once as a file that a small
// form is translated from, and once to the entry lookups directly, with a
// component name taken from the input (the bytes before the first NUL).

#include "fuzz/ScratchFolder.h"
#include "i18n/LanguageEntry.h"
#include "i18n/LanguageFile.h"
#include "i18n/Sprachdlg.h"
#include "platform/Controls.h"
#include "platform/Files.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using platform::Create;

struct FuzzForm {
    platform::TForm form{nullptr, "UpdateForm"};
    platform::TBitBtn* ok = Create<platform::TBitBtn>(&form, "OkBitBtn");
    platform::TLabel* label = Create<platform::TLabel>(&form, "Label1");
    platform::TLabel* label10 = Create<platform::TLabel>(&form, "Label10");
    platform::TTabControl* tabs = Create<platform::TTabControl>(&form, "Tabs");
    platform::TMainMenu* menu = Create<platform::TMainMenu>(&form, "MainMenu1");
    platform::TMenuItem* item = Create<platform::TMenuItem>(&form, "Hint");
    i18n::TLanguage* language = Create<i18n::TLanguage>(&form, "Sprache");

    FuzzForm() {
        menu->AddItem(item);
        language->SetDialogfile(fuzzing::ScratchFolder() + "/fuzz_language." +
                                std::to_string(getpid()) + ".lng");
    }

    ~FuzzForm() { std::remove(language->Dialogfile().c_str()); }

    void Reset() {
        form.SetCaption("Download :");
        ok->SetCaption("OK");
        ok->SetHint("Start\r\nnow");
        label->SetCaption("Zwei\r\nZeilen");
        label10->SetCaption("=:=\\\\]");
        tabs->Clear();
        tabs->Add("Eins");
        tabs->Add("Zwei");
        tabs->SetTabIndex(1);
        item->SetCaption("&Hilfe");
    }
};

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void LookUp(const std::vector<std::string>& lines, std::string_view name) {
    if (const std::string* line = i18n::FindCaptionLine(lines, name)) {
        i18n::UnescapeLineBreaks(i18n::CaptionLineText(*line));
    }
    if (const std::string* line = i18n::FindHintLine(lines, name)) {
        i18n::UnescapeLineBreaks(i18n::HintLineText(*line, name));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzForm f;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    std::size_t nul = bytes.find('\0');
    if (nul != std::string::npos && nul <= 64) {
        i18n::LanguageText text = i18n::ParseLanguageFile(std::string_view(bytes).substr(nul + 1));
        LookUp(text.Lines, std::string_view(bytes).substr(0, nul));
    }

    if (!platform::WriteWholeFile(f.language->Dialogfile(), bytes)) {
        return 0;
    }
    f.Reset();
    f.language->TranslateDialog(f.form);

    // Whatever was read or learned must come back line for line from the
    // file just written.
    for (const std::string& line : f.language->TranslateList()) {
        Check(!HasLineBreak(line));
    }
    i18n::LanguageText saved;
    Check(i18n::LoadLanguageFile(f.language->Dialogfile(), saved));
    Check(saved.Lines == f.language->TranslateList());
    Check(f.tabs->TabIndex() < static_cast<int>(f.tabs->Lines().size()));
    return 0;
}
