#pragma once

#include "i18n/LanguageFile.h"
#include "platform/Component.h"
#include "platform/Controls.h"

#include <string>
#include <vector>

namespace i18n {

// Replaces the captions and hints of a form's controls and menu items with the
// texts of a language file. A file that cannot be read is written anew with
// an empty entry for every text met, for a translator to fill in; entries
// missing from an existing file are appended the same way.
class TLanguage : public platform::TComponent {
public:
    explicit TLanguage(platform::TComponent* owner, std::string name = {});
    const char* ClassName() const override { return "TLanguage"; }

    // Relative paths are taken from the current directory.
    const std::string& Dialogfile() const { return dialogfile_; }
    void SetDialogfile(const std::string& path) {
        dialogfile_ = path;
        filePath_.clear();
    }
    // Another name for the same value as Dialogfile.
    const std::string& OwnDialogFile() const { return dialogfile_; }
    void SetOwnDialogFile(const std::string& path) { SetDialogfile(path); }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    // Components whose Tag equals this value are left alone.
    int TagNoTranslate() const { return tagNoTranslate_; }
    void SetTagNoTranslate(int tag) { tagNoTranslate_ = tag; }

    // Kept with the form; the translation does not use it.
    platform::TFont& Font() { return font_; }
    const platform::TFont& Font() const { return font_; }

    // Loads Dialogfile, translates the form's caption and its components, and
    // saves the file when entries were learned or appended. False only when
    // that save failed.
    bool TranslateDialog(platform::TControl& form);

    std::string TranslateText(const std::string& name, const std::string& text);
    std::string TranslateHintText(const std::string& name, const std::string& hint);
    // Every sub-item of item, recursively.
    void TranslateMenuItems(platform::TMenuItem& item);

    // False when the file could not be read: the list is then empty and the
    // component learns.
    bool LoadTranslateText();
    // Writes the list to Dialogfile when learning or modified; false when that
    // write failed.
    bool SaveTranslateText();

    bool LearnMode() const { return learnMode_; }
    bool Modified() const { return modified_; }
    // Lines of the language file in the file's own encoding.
    const std::vector<std::string>& TranslateList() const { return file_.Lines; }

private:
    std::string dialogfile_ = "sprache.lng";
    std::string filePath_; // the file as the last load found it
    bool enabled_ = true;
    int tagNoTranslate_ = -1;
    platform::TFont font_;
    LanguageText file_;
    bool learnMode_ = false;
    bool modified_ = false;

    void TranslateControl(platform::TControl& control);
    void TranslateTabs(platform::TTabControl& tabs);
    void TranslateMenuLevel(platform::TMenuItem& item, int depth);
    std::string ToFile(const std::string& text) const;
    std::string FromFile(const std::string& text) const;
};

} // namespace i18n
