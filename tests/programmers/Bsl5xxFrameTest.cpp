#include "programmers/Bsl5xxFrame.h"

#include "programmers/BslDialogue.h"
#include "programmers/Crc16.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace programmers;
using Bytes = std::vector<std::uint8_t>;
using Kind = TBsl5xxReply::Kind;

TEST(Crc16, CheckValuesOfBothInitialValues) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Crc16(abc, 3, Crc16InitBsl5xx), 0x514A);
    EXPECT_EQ(Crc16(abc, 3, Crc16InitXmodem), 0x9DD6);
    const std::string check = "123456789"; // the catalogue's check input
    const auto* digits = reinterpret_cast<const std::uint8_t*>(check.data());
    EXPECT_EQ(Crc16(digits, check.size(), Crc16InitBsl5xx), 0x29B1);
    EXPECT_EQ(Crc16(digits, check.size(), Crc16InitXmodem), 0x31C3);
}

TEST(Bsl5xxFrame, LengthCountsTheCoreAndTheCrcCoversItLowByteFirst) {
    // Transmit loader version, as the loader's documentation shows it.
    TBsl5xxFrame version = Build5xxFrame(bsl5xx::CmdTxVersion);
    EXPECT_EQ(Bytes(version.Bytes.begin(), version.Bytes.begin() + version.Size),
              (Bytes{0x80, 0x01, 0x00, 0x19, 0xE8, 0x62}));

    const std::uint8_t data[] = {0x04, 0x1A, 0x00, 0x04, 0x00};
    TBsl5xxFrame read = Build5xxFrame(bsl5xx::CmdTxData, data, sizeof data);
    ASSERT_EQ(read.Size, 11u);
    EXPECT_EQ(read.Bytes[1], 6);
    EXPECT_EQ(read.Bytes[2], 0);
    const std::uint16_t crc = Crc16(read.Bytes.data() + 3, 6, Crc16InitBsl5xx);
    EXPECT_EQ(read.Bytes[9], crc & 0xFF);
    EXPECT_EQ(read.Bytes[10], crc >> 8);
}

class Reply5xxParser : public ::testing::Test {
protected:
    void Feed(const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), parser.Free());
        parser.Commit(bytes.size());
    }
    std::vector<Kind> Drain() {
        std::vector<Kind> kinds;
        while (auto reply = parser.Next()) {
            kinds.push_back(reply->What);
            last = *reply;
        }
        return kinds;
    }
    static Bytes Response(const Bytes& core) {
        Bytes frame{0x80, static_cast<std::uint8_t>(core.size() & 0xFF),
                    static_cast<std::uint8_t>(core.size() >> 8)};
        for (std::uint8_t byte : core) {
            frame.push_back(byte);
        }
        const std::uint16_t crc = Crc16(core.data(), core.size(), Crc16InitBsl5xx);
        frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(crc >> 8));
        return frame;
    }
    TBsl5xxReplyParser parser;
    TBsl5xxReply last;
};

TEST_F(Reply5xxParser, AcknowledgeRefusalsDataAndMessages) {
    Feed({0x00, 0x51, 0x56});
    EXPECT_EQ(Drain(), (std::vector<Kind>{Kind::Ack, Kind::Error, Kind::Error}));
    EXPECT_EQ(last.Code, 0x56);

    Bytes data = Response({0x3A, 0x00, 0x05, 0x08, 0x06});
    Feed(Bytes(data.begin(), data.begin() + 4));
    EXPECT_TRUE(Drain().empty()) << "half a frame waits";
    Feed(Bytes(data.begin() + 4, data.end()));
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Data});
    ASSERT_EQ(last.DataCount(), 4u);
    EXPECT_EQ(last.Data()[1], 0x05);

    Feed(Response({0x3B, 0x05}));
    EXPECT_EQ(Drain(), std::vector<Kind>{Kind::Message});
    EXPECT_EQ(last.Code, 5);
}

TEST_F(Reply5xxParser, NoiseWrongCrcAndImpossibleLengthsNeverStallOrPassAsData) {
    Bytes bad = Response({0x3A, 0x11, 0x22});
    bad.back() ^= 0xFF;
    // Noise, a damaged frame, a header with a length no reply has, then an ack.
    Bytes stream{0x23};
    stream.insert(stream.end(), bad.begin(), bad.end());
    for (std::uint8_t byte : Bytes{0x80, 0xFF, 0xFF, 0x00}) {
        stream.push_back(byte);
    }
    Feed(stream);
    const std::vector<Kind> kinds = Drain();
    for (std::size_t i = 0; i + 1 < kinds.size(); ++i) {
        EXPECT_EQ(kinds[i], Kind::Noise) << i;
    }
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.back(), Kind::Ack);
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST(HexNumber, StopsAtTheLimitAndAtTheFirstOtherCharacter) {
    std::uint32_t value = 0;
    EXPECT_TRUE(ParseHexNumber("005C00FFFE", 6, value));
    EXPECT_EQ(value, 0x005C00u);
    EXPECT_TRUE(ParseHexNumber(" 0x1A2g", 64, value));
    EXPECT_EQ(value, 0x1A2u);
    EXPECT_FALSE(ParseHexNumber("zz", 64, value));
    EXPECT_FALSE(ParseHexNumber(nullptr, 64, value));
    EXPECT_EQ(LoaderVersionNumber("1.60"), 1600);
    EXPECT_EQ(LoaderVersionNumber("2.05"), 2050);
}

} // namespace
