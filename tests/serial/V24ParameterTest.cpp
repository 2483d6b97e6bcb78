#include "serial/V24Parameter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace serialtest {
namespace {

using namespace serial;

std::string TempFile(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string(name) + "-" + std::to_string(getpid())))
        .string();
}

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(V24ParameterTag, IsTheFortyEightByteLittleEndianRecord) {
    V24ParameterTag record;
    record.DatenBits = D_7;
    record.Paritaet = Mark;
    record.StopBits = S_2;
    record.Baudrate = B256000;
    record.Handshake = ZNQ_XonXoff;
    record.RXTimeOut = -2;
    record.TXTimeOut = 0x01020304;
    record.Schnittstelle = Com256;
    record.KeinNullZeichen = 1;
    record.KeinString = 1;
    record.RXNotification = 300;
    record.RXTimeOutproChar = 5;
    record.TXTimeOutproChar = 6;
    const std::uint8_t expected[48] = {
        0, 0, 0, 0, 3,   0, 0, 0, 2, 0, 0, 0, 9,    0, 0, 0, 3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,
        4, 3, 2, 1, 255, 0, 0, 0, 1, 1, 0, 0, 0x2C, 1, 0, 0, 5, 0, 0, 0, 6,    0,    0,    0};
    V24ParameterTag::Bytes bytes = record.ToBytes();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected));
    EXPECT_EQ(V24ParameterTag::FromBytes(bytes), record);
}

TEST(V24ParameterTag, DefaultsAreThoseOfTheComponent) {
    V24ParameterTag record;
    EXPECT_EQ(record.DatenBits, D_8);
    EXPECT_EQ(record.Baudrate, B__4800);
    EXPECT_EQ(record.TXTimeOut, 1000);
    EXPECT_EQ(BaudRateOf(B128000), 128000u);
    EXPECT_EQ(BaudRateOf(42), 4800u);
}

TEST(TV24Parameter, MissingFileIsCreatedFromTheRecord) {
    std::string path = TempFile("ComData-missing.cfg");
    std::remove(path.c_str());
    TV24Parameter parameter;
    parameter.Record.Baudrate = B_19200;
    parameter.SetFile(path, true);
    ASSERT_TRUE(parameter.Load());
    V24ParameterTag::Bytes bytes = parameter.Record.ToBytes();
    EXPECT_EQ(ReadBytes(path), std::string(bytes.begin(), bytes.end()));
    std::remove(path.c_str());
}

TEST(TV24Parameter, ShortFileFromAnOlderVersionLeavesTheTailAndZeroesTheNotification) {
    std::string path = TempFile("ComData-short.cfg");
    V24ParameterTag old;
    old.Baudrate = B__9600;
    V24ParameterTag::Bytes oldBytes = old.ToBytes();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(oldBytes.data()), 36);

    TV24Parameter parameter;
    parameter.Record.RXNotification = 50;
    parameter.Record.TXTimeOutproChar = 9;
    parameter.SetFile(path, true);
    ASSERT_TRUE(parameter.Load());
    EXPECT_EQ(parameter.Record.Baudrate, B__9600);
    EXPECT_EQ(parameter.Record.RXNotification, 0);
    EXPECT_EQ(parameter.Record.TXTimeOutproChar, 9);
    std::remove(path.c_str());
}

TEST(TV24Parameter, FileIsLeftAloneWithoutStreamFlagOrWithATooShortName) {
    std::string path = TempFile("ComData-off.cfg");
    std::remove(path.c_str());
    TV24Parameter parameter;
    parameter.SetFile(path, false);
    EXPECT_TRUE(parameter.Assign(V24ParameterTag{}));
    EXPECT_FALSE(std::filesystem::exists(path));
    parameter.SetFile("a.c", true);
    EXPECT_TRUE(parameter.Assign(V24ParameterTag{}));
    EXPECT_FALSE(std::filesystem::exists("a.c"));
}

} // namespace
} // namespace serialtest
