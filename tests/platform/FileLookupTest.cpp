#include "platform/FileLookup.h"

#include "../support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using platform::FoundFile;
using platform::LocateFile;
using Result = platform::FoundFile::Result;

class FileLookup : public ::testing::Test {
protected:
    testing_support::TempFolder folder;
};

TEST_F(FileLookup, TheExactNameWinsOverNamesThatDifferInCase) {
    folder.Write("FW.TXT", "upper");
    folder.Write("fw.txt", "lower");
    const FoundFile upper = LocateFile(folder.Path(), "FW.TXT");
    ASSERT_EQ(upper.What, Result::Found);
    EXPECT_EQ(upper.Name, "FW.TXT");
    EXPECT_EQ(LocateFile(folder.Path(), "fw.txt").Path, folder.File("fw.txt"));
}

TEST_F(FileLookup, ASingleEntryIsFoundInAnyCaseUnderItsOwnName) {
    folder.Write("Fw.Txt", "");
    for (const char* name : {"FW.TXT", "fw.txt", "fW.tXT"}) {
        const FoundFile found = LocateFile(folder.Path(), name);
        ASSERT_EQ(found.What, Result::Found) << name;
        EXPECT_EQ(found.Name, "Fw.Txt");
        EXPECT_EQ(found.Path, folder.File("Fw.Txt"));
    }
    EXPECT_EQ(LocateFile(folder.Path(), "FW.TX").What, Result::Missing);
    EXPECT_EQ(LocateFile(folder.Path(), "").What, Result::Missing);
    EXPECT_EQ(LocateFile(folder.File("nowhere"), "FW.TXT").What, Result::Missing);
}

TEST_F(FileLookup, EntriesThatDifferOnlyInCaseAreAmbiguousAndAllNamed) {
    folder.Write("fw.txt", "");
    folder.Write("Fw.txt", "");
    folder.Write("other.txt", "");
    const FoundFile found = LocateFile(folder.Path(), "FW.TXT");
    EXPECT_EQ(found.What, Result::Ambiguous);
    EXPECT_EQ(found.Matches, (std::vector<std::string>{"Fw.txt", "fw.txt"}));
    EXPECT_TRUE(found.Path.empty());
}

TEST_F(FileLookup, ALatin1NameFindsItsUtf8NameOnDiskInAnyCase) {
    folder.Write("pr\xC3\xBC"
                 "f.txt",
                 ""); // prüf.txt in UTF-8
    // Prüf.TXT and PRÜF.TXT as a Latin-1 configuration holds them.
    for (const char* name : {"Pr\xFC"
                             "f.TXT",
                             "PR\xDC"
                             "F.TXT"}) {
        const FoundFile found = LocateFile(folder.Path(), name);
        ASSERT_EQ(found.What, Result::Found) << name;
        EXPECT_EQ(found.Name, "pr\xC3\xBC"
                              "f.txt");
    }
    // A Latin-1 name on disk, as an old copy may have left it.
    folder.Write("m\xE4ssig.bin", "");
    EXPECT_EQ(LocateFile(folder.Path(), "M\xC4SSIG.BIN").Name, "m\xE4ssig.bin");
    // Letters without a Latin-1 capital and signs are not letters of another case.
    EXPECT_TRUE(platform::SameNameIgnoringCase("\xDF", "\xDF"));
    EXPECT_FALSE(platform::SameNameIgnoringCase("\xD7", "\xF7"));
}

TEST_F(FileLookup, AFolderOfThatNameIsNoFile) {
    std::filesystem::create_directories(folder.File("fw.txt"));
    const FoundFile found = LocateFile(folder.Path(), "FW.TXT");
    EXPECT_EQ(found.What, Result::NotAFile);
    EXPECT_EQ(found.Name, "fw.txt");
    std::filesystem::create_symlink(folder.File("gone"), folder.File("LINK.TXT"));
    EXPECT_EQ(LocateFile(folder.Path(), "link.txt").What, Result::NotAFile);
}

TEST_F(FileLookup, OnlyTheLastPartOfAPathIgnoresCase) {
    folder.Write("sub/fw.txt", "");
    EXPECT_EQ(LocateFile(folder.Path(), "sub/FW.TXT").Path, folder.File("sub/fw.txt"));
    EXPECT_EQ(LocateFile("", folder.File("sub/FW.TXT")).Path, folder.File("sub/fw.txt"));
    EXPECT_EQ(LocateFile(folder.Path(), "SUB/FW.TXT").What, Result::Missing);
}

} // namespace
