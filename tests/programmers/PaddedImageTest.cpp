#include "programmers/PaddedImage.h"

#include "programmers/Crc16.h"

#include <gtest/gtest.h>

namespace programmers {
namespace {

TEST(PaddedImage, PaddingFillsWholeBlocksWithAtLeastOneByte) {
    struct Case {
        std::size_t size, padding, blocks;
    };
    // 122 + 6 fills a block exactly, yet a whole block of padding follows.
    for (const Case& c : {Case{0, 122, 1}, Case{121, 1, 1}, Case{122, 128, 2}, Case{250, 128, 3},
                          Case{1 << 20, 122, 8193}}) {
        SCOPED_TRACE(c.size);
        TPaddedImage image = PadImage(std::vector<std::uint8_t>(c.size, 0x11));
        EXPECT_EQ(image.FileSize, c.size);
        EXPECT_EQ(image.PaddedLength, c.size + c.padding);
        EXPECT_EQ(image.BlockCount, c.blocks);
        EXPECT_EQ(image.PaddedLength + ImageTrailerSize, image.BlockCount * ImageBlockSize);
        EXPECT_EQ(image.Bytes.back(), 0xFF);
        EXPECT_EQ(image.Bytes[c.size], 0xFF);
    }
}

TEST(PaddedImage, TrailerHoldsLengthAndCrcLittleEndian) {
    EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>("abc"), 3, Crc16InitXmodem), 0x9DD6);
    TPaddedImage image = PadImage({'a', 'b', 'c'});
    const std::uint16_t crc = ImageCrc(image);
    EXPECT_EQ(crc, Crc16(image.Bytes.data(), 122, Crc16InitXmodem));
    AppendTrailer(image);
    ASSERT_EQ(image.Bytes.size(), 128u);
    const std::vector<std::uint8_t> trailer(image.Bytes.end() - 6, image.Bytes.end());
    EXPECT_EQ(trailer, (std::vector<std::uint8_t>{122, 0, 0, 0, static_cast<std::uint8_t>(crc),
                                                  static_cast<std::uint8_t>(crc >> 8)}));
}

TEST(PaddedImage, LargestFileStillFitsTheBuffer) {
    const TPaddedImage image = PadImage(std::vector<std::uint8_t>(LargestImageFile()));
    EXPECT_LE(image.BlockCount * ImageBlockSize, ImageCapacity);
    EXPECT_GT(PadImage(std::vector<std::uint8_t>(LargestImageFile() + 1)).BlockCount *
                  ImageBlockSize,
              ImageCapacity);
}

} // namespace
} // namespace programmers
