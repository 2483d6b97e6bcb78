#include "app/ReplyParser.h"

#include "app/FileVersion.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using app::ParseReplyLine;

TEST(ReplyLine, InfoReplyCarriesTheTextAfterTheHash) {
    app::ReplyLine reply = ParseReplyLine("I.20#12345!");
    EXPECT_TRUE(reply.IsReply);
    EXPECT_EQ(reply.Number, 20);
    EXPECT_TRUE(reply.HasInfoPrefix);
    EXPECT_EQ(reply.HashText, "12345!");
    EXPECT_TRUE(reply.EndsWithBang);
    EXPECT_FALSE(reply.HasCommandPrefix);
}

TEST(ReplyLine, AcknowledgeAndCommandPrefix) {
    app::ReplyLine reply = ParseReplyLine("A.1111!");
    EXPECT_EQ(reply.Number, 1111);
    EXPECT_TRUE(reply.EndsWithBang);
    EXPECT_TRUE(reply.HasCommandPrefix);
    EXPECT_FALSE(reply.HasInfoPrefix);
}

TEST(ReplyLine, EmptyTextAndQuestionMarksCountOnlyAtTheEnd) {
    EXPECT_EQ(ParseReplyLine("I.25#").HashText, "");
    EXPECT_EQ(ParseReplyLine("I.25#").Number, 25);
    EXPECT_FALSE(ParseReplyLine("A.12?34").EndsWithQuestion);
    EXPECT_TRUE(ParseReplyLine("?").EndsWithQuestion);
    EXPECT_TRUE(ParseReplyLine("?").IsReply);
    EXPECT_FALSE(ParseReplyLine("hello").IsReply);
}

TEST(ReplyLine, DollarValuesAndHostileNumbers) {
    app::ReplyLine value = ParseReplyLine("I.40$947.5");
    EXPECT_TRUE(value.HasDollar);
    EXPECT_FLOAT_EQ(value.DollarValue, 947.5f);
    EXPECT_FLOAT_EQ(ParseReplyLine("I.40$").DollarValue, 0.0f);
    EXPECT_FLOAT_EQ(ParseReplyLine("I.40$abc").DollarValue, 0.0f);
    EXPECT_EQ(ParseReplyLine("I.123456789012#x").Number, 0) << "too long for a reply number";
    EXPECT_EQ(ParseReplyLine("I.").Number, 0);
    EXPECT_EQ(ParseReplyLine("xxA.77!").Number, 77) << "the prefix may stand later in the line";
}

TEST(RxBuffer, SplitsLinesAtCrLfAndKeepsTheRest) {
    app::TRxBuffer buffer;
    std::string data = "A.1!\r\nI.2";
    buffer.Append(data.data(), data.size());
    std::string line;
    ASSERT_TRUE(buffer.TakeLine(line));
    EXPECT_EQ(line, "A.1!");
    EXPECT_FALSE(buffer.TakeLine(line));
    buffer.Append("0#x\r\n", 5);
    ASSERT_TRUE(buffer.TakeLine(line));
    EXPECT_EQ(line, "I.20#x");
}

TEST(RxBuffer, NulBytesBecomeBlanksAndTheBufferStaysBounded) {
    app::TRxBuffer buffer;
    std::string nul("A\0B", 3);
    buffer.Append(nul.data(), nul.size());
    EXPECT_EQ(buffer.Data(), "A B");
    std::string flood(10000, 'x');
    buffer.Append(flood.data(), flood.size());
    EXPECT_EQ(buffer.Size(), app::TRxBuffer::Capacity);
    buffer.Append("\r\n", 2);
    std::string line;
    ASSERT_TRUE(buffer.TakeLine(line));
    EXPECT_EQ(line.size(), app::TRxBuffer::Capacity - 2) << "the oldest bytes made room";
}

TEST(RxBuffer, BootloaderFrameIsTakenOutWithItsText) {
    app::TRxBuffer buffer;
    std::string data = std::string("zz") +
                       "h00h\x1D"
                       "METER 3\x0C\x16" +
                       "tail";
    buffer.Append(data.data(), data.size());
    app::TRxBuffer::BootAnswer answer = buffer.TakeBootAnswer();
    EXPECT_EQ(answer.What, app::TRxBuffer::BootAnswer::Frame);
    EXPECT_EQ(answer.Text, "METER 3");
    EXPECT_EQ(buffer.Data(), "zztail");
}

