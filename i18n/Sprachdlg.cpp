#include "i18n/Sprachdlg.h"

#include "i18n/LanguageEntry.h"
#include "platform/FileLookup.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <typeinfo>

namespace i18n {

using platform::TComponent;
using platform::TControl;
using platform::TMenuItem;

namespace {

// Deeper than any real menu; stops a menu that holds itself from recursing
// without end.
constexpr int kMaxMenuDepth = 32;

// Only these exact classes are translated: a descendant may show its caption
// in a way of its own.
bool HasTranslatedCaption(const std::type_info& type) {
    return type == typeid(platform::TCheckBox) || type == typeid(platform::TButton) ||
           type == typeid(platform::TBitBtn) || type == typeid(platform::TSpeedButton) ||
           type == typeid(platform::TRadioButton) || type == typeid(platform::TLabel) ||
           type == typeid(platform::TStaticText) || type == typeid(platform::TPanel) ||
           type == typeid(platform::TGroupBox) || type == typeid(platform::TRadioGroup) ||
           type == typeid(platform::TTabSheet);
}

std::string JoinTabs(const std::vector<std::string>& tabs) {
    std::string text;
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        if (i > 0) {
            text += "\r\n";
        }
        text += tabs[i];
    }
    return text;
}

} // namespace

TLanguage::TLanguage(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

bool TLanguage::TranslateDialog(TControl& form) {
    if (!enabled_) {
        return true;
    }
    LoadTranslateText();
    form.SetCaption(TranslateText(form.Name(), form.Caption()));
    // A copy, in case a change handler adds components to the form.
    const std::vector<TComponent*> components = form.Components();
    for (TComponent* component : components) {
        if (component->Tag() == tagNoTranslate_) {
            continue;
        }
        const std::type_info& type = typeid(*component);
        if (HasTranslatedCaption(type)) {
            TranslateControl(static_cast<TControl&>(*component));
        } else if (type == typeid(platform::TTabControl)) {
            TranslateTabs(static_cast<platform::TTabControl&>(*component));
        } else if (type == typeid(platform::TMainMenu)) {
            TranslateMenuItems(static_cast<platform::TMainMenu&>(*component));
        }
    }
    return SaveTranslateText();
}

std::string TLanguage::TranslateText(const std::string& name, const std::string& text) {
    if (text.empty()) {
        return {};
    }
    if (learnMode_) {
        file_.Lines.push_back(ToFile(CaptionEntry(name, text)));
        return text;
    }
    const std::string* line = FindCaptionLine(file_.Lines, ToFile(name));
    if (line == nullptr) {
        modified_ = true;
        file_.Lines.push_back(ToFile(CaptionEntry(name, text)));
        return text;
    }
    // An empty translation gives the untranslated text, which is escaped in
    // the file just as a translation is.
    return UnescapeLineBreaks(FromFile(CaptionLineText(*line)));
}

std::string TLanguage::TranslateHintText(const std::string& name, const std::string& hint) {
    if (learnMode_) {
        file_.Lines.push_back(ToFile(HintEntry(name, hint)));
        return {};
    }
    const std::string fileName = ToFile(name);
    const std::string* line = FindHintLine(file_.Lines, fileName);
    if (line == nullptr) {
        return {};
    }
    return UnescapeLineBreaks(FromFile(HintLineText(*line, fileName)));
}

void TLanguage::TranslateMenuItems(TMenuItem& item) {
    TranslateMenuLevel(item, 0);
}

bool TLanguage::LoadTranslateText() {
    // The flags describe the list, which a load replaces: a language file that
    // exists after a missing one is translated from, not learned into again.
    modified_ = false;
    LanguageText loaded;
    // A file copied from Windows may carry its name in another case; it is
    // read, and written back, under that name.
    const platform::FoundFile found = platform::LocateFile("", dialogfile_);
    filePath_ = found.Found() ? found.Path : dialogfile_;
    if (!LoadLanguageFile(filePath_, loaded)) {
        // Lines of the previous language would shadow the learned entries in
        // the new file, so it starts empty.
        file_ = LanguageText();
        learnMode_ = true;
        return false;
    }
    file_ = std::move(loaded);
    learnMode_ = false;
    return true;
}

bool TLanguage::SaveTranslateText() {
    if (!learnMode_ && !modified_) {
        return true;
    }
    return SaveLanguageFile(filePath_.empty() ? dialogfile_ : filePath_, file_);
}

void TLanguage::TranslateControl(TControl& control) {
    control.SetCaption(TranslateText(control.Name(), control.Caption()));
    control.SetHint(TranslateHintText(control.Name(), control.Hint()));
}

void TLanguage::TranslateTabs(platform::TTabControl& tabs) {
    const std::string text = JoinTabs(tabs.Lines());
    const std::string translatedText = TranslateText(tabs.Name(), text);
    // Untouched text keeps the list as it is, empty last tab included.
    if (translatedText != text) {
        std::vector<std::string> translated = platform::SplitLines(translatedText);
        int index = tabs.TabIndex();
        tabs.Clear();
        for (const std::string& tab : translated) {
            tabs.Add(tab);
        }
        if (index >= static_cast<int>(translated.size())) {
            tabs.SetTabIndex(static_cast<int>(translated.size()) - 1);
        }
    }
    tabs.SetHint(TranslateHintText(tabs.Name(), tabs.Hint()));
}

void TLanguage::TranslateMenuLevel(TMenuItem& item, int depth) {
    if (depth >= kMaxMenuDepth) {
        return;
    }
    const std::vector<TMenuItem*> children = item.Items();
    for (TMenuItem* child : children) {
        child->SetCaption(TranslateText(child->Name(), child->Caption()));
        child->SetHint(TranslateHintText(child->Name(), child->Hint()));
        TranslateMenuLevel(*child, depth + 1);
    }
}

std::string TLanguage::ToFile(const std::string& text) const {
    return file_.Utf8 ? platform::Latin1ToUtf8(text) : text;
}

std::string TLanguage::FromFile(const std::string& text) const {
    return file_.Utf8 ? platform::Utf8ToLatin1(text) : text;
}

} // namespace i18n
