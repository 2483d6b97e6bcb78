#include "InstrumentLine.h"
#include "programmers/Efmv24_unit.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace bsltest {
namespace {

using programmers::TEFMV24_Prog;
namespace efmv24 = programmers::efmv24;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(DeviceLoaderCommands, FormatsAsTheLoaderReadsThem) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(efmv24::BlockCommand(abc, 3), "A.1261#3,40406,616263\r\n"); // CRC 0x9DD6
    EXPECT_EQ(efmv24::SizeAnnouncement(122, "L 1.0"),
              "A.1260#Will receive\r\rprogdata: \r\rof!122 bytes,L 1.0\r\n");
    EXPECT_EQ(efmv24::ClosingCommand(378, 65535, 86400), "A.1262#QX47,378,65535,86400\r\n");
    EXPECT_EQ(efmv24::LoaderTextOf("0123456789abcdefghijKLMNOP"), "0123456789abcdefghij");
    EXPECT_EQ(efmv24::LoaderTextOf(nullptr), "");

    long number = 0;
    EXPECT_TRUE(efmv24::BlockErrorNumber(" 2", number));
    EXPECT_EQ(number, 2);
    EXPECT_TRUE(efmv24::BlockErrorNumber("99999999999999999999992", number));
    EXPECT_NE(number, 2);
    EXPECT_FALSE(efmv24::BlockErrorNumber("x2", number));
    EXPECT_FALSE(efmv24::BlockErrorNumber(nullptr, number));
}

TEST(DeviceLoaderCommands, DateStampCountsWholeDaysFromTheLastDayOf2002) {
    for (const int hour : {0, 23}) {
        std::tm local{};
        local.tm_year = 103; // 2003-01-02, any time of the day
        local.tm_mon = 0;
        local.tm_mday = 2;
        local.tm_hour = hour;
        local.tm_min = 59;
        local.tm_isdst = -1;
        EXPECT_EQ(efmv24::DateStamp(std::mktime(&local)), 2u * 86400) << hour;
    }
}

// An instrument at 4800 8N2 whose firmware carries the device loader.
std::string Profile(const std::string& extra = "") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1.23\nserial=3\n"
           "loader=device-loader\nloader.restart_ms=20\nloader.store_ms=20\n"
           "flash_start=0\nflash_size=0x2000\n" +
           extra;
}

// TEFMV24_Prog on COM1 against the simulated instrument, woken so that its
// firmware takes commands.
class DeviceLoaderTransfer : public InstrumentLine {
protected:
    void Wake(const std::string& profile) {
        Connect(profile);
        ASSERT_TRUE(Answered("A.1111\r\n", "A.1111!"));
    }
    bool Run(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>(i * 7 + 3);
        }
        folder.Write("FW.BIN", bytes);
        return RunFile(folder.File("FW.BIN"));
    }
    bool RunFile(const std::string& path) {
        TEFMV24_Prog loader({host, com, delay, job});
        result = loader.Program(path);
        const bool ok = result.Succeeded();
        imageLen = loader.ImageLen();
        return ok;
    }
    std::string Transcript() { return Finish().Transcript(); }
    // The line is back at 4800 8N2: a command now reaches the instrument
    // at that speed (its note names the tool's line).
    void ExpectTheEntryLine() {
        EXPECT_EQ(com.GetV24Parameter()->Baudrate, serial::B__4800);
        EXPECT_EQ(com.GetV24Parameter()->StopBits, serial::S_2);
        ASSERT_EQ(com.Write("A.2000\r\n", 8, false), 8);
        serialtest::PumpUntil([] { return false; }, 300);
        const std::string transcript = Transcript();
        EXPECT_NE(transcript.find("tool at 4800 baud 2 stop"), std::string::npos) << transcript;
    }

    std::uint32_t imageLen = 0;
    programmers::TProgrammerResult result;
};