TEST(RxBuffer, FrameWithoutItsStopByteWaits) {
    app::TRxBuffer buffer;
    std::string data = "h11h\x1E"
                       "abc";
    buffer.Append(data.data(), data.size());
    EXPECT_EQ(buffer.TakeBootAnswer().What, app::TRxBuffer::BootAnswer::None);
    buffer.Append("\x0A\x16", 2);
    app::TRxBuffer::BootAnswer answer = buffer.TakeBootAnswer();
    EXPECT_EQ(answer.What, app::TRxBuffer::BootAnswer::Frame);
    EXPECT_EQ(answer.Text, "abc");
}

TEST(RxBuffer, SingleAnswerByteEmptiesTheBuffer) {
    app::TRxBuffer buffer;
    buffer.Append("noise\x90", 6);
    app::TRxBuffer::BootAnswer answer = buffer.TakeBootAnswer();
    EXPECT_EQ(answer.What, app::TRxBuffer::BootAnswer::Byte);
    EXPECT_EQ(static_cast<unsigned char>(answer.Character), 0x90);
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(FileVersionNumber, TruncatesTheTextTimes1000) {
    EXPECT_EQ(app::VersionNumber("2.05"), 2050);
    EXPECT_EQ(app::VersionNumber("1.23"), 1230);
    EXPECT_EQ(app::VersionNumber("1.049"), 1049);
    EXPECT_EQ(app::VersionNumber("X.XX"), 0);
    EXPECT_EQ(app::VersionNumber(""), 0);
    EXPECT_EQ(app::VersionNumber("1e308"), 1000);
}

TEST(FileVersion, KindsFollowTheMarkerAndTheName) {
    EXPECT_EQ(app::VersionKindOf("S1094000", "A.TXT"), app::FileVersionKind::SRecord);
    EXPECT_EQ(app::VersionKindOf("V", "TOOL.EXE"), app::FileVersionKind::Program);
    EXPECT_EQ(app::VersionKindOf("V", "X.BIN"), app::FileVersionKind::Binary);
    EXPECT_EQ(app::VersionKindOf("V", "X.TXT"), app::FileVersionKind::Plain);
}

TEST(FileVersion, HexPairsAfterTheMarkerUpToAZeroByte) {
    std::string text = "@C000\r\n56 45 52 3A 32 2E 30 30 00 11\r\n";
    EXPECT_EQ(app::VersionFromBytes(app::FileVersionKind::Plain, "56 45 52 3A", text), "2.00");
    EXPECT_EQ(app::VersionFromBytes(app::FileVersionKind::Plain, "99 99", text), "");
    std::string cut = "56 45 52 3A 32 2E";
    EXPECT_EQ(app::VersionFromBytes(app::FileVersionKind::Plain, "56 45 52 3A", cut), "2.");
}

TEST(FileVersion, ProgramFilesHoldSixteenBitText) {
    std::string wide;
    for (char c : std::string("FileVersion")) {
        wide += c;
        wide += '\0';
    }
    wide += std::string("\0\0", 2);
    for (char c : std::string("3.10")) {
        wide += c;
        wide += '\0';
    }
    wide += std::string("\0\0", 2);
    EXPECT_EQ(app::VersionFromBytes(app::FileVersionKind::Program, "FileVersion", wide), "3.10");
}

TEST(FileVersion, BinaryTextAfterTheMarker) {
    std::string bytes = std::string("\x01\x02VERS1.05\0rest", 14);
    EXPECT_EQ(app::VersionFromBytes(app::FileVersionKind::Binary, "VERS", bytes), "1.05");
    std::string skip = std::string("\xDD"
                                   "K"
                                   "abc2.00\0",
                                   9);
    EXPECT_EQ(app::VersionFromBytes(app::FileVersionKind::Binary,
                                    std::string("\xDD"
                                                "K"),
                                    skip),
              "2.00");
}

} // namespace
