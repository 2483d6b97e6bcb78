#include "platform/Files.h"

#include "../support/TempFolder.h"
#include "platform/Text.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

TEST(Wildcard, MatchesWithoutRegardToCase) {
    EXPECT_TRUE(platform::WildcardMatch("*.txt", "FW.TXT"));
    EXPECT_TRUE(platform::WildcardMatch("*.mot", "a.b.MoT"));
    EXPECT_TRUE(platform::WildcardMatch("F?.*", "fw.bin"));
    EXPECT_TRUE(platform::WildcardMatch("*.*", "x.y"));
    EXPECT_FALSE(platform::WildcardMatch("*.txt", "FW.TXT.bak"));
    EXPECT_FALSE(platform::WildcardMatch("*.txt", "txt"));
    EXPECT_FALSE(platform::WildcardMatch("?", ""));
}

TEST(FindFiles, ListsRegularFilesOnlySortedByName) {
    testing_support::TempFolder folder;
    folder.Write("FW.TXT", "");
    folder.Write("b.txt", "");
    folder.Write("sub.txt/inner", "");
    folder.Write("c.bin", "");
    EXPECT_EQ(platform::FindFiles(folder.Path(), "*.txt"),
              (std::vector<std::string>{"FW.TXT", "b.txt"}));
    EXPECT_TRUE(platform::FindFiles(folder.File("missing"), "*.txt").empty());
    // A Latin-1 pattern against a UTF-8 name: the umlaut is one character.
    folder.Write("pr\xC3\xBC"
                 "f.bin",
                 "");
    EXPECT_EQ(platform::FindFiles(folder.Path(), "PR\xDC?.*"),
              (std::vector<std::string>{"pr\xC3\xBC"
                                        "f.bin"}));
}

TEST(ExpandEnvironment, UsesVariablesAndLinuxDefaults) {
    ::setenv("PUBLIC", "/srv/public", 1);
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%PUBLIC%\\x"), "/srv/public\\x");
    ::unsetenv("PUBLIC");
    ::setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%PUBLIC%"), "/data/update-public");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("ProgramFiles");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%ProgramFiles%/tool"), "/opt/tool");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("%NO_SUCH_NAME_HERE%"), "%NO_SUCH_NAME_HERE%");
    EXPECT_EQ(platform::ExpandEnvironmentStrings("50% and %"), "50% and %");
}

TEST(Directories, ForceDirectoriesCreatesParents) {
    testing_support::TempFolder folder;
    std::string deep = folder.File("a/b/c");
    EXPECT_TRUE(platform::ForceDirectories(deep));
    EXPECT_TRUE(platform::DirectoryExists(deep));
    EXPECT_TRUE(platform::ForceDirectories(deep));
}

TEST(Lines, EveryLineEndIsRecognised) {
    EXPECT_EQ(platform::SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(platform::SplitLines("a\r\n\r\n"), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(platform::SplitLines("").empty());
}

TEST(Lines, SaveThenLoadKeepsLinesAndWritesCrLf) {
    testing_support::TempFolder folder;
    ASSERT_TRUE(platform::SaveLines(folder.File("x.ini"), {"A=1", "", "B=\xE4"}));
    EXPECT_EQ(folder.Read("x.ini"), "A=1\r\n\r\nB=\xE4\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(platform::LoadLines(folder.File("x.ini"), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"A=1", "", "B=\xE4"}));
    EXPECT_FALSE(platform::LoadLines(folder.File("none.ini"), lines));
}

TEST(Text, Latin1RoundTripAndFallbacks) {
    EXPECT_EQ(platform::Utf8ToLatin1("Gerät"), "Ger\xE4t");
    EXPECT_EQ(platform::Latin1ToUtf8("Ger\xE4t"), "Gerät");
    EXPECT_EQ(platform::Utf8ToLatin1("€"), "?");
    EXPECT_EQ(platform::Utf8ToLatin1("\xC3"), "\xC3");
}

} // namespace