TEST_F(DeviceLoaderTransfer, StoresFilePlusPaddingInBlocksOf128AndEndsAt9600) {
    // 250 + 6 fills two blocks exactly: a whole block of padding still follows.
    Wake(Profile());
    ASSERT_TRUE(Run(250)) << Transcript();
    EXPECT_EQ(imageLen, 378u);
    EXPECT_TRUE(host.dialogs.Boxes.empty());
    // The loader's frames, counted from a maximum set before the first.
    EXPECT_EQ(host.StepBeforeMaximum(), "");
    EXPECT_TRUE(host.BarCountsOnly(programmers::ProgressUnit::Blocks));
    EXPECT_EQ(host.events.HandlerCount(), 1u);
    // The new firmware answers at 9600, where the line was left.
    EXPECT_TRUE(Answered("A.2000\r\n", "I.20#2"));
    const std::string transcript = Transcript();
    EXPECT_EQ(Count(transcript, ": 128 bytes"), 2u) << transcript;
    EXPECT_NE(transcript.find("block 3: 122 bytes"), std::string::npos);
    EXPECT_NE(transcript.find("firmware now at 115200 baud"), std::string::npos);
    EXPECT_EQ(transcript.find("dropped"), std::string::npos) << transcript;
    EXPECT_EQ(instrument->Instrument().LoaderExits(), 1u);
    const auto& flash = instrument->Instrument().Memory();
    for (std::uint32_t i = 0; i < 378; ++i) {
        ASSERT_EQ(flash.At(i), i < 250 ? static_cast<std::uint8_t>(i * 7 + 3) : 0xFF) << i;
    }
}

TEST_F(DeviceLoaderTransfer, EmptyFileIsOneBlockOfPaddingAndKeepBaudStaysAt9600) {
    job.KeepBaud[0] = 1;
    Wake(Profile());
    ASSERT_TRUE(Run(0));
    EXPECT_EQ(imageLen, 122u);
    const std::string transcript = Transcript();
    EXPECT_NE(transcript.find("block 1: 122 bytes"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("block 2"), std::string::npos);
    EXPECT_NE(transcript.find("firmware now at 9600 baud"), std::string::npos);
    EXPECT_EQ(transcript.find("115200"), std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("dropped"), std::string::npos) << transcript;
    EXPECT_EQ(instrument->Instrument().Memory().At(121), 0xFF);
}

TEST_F(DeviceLoaderTransfer, RepeatsTheLastBlockAsOftenAsTheLoaderAsks) {
    Wake(Profile("loader.fault.block_error=1,3\n"));
    ASSERT_TRUE(Run(300));
    const std::string transcript = Transcript();
    EXPECT_EQ(Count(transcript, "fault: block"), 2u) << transcript;
    EXPECT_EQ(Count(transcript, "-- block "), 3u) << transcript;
    EXPECT_EQ(instrument->Instrument().Memory().At(299), static_cast<std::uint8_t>(299 * 7 + 3));
}

TEST_F(DeviceLoaderTransfer, FailuresEndTheRunWithTheEntryLineRestored) {
    // Each failure names what failed it.
    const std::pair<const char*, const char*> faults[] = {
        {"loader.fault.block_error=2:5\n", "device loader: block error after A.1261#128"},
        {"loader.fault.silent_from=2\n", "device loader: no reply to A.1261#128 within 8000 ms"},
        {"loader.fault.close=refuse\n", "device loader: no reply to A.1262#QX47 within 20000 ms"},
        {"loader.fault.close=9\n", "device loader: block error after A.1262#QX47"}};
    for (const auto& [fault, cause] : faults) {
        SCOPED_TRACE(fault);
        Wake(Profile(fault));
        EXPECT_FALSE(Run(300));
        EXPECT_EQ(result.Failure.Cause, cause);
        EXPECT_EQ(host.events.HandlerCount(), 1u);
        ExpectTheEntryLine();
        EXPECT_EQ(instrument->Instrument().LoaderExits(), 0u);
    }
}

TEST_F(DeviceLoaderTransfer, FileThatCannotBeTakenIsRefusedBeforeAnythingIsSent) {
    Wake(Profile());
    const std::string large = folder.File("LARGE.BIN");
    folder.Write("LARGE.BIN", "");
    const std::uintmax_t size = programmers::LargestImageFile() + 1;
    std::filesystem::resize_file(large, size);
    EXPECT_FALSE(RunFile(large));
    EXPECT_FALSE(RunFile(folder.File("MISSING.BIN")));
    ASSERT_EQ(host.dialogs.Boxes.size(), 2u);
    EXPECT_NE(host.dialogs.Boxes[0].Text.find(large), std::string::npos);
    EXPECT_NE(host.dialogs.Boxes[0].Text.find(std::to_string(size)), std::string::npos);
    EXPECT_NE(host.dialogs.Boxes[1].Text.find("MISSING.BIN"), std::string::npos);
    EXPECT_EQ(host.dialogs.Boxes[1].Caption, "Fehler");
    EXPECT_EQ(Transcript().find("A.5004"), std::string::npos) << "nothing was sent";
}

} // namespace
} // namespace bsltest
