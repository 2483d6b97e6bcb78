#include "i18n/Sprachdlg.h"

#include "platform/Controls.h"
#include "platform/Files.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace i18n {
namespace {

namespace fs = std::filesystem;
using platform::Create;

// A form shaped like the main window: controls of the translated classes, a
// few that are left alone, and a main menu.
struct TestForm {
    platform::TForm form{nullptr, "UpdateForm"};
    platform::TBitBtn* ok = Create<platform::TBitBtn>(&form, "OkBitBtn");
    platform::TLabel* name = Create<platform::TLabel>(&form, "NameLabel");
    platform::TStaticText* value = Create<platform::TStaticText>(&form, "NameStaticText");
    platform::TPanel* wait = Create<platform::TPanel>(&form, "WaitPanel");
    platform::TMemo* memo = Create<platform::TMemo>(&form, "UpdateMemo");
    platform::TRadioGroup* group = Create<platform::TRadioGroup>(&form, "ParityGroup");
    platform::TTabControl* tabs = Create<platform::TTabControl>(&form, "PageTabs");
    platform::TMainMenu* menu = Create<platform::TMainMenu>(&form, "MainMenu1");
    platform::TMenuItem* file = Create<platform::TMenuItem>(&form, "Bearbeiten");
    platform::TMenuItem* end = Create<platform::TMenuItem>(&form, "UpdateEnd");
    platform::TMenuItem* help = Create<platform::TMenuItem>(&form, "Help");
    TLanguage& language = *Create<TLanguage>(&form, "UpdateSprachDialog");

