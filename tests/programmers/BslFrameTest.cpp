#include "programmers/BslFrame.h"

#include "programmers/ProgrammerRegistry.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using programmers::BslChecksum;
using programmers::BuildBslFrame;
using programmers::TBslReply;
using programmers::TBslReplyParser;
using Bytes = std::vector<std::uint8_t>;

TEST(BslChecksum, InvertedXorOfLittleEndianWordsWithAnOddByteStandingAlone) {
    struct Case {
        Bytes bytes;
        std::uint16_t sum;
    };
    const Case cases[] = {
        {{}, 0xFFFF},
        {{0x80}, 0xFF7F},
        {{0x80, 0x10}, 0xEF7F},
        {{0x80, 0x10, 0x24}, 0xEF5B}, // the third byte is the low half of a word
        // 0x1080 ^ 0x2424 ^ 0x3412 = 0x00B6
        {{0x80, 0x10, 0x24, 0x24, 0x12, 0x34}, 0xFF49},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BslChecksum(c.bytes.data(), c.bytes.size()), c.sum) << c.bytes.size();
    }
}

TEST(BslFrame, CarriesHeadDataAndChecksumOverEvenAndOddBodies) {
    // Transmit loader version, the smallest frame:
    // ~(0x1E80 ^ 0x0404 ^ 0x5858 ^ 0x5858) = 0xE57B.
    programmers::TBslFrame version = BuildBslFrame(0x1E, {'X', 'X', 'X', 'X'});
    EXPECT_EQ(Bytes(version.Bytes.begin(), version.Bytes.begin() + version.Size),
              (Bytes{0x80, 0x1E, 0x04, 0x04, 'X', 'X', 'X', 'X', 0x7B, 0xE5}));

    const std::uint8_t data[] = {1, 2, 3};
    programmers::TBslFrame odd = BuildBslFrame(0x12, {0x00, 0xE0, 0x03, 0x00}, data, 3);
    ASSERT_EQ(odd.Size, 4u + 7 + 2);
    EXPECT_EQ(odd.Bytes[2], 7);
    EXPECT_EQ(odd.Bytes[3], 7);
    const std::uint16_t sum = BslChecksum(odd.Bytes.data(), 11);
    EXPECT_EQ(odd.Bytes[11], sum & 0xFF);
    EXPECT_EQ(odd.Bytes[12], sum >> 8);
    EXPECT_EQ(odd.DataCount(), 7u);
}

TEST(BslFrame, DataBeyondWhatTheLengthByteCountsIsCutOff) {
    const Bytes data(400, 0xAB);
    programmers::TBslFrame frame = BuildBslFrame(0x12, {0, 0, 0, 0}, data.data(), data.size());
    EXPECT_EQ(frame.Bytes[2], 255);
    EXPECT_EQ(frame.Size, programmers::TBslFrame::MaxSize);
}

class ReplyParser : public ::testing::Test {
protected:
    void Feed(const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), parser.Free());
        parser.Commit(bytes.size());
    }
    std::vector<TBslReply::Kind> Drain() {
        std::vector<TBslReply::Kind> kinds;
        while (auto reply = parser.Next()) {
            kinds.push_back(reply->What);
        }
        return kinds;
    }
    static Bytes Frame(const Bytes& body) {
        Bytes frame{0x80, 0x00, static_cast<std::uint8_t>(body.size()),
                    static_cast<std::uint8_t>(body.size())};
        for (std::uint8_t byte : body) {
            frame.push_back(byte);
        }
        const std::uint16_t sum = BslChecksum(frame.data(), frame.size());
        frame.push_back(static_cast<std::uint8_t>(sum & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(sum >> 8));
        return frame;
    }
    TBslReplyParser parser;
};

using Kind = TBslReply::Kind;

TEST_F(ReplyParser, ReplyBytesCountTheLastOneAndNoiseAnswersNothing) {
    Feed({0x90});
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Ack});
    Feed({0x90, 0x12, 0xA0});
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Refusal});
    Feed({0x70});
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Refusal});
    Feed({0x11, 0x22});
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Noise});
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST_F(ReplyParser, AFrameIsTakenWholeOnlyOnceComplete) {
    const Bytes frame = Frame({0xF1, 0x49, 0x01, 0x02, 0x03}); // odd body
    Feed(Bytes(frame.begin(), frame.begin() + 5));
    EXPECT_TRUE(Drain().empty()) << "half a frame waits";
    Feed(Bytes(frame.begin() + 5, frame.end()));
    auto reply = parser.Next();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->What, Kind::Frame);
    EXPECT_EQ(reply->Frame.DataCount(), 5u);
    EXPECT_EQ(reply->Frame.Data()[0], 0xF1);
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST_F(ReplyParser, AWrongChecksumOrAStrayHeaderIsNeverTakenForData) {
    Bytes bad = Frame({1, 2, 3, 4});
    bad.back() ^= 0x01;
    Feed(bad);
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Noise});
    // 0x80 whose two length bytes differ is no frame; the ack behind it counts.
    Feed({0x80, 0x05, 0x06, 0x07, 0x90});
    EXPECT_EQ(Drain(), (std::vector<Kind>{Kind::Noise, Kind::Ack}));
    EXPECT_EQ(parser.Pending(), 0u);
}

} // namespace
