#include "programmers/TermAnnouncements.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using programmers::TAnnouncementScanner;
namespace termmsg = programmers::termmsg;

std::vector<std::int32_t> Feed(TAnnouncementScanner& scanner, std::string_view text) {
    std::vector<std::int32_t> found;
    scanner.Add(text, found);
    return found;
}

TEST(TermAnnouncements, TwoInOneReadPostInTableOrderAndOnlyTheyAreRemoved) {
    TAnnouncementScanner scanner;
    const auto found =
        Feed(scanner, "x Waiting for S-Record !\r\nErasing Flash-Memory (1) !\r\nBasic-Loader  |y");
    EXPECT_EQ(found, (std::vector<std::int32_t>{termmsg::LoaderBanner, termmsg::WaitingForFile,
                                                termmsg::Erasing}));
    EXPECT_EQ(scanner.Text(), "x \r\n\r\ny");
}

TEST(TermAnnouncements, AnAnnouncementSplitAcrossReadsIsFoundOnceComplete) {
    TAnnouncementScanner scanner;
    EXPECT_TRUE(Feed(scanner, "Flash-Memory (1) progr").empty());
    EXPECT_EQ(Feed(scanner, "ammed !\r\n"), (std::vector<std::int32_t>{termmsg::Programmed}));
    // The binary announcement, split in its middle, zero bytes around it.
    EXPECT_TRUE(Feed(scanner, std::string_view("\0\xA1\x48", 3)).empty());
    EXPECT_EQ(Feed(scanner, std::string_view("\x20\x14\0", 3)),
              (std::vector<std::int32_t>{termmsg::Programmed}));
    EXPECT_EQ(scanner.Text(), std::string_view("\r\n\0\0", 4));
}

TEST(TermAnnouncements, AFullTextDropsTheOldestChatterButKeepsAnArrivingAnnouncement) {
    TAnnouncementScanner scanner;
    const std::string chatter(TAnnouncementScanner::Capacity + 500, '.');
    EXPECT_TRUE(Feed(scanner, chatter).empty());
    EXPECT_LE(scanner.Text().size(), TAnnouncementScanner::Capacity);
    // The start of an announcement fills the text to the last byte.
    EXPECT_TRUE(Feed(scanner,
                     std::string(TAnnouncementScanner::Capacity - scanner.Text().size() - 13, '.') +
                         "S-Record defe")
                    .empty());
    // So full that the next read has to drop text first.
    EXPECT_GT(scanner.Text().size(),
              TAnnouncementScanner::Capacity - TAnnouncementScanner::ReadChunk);
    EXPECT_EQ(Feed(scanner, "ct!"), (std::vector<std::int32_t>{termmsg::RecordDefect}));
}

} // namespace