    TestForm() {
        form.SetCaption("Download :");
        ok->SetCaption("OK");
        ok->SetHint("Startet das Update");
        name->SetCaption("Name:");
        wait->SetCaption("Bitte warten ...");
        memo->SetCaption("not translated");
        group->SetCaption("Parität");
        group->Add("keine");
        tabs->Add("Eins");
        tabs->Add("Zwei");
        tabs->SetTabIndex(1);
        file->SetCaption("&Datei");
        end->SetCaption("&Beenden");
        help->SetCaption("&Hilfe");
        menu->AddItem(file);
        file->AddItem(end);
        menu->AddItem(help);
    }
};

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "i18n-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "Update.Deu").string();
        f_.language.SetDialogfile(path_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteLanguageFile(const std::string& bytes) {
        ASSERT_TRUE(platform::WriteWholeFile(path_, bytes));
    }
    std::string ReadLanguageFile() {
        std::string bytes;
        EXPECT_TRUE(platform::ReadWholeFile(path_, bytes));
        return bytes;
    }
    std::vector<std::string> FileLines() { return platform::SplitLines(ReadLanguageFile()); }

    fs::path dir_;
    std::string path_;
    TestForm f_;
};

TEST_F(LanguageTest, DefaultsAndFileNameAlias) {
    TLanguage language(nullptr);
    EXPECT_EQ(language.Dialogfile(), "sprache.lng");
    EXPECT_TRUE(language.Enabled());
    EXPECT_EQ(language.TagNoTranslate(), -1);
    language.SetOwnDialogFile("Update.Eng");
    EXPECT_EQ(language.Dialogfile(), "Update.Eng");
}

TEST_F(LanguageTest, TranslatesCaptionsFromEntries) {
    WriteLanguageFile("[UpdateForm]Download ::=Download:\r\n"
                      "[OkBitBtn]OK:=Start\r\n"
                      "[NameLabel]Name::=\r\n"
                      "[WaitPanel]Bitte warten ...:=Please wait ...\r\n"
                      "[ParityGroup]Parität:=Parity\r\n"
                      "[UpdateMemo]not translated:=changed\r\n");
    const std::string before = ReadLanguageFile();

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_EQ(f_.form.Caption(), "Download:");
    EXPECT_EQ(f_.ok->Caption(), "Start");
    EXPECT_EQ(f_.name->Caption(), "Name:"); // empty translation: untranslated text
    EXPECT_EQ(f_.wait->Caption(), "Please wait ...");
    EXPECT_EQ(f_.group->Caption(), "Parity");
    EXPECT_EQ(f_.group->Lines(), std::vector<std::string>{"keine"});
    EXPECT_EQ(f_.memo->Caption(), "not translated"); // not a translated class
    EXPECT_FALSE(f_.language.LearnMode());
    // Tabs and menu items had no entries, so the file gained them.
    EXPECT_TRUE(f_.language.Modified());
    EXPECT_NE(ReadLanguageFile(), before);
}

TEST_F(LanguageTest, LearningModeWritesEveryTextMet) {
    f_.value->SetHint("Gerätename");

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_TRUE(f_.language.LearnMode());
    const std::vector<std::string> expected = {
        "[UpdateForm]Download ::=",
        "[OkBitBtn]OK:=",
        "[Hint][OkBitBtn]Startet das Update:=",
        "[NameLabel]Name::=",
        "[Hint][NameLabel]:=",
        // An empty caption is not looked up; the hint entry is still written.
        "[Hint][NameStaticText]Gerätename:=",
        "[WaitPanel]Bitte warten ...:=",
        "[Hint][WaitPanel]:=",
        "[ParityGroup]Parität:=",
        "[Hint][ParityGroup]:=",
        "[PageTabs]Eins\\\\Zwei:=",
        "[Hint][PageTabs]:=",
        "[Bearbeiten]&Datei:=",
        "[Hint][Bearbeiten]:=",
        "[UpdateEnd]&Beenden:=",
        "[Hint][UpdateEnd]:=",
        "[Help]&Hilfe:=",
        "[Hint][Help]:=",
    };
    EXPECT_EQ(FileLines(), expected);
    EXPECT_EQ(ReadLanguageFile().substr(0, 26), "[UpdateForm]Download ::=\r\n");
    // Captions stay; every hint is emptied in learning mode.
    EXPECT_EQ(f_.ok->Caption(), "OK");
    EXPECT_EQ(f_.ok->Hint(), "");
    EXPECT_EQ(f_.value->Hint(), "");
    EXPECT_EQ(f_.tabs->Lines(), (std::vector<std::string>{"Eins", "Zwei"}));
}

TEST_F(LanguageTest, LearnedFileIsUsedOnTheNextRunWithoutGrowing) {
    ASSERT_TRUE(f_.language.TranslateDialog(f_.form));
    const std::string learned = ReadLanguageFile();

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_FALSE(f_.language.LearnMode());
    EXPECT_FALSE(f_.language.Modified());
    EXPECT_EQ(ReadLanguageFile(), learned);
    EXPECT_EQ(f_.ok->Caption(), "OK");
    EXPECT_EQ(f_.wait->Caption(), "Bitte warten ...");
}

TEST_F(LanguageTest, MissingEntriesAreAppendedAndCaptionsKept) {
    f_.ok->SetHint("");
    WriteLanguageFile("[OkBitBtn]OK:=Start\r\n[Hint][OkBitBtn]:=Go\r\n");

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_EQ(f_.ok->Caption(), "Start");
    EXPECT_EQ(f_.ok->Hint(), "Go");
    EXPECT_EQ(f_.name->Caption(), "Name:");
    std::vector<std::string> lines = FileLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[OkBitBtn]OK:=Start");
    EXPECT_EQ(lines[1], "[Hint][OkBitBtn]:=Go");
    EXPECT_EQ(lines[2], "[UpdateForm]Download ::=");
    // Only captions are appended; a missing hint is just emptied.
    for (std::size_t i = 2; i < lines.size(); ++i) {
        EXPECT_FALSE(lines[i].starts_with("[Hint]")) << lines[i];
    }
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[UpdateEnd]&Beenden:="), lines.end());
}

TEST_F(LanguageTest, AFileNamedInAnotherCaseIsReadAndExtendedUnderItsName) {
    const std::string copied = (dir_ / "UPDATE.DEU").string();
    ASSERT_TRUE(platform::WriteWholeFile(copied, "[OkBitBtn]OK:=Start\r\n"));

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_EQ(f_.ok->Caption(), "Start");
    EXPECT_FALSE(f_.language.LearnMode());
    EXPECT_FALSE(fs::exists(path_)) << "no second file beside the copied one";
    std::string bytes;
    ASSERT_TRUE(platform::ReadWholeFile(copied, bytes));
    EXPECT_NE(bytes.find("[NameLabel]Name::="), std::string::npos) << "missing entries appended";
}

TEST_F(LanguageTest, CompleteFileIsNotRewritten) {
    ASSERT_TRUE(f_.language.TranslateDialog(f_.form)); // learn everything
    fs::last_write_time(path_, fs::last_write_time(path_) - std::chrono::hours(1));
    const auto stamp = fs::last_write_time(path_);

    ASSERT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_EQ(fs::last_write_time(path_), stamp);
}

TEST_F(LanguageTest, TwoLineCaptionsUseTwoBackslashes) {
    f_.wait->SetCaption("Bitte\r\nwarten");
    WriteLanguageFile("[WaitPanel]Bitte\\\\warten:=Please\\\\wait\r\n"
                      "[NameLabel]Erste\\\\Zweite:=\r\n");
    f_.name->SetCaption("x");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.wait->Caption(), "Please\r\nwait");
    // The untranslated text stands escaped in the file, and comes back with
    // its line break rather than with the backslashes.
    EXPECT_EQ(f_.name->Caption(), "Erste\r\nZweite");
}

