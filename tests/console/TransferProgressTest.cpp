#include "frontends/console/TransferProgress.h"

#include <gtest/gtest.h>

namespace {

using console::TransferProgress;
using Clock = TransferProgress::Clock;

// Feeds positions 1..maximum at a step of time each; the lines that come.
std::vector<std::string> LinesOf(TransferProgress& progress, int maximum,
                                 std::chrono::milliseconds step, Clock::time_point& now) {
    std::vector<std::string> lines;
    for (int position = 1; position <= maximum; ++position) {
        now += step;
        progress.Update(position, maximum, "blocks");
        if (auto line = progress.DueLine(now)) {
            lines.push_back(*line);
        }
    }
    return lines;
}

TEST(TransferProgress, AFastTransferGetsALineAtItsStartAndAtEachTenth) {
    TransferProgress progress;
    Clock::time_point now{};
    const auto lines = LinesOf(progress, 256, std::chrono::milliseconds(1), now);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines.front(), "progress: 0 % (1/256 blocks)");
    EXPECT_EQ(lines[4], "progress: 40 % (103/256 blocks)");
    EXPECT_EQ(lines.back(), "progress: 100 % (256/256 blocks)");
}

TEST(TransferProgress, ASlowTransferGetsALineEachSecondBetweenTheTenths) {
    TransferProgress progress;
    Clock::time_point now{};
    // 100 blocks, 4 s each: 400 s, a line each second would be 400 lines;
    // one a block (4 s apart) is what moves.
    const auto lines = LinesOf(progress, 100, std::chrono::seconds(4), now);
    EXPECT_EQ(lines.size(), 100u);
    // 1000 blocks at 100 ms: a line once a second, 10 blocks apart.
    TransferProgress fine;
    const auto fineLines = LinesOf(fine, 1000, std::chrono::milliseconds(100), now);
    EXPECT_GE(fineLines.size(), 99u);
    EXPECT_LE(fineLines.size(), 115u);
}

TEST(TransferProgress, ARaisedMaximumHoldsThePercentageInsteadOfGoingBack) {
    TransferProgress progress;
    Clock::time_point now{};
    progress.Update(0, 0, "blocks");
    progress.Update(0, 28, "blocks");
    progress.Update(4, 28, "blocks"); // 14 %
    ASSERT_TRUE(progress.DueLine(now += std::chrono::seconds(2)));
    progress.Update(5, 90, "blocks"); // the erase became known: 5 %
    EXPECT_EQ(progress.Percent(), 14);
    EXPECT_EQ(progress.Text(), "14 %") << "5/90 blocks would contradict 14 %";
    EXPECT_FALSE(progress.DueLine(now += std::chrono::seconds(2)))
        << "no line while the work done lies below what was shown";
    progress.Update(18, 90, "blocks");
    EXPECT_EQ(progress.Percent(), 20);
    EXPECT_EQ(progress.DueLine(now += std::chrono::seconds(2)), "progress: 20 % (18/90 blocks)");
    int last = progress.Percent();
    for (int position = 19; position <= 90; ++position) {
        progress.Update(position, 90, "blocks");
        EXPECT_GE(progress.Percent(), last);
        last = progress.Percent();
    }
    EXPECT_EQ(last, 100);
}

// A percentage bar (or stages, or seconds) has nothing to count; a bar of
// bytes counts them as such.
TEST(TransferProgress, TheLinesNameTheBarsUnitOrTellThePercentageAlone) {
    TransferProgress progress;
    Clock::time_point now{};
    progress.Update(40, 100, "");
    EXPECT_EQ(progress.DueLine(now), "progress: 40 %");
    progress.Update(84, 105, "");
    EXPECT_EQ(progress.Text(), "80 %");
    TransferProgress bytes;
    bytes.Update(6000, 24000, "bytes");
    EXPECT_EQ(bytes.DueLine(now), "progress: 25 % (6000/24000 bytes)");
}

TEST(TransferProgress, TheNextTransferStartsAfresh) {
    TransferProgress progress;
    Clock::time_point now{};
    LinesOf(progress, 10, std::chrono::milliseconds(1), now);
    EXPECT_EQ(progress.Percent(), 100);
    progress.Update(0, 10, "blocks"); // the bar back to 0: the transfer ended
    EXPECT_FALSE(progress.Active());
    EXPECT_EQ(progress.Percent(), 0);
    const auto lines = LinesOf(progress, 20, std::chrono::milliseconds(1), now);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "progress: 5 % (1/20 blocks)");
}

} // namespace
