#include "kernel/Stringunit.h"

#include <gtest/gtest.h>

namespace {

using kernel::StrPosFrom;

TEST(StrPosFrom, FindsOneBasedPositionsFromAStart) {
    EXPECT_EQ(StrPosFrom("A.1111\r\n", "\r\n", 0), 7);
    EXPECT_EQ(StrPosFrom("A.1111\r\n", "\r\n", 1), 7);
    EXPECT_EQ(StrPosFrom("A.1111\r\n", "\r\n", 7), 7);
    EXPECT_EQ(StrPosFrom("A.1111\r\n", "\r\n", 8), 0);
    EXPECT_EQ(StrPosFrom("A.1111\r\n", "\r\n", 100), 0);
    EXPECT_EQ(StrPosFrom("abcabc", "bc", 3), 5);
}

TEST(StrPosFrom, EmptyOrTruncatedInputFindsNothing) {
    EXPECT_EQ(StrPosFrom("", "a", 0), 0);
    EXPECT_EQ(StrPosFrom("abc", "", 0), 0);
    EXPECT_EQ(StrPosFrom(std::string("ab\0cd", 5), "cd", 0), 0);
}

TEST(StrInsertDelete, EditInPlaceAndStayInBounds) {
    std::string text = "A.2000";
    kernel::StrInsert("#", text, 7);
    EXPECT_EQ(text, "A.2000#");
    kernel::StrInsert("X", text, 1);
    EXPECT_EQ(text, "XA.2000#");
    kernel::StrInsert("!", text, 99);
    EXPECT_EQ(text, "XA.2000#!");
    kernel::StrDelete(text, 1, 1);
    EXPECT_EQ(text, "A.2000#!");
    kernel::StrDelete(text, 7, 100);
    EXPECT_EQ(text, "A.2000");
    kernel::StrDelete(text, 50, 1);
    kernel::StrDelete(text, 0, 3);
    EXPECT_EQ(text, "A.2000");
}

TEST(HexToInt, ReadsUpToFourDigitsInEitherCase) {
    EXPECT_EQ(kernel::HexToInt("1F"), 31);
    EXPECT_EQ(kernel::HexToInt("1f"), 31);
    EXPECT_EQ(kernel::HexToInt("FFFF"), 65535);
    EXPECT_EQ(kernel::HexToInt(""), 0);
    EXPECT_EQ(kernel::HexToInt("12345"), 0x2345);
}

TEST(WideText, RoundTripsEveryByte) {
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    std::u16string wide = kernel::AnsiToWide(all);
    EXPECT_EQ(wide[0xE3], u'\u00E4');
    EXPECT_EQ(kernel::WideToAnsi(wide), all);
    EXPECT_EQ(kernel::WideToAnsi(u"\u0141x"), "Ax");
}

} // namespace
