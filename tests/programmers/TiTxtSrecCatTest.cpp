// Images written by srec_cat (package srecord), an independent TI-TXT
// writer: LF line ends, 16 bytes per line unless told otherwise.
#include "programmers/TiTxtReader.h"
#include "tests/programmers/TiTxtTables.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

using namespace programmers;
using namespace titxt_test;

bool HaveSrecCat() {
    return std::system("command -v srec_cat >/dev/null 2>&1") == 0;
}

// Writes each section as a binary file and lets srec_cat turn them into
// one TI-TXT file.
std::string WriteWithSrecCat(const testing_support::TempFolder& folder,
                             const std::vector<Section>& image, int bytesPerLine) {
    std::string command = "srec_cat";
    for (std::size_t i = 0; i < image.size(); ++i) {
        std::string name = "part" + std::to_string(i) + ".bin";
        folder.Write(name, std::string(image[i].Bytes.begin(), image[i].Bytes.end()));
        command += " " + folder.File(name) + " -binary -offset " + std::to_string(image[i].Address);
    }
    command += " -o " + folder.File("image.txt") + " -Texas_Instruments_TeXT";
    if (bytesPerLine != 16) {
        command += " -Output_Block_Size=" + std::to_string(bytesPerLine);
    }
    return std::system(command.c_str()) == 0 ? folder.Read("image.txt") : std::string();
}

std::vector<std::uint8_t> RandomBytes(std::mt19937& random, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

TEST(TiTxtSrecCat, RecordsReproduceTheImageAtItsAddresses) {
    if (!HaveSrecCat()) {
        GTEST_SKIP() << "srec_cat not found (apt-get install srecord)";
    }
    std::mt19937 random(2024);
    const std::vector<std::vector<Section>> layouts{
        {{0xC000, RandomBytes(random, 0x4400)}},
        {{0xC000, RandomBytes(random, 1000)},
         {0xE001, RandomBytes(random, 333)},
         {0xFFE0, RandomBytes(random, 32)},
         {0x10000, RandomBytes(random, 700)}},
        {{0x1100, RandomBytes(random, 0x8000)}, {0xFF80, RandomBytes(random, 128)}},
    };
    testing_support::TempFolder folder;
    auto table = std::make_unique<TTiTxtTable>();
    auto wide = std::make_unique<TTiTxtWideTable>();
    for (const auto& image : layouts) {
        for (int bytesPerLine : {16, 40, 15}) {
            std::string text = WriteWithSrecCat(folder, image, bytesPerLine);
            ASSERT_FALSE(text.empty());
            auto result = ReadTiTxt(text.data(), text.size(), *table);
            ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
            EXPECT_EQ(
                Compare(Reassemble<TTiTxtRecord>(*table, result.LastRecord, result.FirstHighRecord),
                        MemoryOf(image)),
                "")
                << image[0].Address << ", " << bytesPerLine << " bytes per line";
            result = ReadTiTxtWide(text.data(), text.size(), *wide);
            ASSERT_TRUE(result.Ok()) << TiTxtErrorText(result);
            EXPECT_EQ(
                Compare(Reassemble<TTiTxtWideRecord>(*wide, result.LastRecord), MemoryOf(image)),
                "");
        }
    }
}

} // namespace