TEST_F(LanguageTest, TwoLineCaptionIsLearnedOnOneLine) {
    f_.wait->SetCaption("Bitte\r\nwarten");
    f_.name->SetCaption("Unix\nbreak");

    f_.language.TranslateDialog(f_.form);

    std::vector<std::string> lines = FileLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[WaitPanel]Bitte\\\\warten:="), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[NameLabel]Unix\\\\break:="), lines.end());
}

TEST_F(LanguageTest, HintsComeFromHintEntries) {
    f_.name->SetHint("Name des Geräts");
    f_.wait->SetHint("wird ersetzt");
    WriteLanguageFile("[Hint][OkBitBtn]Startet das Update:=Starts the update\r\n"
                      "[Hint][NameLabel]Name des Geräts:=\r\n"
                      "[Hint][PageTabs]Seiten:=Two\\\\lines\r\n");
    f_.tabs->SetHint("Seiten");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.ok->Hint(), "Starts the update");
    EXPECT_EQ(f_.name->Hint(), "Name des Geräts");
    EXPECT_EQ(f_.tabs->Hint(), "Two\r\nlines");
    EXPECT_EQ(f_.wait->Hint(), ""); // no entry: emptied, nothing appended
    for (const std::string& line : FileLines()) {
        EXPECT_FALSE(line.starts_with("[Hint][WaitPanel]")) << line;
    }
}

