#include "i18n/LanguageEntry.h"

#include "i18n/LanguageFile.h"

#include <gtest/gtest.h>

namespace i18n {
namespace {

TEST(LanguageEntry, LineBreaksRoundTripThroughTwoBackslashes) {
    EXPECT_EQ(EscapeLineBreaks("a\r\nb"), "a\\\\b");
    // A lone CR or LF would split the entry over two lines of the file.
    EXPECT_EQ(EscapeLineBreaks("a\nb\rc"), "a\\\\b\\\\c");
    EXPECT_EQ(UnescapeLineBreaks("a\\\\b"), "a\r\nb");
    // Pairs are taken left to right; an odd backslash stays.
    EXPECT_EQ(UnescapeLineBreaks("\\\\\\"), "\r\n\\");
    EXPECT_EQ(UnescapeLineBreaks("a\\b"), "a\\b");
}

TEST(LanguageEntry, EntriesHaveTheFileLayout) {
    EXPECT_EQ(CaptionEntry("OkBitBtn", "OK"), "[OkBitBtn]OK:=");
    EXPECT_EQ(HintEntry("OkBitBtn", "two\r\nlines"), "[Hint][OkBitBtn]two\\\\lines:=");
}

TEST(LanguageEntry, EmptyTranslationFallsBackToUntranslatedText) {
    EXPECT_EQ(CaptionLineText("[A]OK:=Start"), "Start");
    EXPECT_EQ(CaptionLineText("[A]OK:="), "OK");
    EXPECT_EQ(HintLineText("[Hint][Abc]tip:=", "Abc"), "tip");
    EXPECT_EQ(HintLineText("[Hint][Abc]tip:=Tipp", "Abc"), "Tipp");
    // No ":=" at all: the text after the first "=", else nothing.
    EXPECT_EQ(CaptionLineText("[A]OK=Start"), "Start");
    EXPECT_EQ(CaptionLineText("[A]OK"), "");
    EXPECT_EQ(HintLineText("[Hint][A]", "A"), "");
    // A name longer than the line cannot reach past it.
    EXPECT_EQ(HintLineText("]:=", "VeryLongName"), "");
}

TEST(LanguageEntry, EqualsSignInUntranslatedTextDoesNotSplitTheEntry) {
    EXPECT_EQ(CaptionLineText("[A]x=y:="), "x=y");
    EXPECT_EQ(CaptionLineText("[A]x=y:=z"), "z");
    EXPECT_EQ(CaptionLineText("[A]x:=y=z"), "y=z");
}

TEST(LanguageEntry, LookupTakesFirstLineHoldingTheKey) {
    std::vector<std::string> lines = {"[Label10]ten:=Zehn", "[Label1]one:=Eins",
                                      "[Label1]again:=Nochmal"};
    ASSERT_NE(FindCaptionLine(lines, "Label1"), nullptr);
    EXPECT_EQ(*FindCaptionLine(lines, "Label1"), "[Label1]one:=Eins");
    EXPECT_EQ(*FindCaptionLine(lines, "Label10"), "[Label10]ten:=Zehn");
    EXPECT_EQ(FindCaptionLine(lines, "Label"), nullptr);
}

TEST(LanguageEntry, CaptionLookupPassesOverHintEntries) {
    std::vector<std::string> lines = {"[Hint][Name]:=", "[Name]Gerät:=Device"};
    EXPECT_EQ(*FindCaptionLine(lines, "Name"), "[Name]Gerät:=Device");
    EXPECT_EQ(*FindHintLine(lines, "Name"), "[Hint][Name]:=");
    EXPECT_EQ(FindCaptionLine({"[Hint][Name]:="}, "Name"), nullptr);
}

TEST(LanguageFile, Utf8MarkIsTakenOffAndWrittenBack) {
    LanguageText text = ParseLanguageFile("\xEF\xBB\xBF[A]x:=y\r\n[B]z:=\n");
    EXPECT_TRUE(text.Utf8);
    EXPECT_EQ(text.Lines, (std::vector<std::string>{"[A]x:=y", "[B]z:="}));
    EXPECT_EQ(FormatLanguageFile(text), "\xEF\xBB\xBF[A]x:=y\r\n[B]z:=\r\n");

    LanguageText plain = ParseLanguageFile("[A]\xF6:=\r[B]");
    EXPECT_FALSE(plain.Utf8);
    EXPECT_EQ(plain.Lines, (std::vector<std::string>{"[A]\xF6:=", "[B]"}));
}

} // namespace
} // namespace i18n