TEST_F(LanguageTest, TagNoTranslateLeavesComponentAlone) {
    f_.language.SetTagNoTranslate(7);
    f_.ok->SetTag(7);
    f_.menu->SetTag(7);
    WriteLanguageFile("[OkBitBtn]OK:=Start\r\n[Hint][OkBitBtn]Startet das Update:=Go\r\n"
                      "[Help]&Hilfe:=&Help\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.ok->Caption(), "OK");
    EXPECT_EQ(f_.ok->Hint(), "Startet das Update");
    EXPECT_EQ(f_.help->Caption(), "&Hilfe");
    EXPECT_EQ(f_.wait->Caption(), "Bitte warten ...");
}

TEST_F(LanguageTest, TagNoTranslateComponentsAreNotLearned) {
    f_.language.SetTagNoTranslate(7);
    f_.wait->SetTag(7);

    f_.language.TranslateDialog(f_.form);

    for (const std::string& line : FileLines()) {
        EXPECT_EQ(line.find("[WaitPanel]"), std::string::npos) << line;
    }
}

TEST_F(LanguageTest, MenusAreTranslatedRecursively) {
    WriteLanguageFile("[Bearbeiten]&Datei:=&File\r\n"
                      "[Hint][Bearbeiten]:=File menu\r\n"
                      "[UpdateEnd]&Beenden:=E&xit\r\n"
                      "[Help]&Hilfe:=&Help\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.file->Caption(), "&File");
    EXPECT_EQ(f_.file->Hint(), "File menu");
    EXPECT_EQ(f_.end->Caption(), "E&xit");
    EXPECT_EQ(f_.help->Caption(), "&Help");
}

TEST_F(LanguageTest, MenuThatHoldsItselfStops) {
    f_.end->AddItem(f_.file); // a cycle: Bearbeiten > UpdateEnd > Bearbeiten ...
    WriteLanguageFile("[Bearbeiten]&Datei:=&File\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.file->Caption(), "&File");
}

TEST_F(LanguageTest, TabListIsTranslatedAsOneText) {
    WriteLanguageFile("[PageTabs]Eins\\\\Zwei:=One\\\\Two\\\\Three\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.tabs->Lines(), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(f_.tabs->TabIndex(), 1);
}

TEST_F(LanguageTest, ShorterTabListKeepsTabIndexInRange) {
    WriteLanguageFile("[PageTabs]Eins\\\\Zwei:=Only\\\\\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.tabs->Lines(), std::vector<std::string>{"Only"});
    EXPECT_EQ(f_.tabs->TabIndex(), 0);
}

TEST_F(LanguageTest, UntranslatedTabListKeepsAnEmptyLastTab) {
    f_.tabs->Add("");
    WriteLanguageFile("[OkBitBtn]OK:=Start\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.tabs->Lines(), (std::vector<std::string>{"Eins", "Zwei", ""}));
    std::vector<std::string> lines = FileLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[PageTabs]Eins\\\\Zwei\\\\:="), 1);
}

TEST_F(LanguageTest, OnlyExactClassesAreTranslated) {
    struct TFancyLabel : platform::TLabel {
        using Base = platform::TLabel;
        using Base::Base;
    };
    auto* fancy = Create<TFancyLabel>(&f_.form, "FancyLabel");
    fancy->SetCaption("Fancy");
    WriteLanguageFile("[FancyLabel]Fancy:=Changed\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(fancy->Caption(), "Fancy");
}

TEST_F(LanguageTest, DisabledComponentDoesNothing) {
    f_.language.SetEnabled(false);

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_FALSE(fs::exists(path_));
    EXPECT_EQ(f_.ok->Hint(), "Startet das Update");
}

TEST_F(LanguageTest, NewLanguageFileHoldsNoLinesOfThePreviousOne) {
    WriteLanguageFile("[OkBitBtn]OK:=Start\r\n");
    ASSERT_TRUE(f_.language.TranslateDialog(f_.form));
    const std::string english = (dir_ / "Update.Eng").string();
    f_.language.SetDialogfile(english);
    f_.ok->SetCaption("OK");

    ASSERT_TRUE(f_.language.TranslateDialog(f_.form));

    std::vector<std::string> lines;
    ASSERT_TRUE(platform::LoadLines(english, lines));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[OkBitBtn]OK:=Start"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[OkBitBtn]OK:="), 1);

    // Back to the file that exists: translated again, not learned into.
    f_.language.SetDialogfile(path_);
    const std::string german = ReadLanguageFile();
    ASSERT_TRUE(f_.language.TranslateDialog(f_.form));
    EXPECT_FALSE(f_.language.LearnMode());
    EXPECT_EQ(f_.ok->Caption(), "Start");
    EXPECT_EQ(ReadLanguageFile(), german);
}

TEST_F(LanguageTest, FailedSaveIsReported) {
    f_.language.SetDialogfile((dir_ / "missing" / "Update.Deu").string());

    EXPECT_FALSE(f_.language.TranslateDialog(f_.form));

    EXPECT_EQ(f_.ok->Caption(), "OK");
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(LanguageTest, Utf8FileIsReadAndExtendedInUtf8) {
    WriteLanguageFile("\xEF\xBB\xBF[OkBitBtn]OK:=St\xC3\xB6rt\r\n");
    f_.name->SetCaption("Gr\xF6\xDF"
                        "e");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(f_.ok->Caption(), "St\xF6rt");
    const std::string bytes = ReadLanguageFile();
    EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF[OkBitBtn]OK:=St\xC3\xB6rt\r\n"));
    EXPECT_NE(bytes.find("[NameLabel]Gr\xC3\xB6\xC3\x9F"
                         "e:="),
              std::string::npos);
}

TEST_F(LanguageTest, BinaryGarbageFileGivesDefinedResult) {
    std::mt19937 random(1234);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random() & 0xFF);
    }
    WriteLanguageFile(garbage);

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    // No key in the garbage: captions stay and their entries follow it.
    EXPECT_EQ(f_.ok->Caption(), "OK");
    EXPECT_EQ(f_.wait->Caption(), "Bitte warten ...");
    std::vector<std::string> lines = FileLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[OkBitBtn]OK:="), 1);
    EXPECT_EQ(lines.back(), "[Help]&Hilfe:=");
}

TEST_F(LanguageTest, MegabyteLineIsHandled) {
    const std::string big(1 << 20, 'x');
    WriteLanguageFile("[OkBitBtn]OK:=" + big);
    f_.wait->SetCaption(big);

    EXPECT_TRUE(f_.language.TranslateDialog(f_.form));

    EXPECT_EQ(f_.ok->Caption(), big);
    EXPECT_EQ(f_.wait->Caption(), big);
    std::vector<std::string> lines = FileLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[WaitPanel]" + big + ":="), 1);
}

TEST_F(LanguageTest, KeysThatAreSubstringsOfOtherKeys) {
    auto* label10 = Create<platform::TLabel>(&f_.form, "NameLabel10");
    label10->SetCaption("Zehn");
    f_.value->SetCaption("Multi 3630");
    WriteLanguageFile("[NameLabel10]Zehn:=Ten\r\n"
                      "[Hint][NameStaticText]:=\r\n"
                      "[NameLabel]Name::=Name of [NameLabel10]\r\n");

    f_.language.TranslateDialog(f_.form);

    EXPECT_EQ(label10->Caption(), "Ten");
    EXPECT_EQ(f_.name->Caption(), "Name of [NameLabel10]");
    // A hint entry is no caption entry: the caption stays and is appended.
    EXPECT_EQ(f_.value->Caption(), "Multi 3630");
    std::vector<std::string> lines = FileLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[NameStaticText]Multi 3630:="), 1);
}

} // namespace
} // namespace i18n
