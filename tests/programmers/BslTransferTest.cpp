#include "../support/TempFolder.h"
#include "BslFakes.h"
#include "TiTxtImage.h"
#include "programmers/Bsl_unit.h"
#include "serial/Delay.h"

#include <gtest/gtest.h>

namespace bsltest {
namespace {

using programmers::T_BSL430;
using titxt_test::Counting;
using titxt_test::Section;

constexpr std::uint8_t CmdChangeBaud = 0x20;
constexpr std::uint8_t CmdWrite = 0x12;
constexpr std::uint8_t CmdRead = 0x14;
constexpr std::uint8_t CmdLoadPc = 0x1A;
constexpr std::uint8_t CmdSetOffset = 0x21;

// Vectors with the start word 0xE000 at 0xFFFC and the reset vector 0xF800.
std::vector<std::uint8_t> Vectors() {
    std::vector<std::uint8_t> bytes(32, 0xFF);
    bytes[28] = 0x00;
    bytes[29] = 0xE0;
    bytes[30] = 0x00;
    bytes[31] = 0xF8;
    return bytes;
}

std::vector<Section> FirmwareSections() {
    return {{0x1000, Counting(16)}, {0xE000, Counting(600, 7)}, {0xFFE0, Vectors()}};
}

FakeRomLoader::Options Opt(void (*set)(FakeRomLoader::Options&)) {
    FakeRomLoader::Options options;
    set(options);
    return options;
}

std::string Trace(const FakeRomLoader& loader) {
    std::string text;
    for (const FakeRomLoader::Seen& seen : loader.Frames()) {
        text += std::to_string(seen.command) + " ";
    }
    return text;
}

class BslTransfer : public ::testing::Test {
protected:
    BslTransfer() {
        platform::Application::Instance().Reopen();
        // Waits and watchdog a tenth as long; the fake loader answers at once.
        platform::Application::Instance().SetTimeDivisor(10);
        ports.Link(0, pty.SlavePath());
        record.DatenBits = serial::D_8;
        record.StopBits = serial::S_2;
        record.Baudrate = serial::B__4800;
        record.KeinNullZeichen = 1;
        com.InitParameter(&record, false);
        com.Open(host.Handle(), 0, 0, false);
        host.port = &com;
        host.folder = folder.Path();
        settings.SyncFirst = true;
        settings.QueryFirst = true;
    }
    ~BslTransfer() override {
        com.Close();
        platform::Application::Instance().SetTimeDivisor(1);
    }

    bool Run(const std::vector<Section>& sections) {
        folder.Write("FW.TXT", titxt_test::TiTxt(sections));
        return RunFile(folder.File("FW.TXT"));
    }
    bool RunFile(const std::string& path) {
        T_BSL430 bsl({host, com, delay, job}, settings);
        const bool ok = bsl.Program(path);
        errorStep = bsl.ErrorStep();
        version = bsl.BslVersion();
        return ok;
    }
    void ExpectFlashHolds(const FakeRomLoader& loader, const std::vector<Section>& sections) {
        for (const auto& [address, value] : titxt_test::MemoryOf(sections)) {
            ASSERT_EQ(loader.Flash(address), value) << "at 0x" << std::hex << address;
        }
    }

    serialtest::Pty pty;
    serialtest::PortDirectory ports;
    FakeHost host;
    serial::V24ParameterTag record;
    serial::TComPort com{nullptr, "UpdateCom"};
    serial::TDelay delay{nullptr};
    programmers::TProgJob job;
    programmers::TBslSettings settings;
    testing_support::TempFolder folder;
    std::int32_t errorStep = -1;
    std::int32_t version = 0;
};

TEST_F(BslTransfer, Loader140WritesVerifiesAndStartsAt9600) {
    FakeRomLoader loader(pty, {});
    ASSERT_TRUE(Run(FirmwareSections()));

    ExpectFlashHolds(loader, FirmwareSections());
    EXPECT_EQ(loader.StartAddress(), 0xE000u);
    EXPECT_EQ(version, 1400);
    EXPECT_EQ(loader.Count(CmdChangeBaud), 0);
    for (const FakeRomLoader::Seen& seen : loader.Frames()) {
        EXPECT_EQ(seen.baud, 9600u);
    }
    EXPECT_EQ(loader.DeviceLines(), (std::vector<std::string>{"A.1000", "A.5577", "A.5588#QX47"}));
    EXPECT_EQ(job.ResetVector, 0xF800u);
    EXPECT_EQ(job.PasswordKnown, 1);
    EXPECT_TRUE(host.dialogs.Boxes.empty());
    EXPECT_EQ(host.events.HandlerCount(), 1u); // the programmer's handler is gone
    EXPECT_EQ(pty.Baud(), 4800u);              // the session's line is back
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back(), (std::pair<int, std::intptr_t>{1, 0}));
}

TEST_F(BslTransfer, Loader160MovesTheTransferTo38400UnlessTheJobKeepsTheBaudRate) {
    {
        FakeRomLoader loader(pty, Opt([](FakeRomLoader::Options& o) { o.versionMinor = 0x60; }));
        ASSERT_TRUE(Run(FirmwareSections()));
        ExpectFlashHolds(loader, FirmwareSections());
        EXPECT_EQ(loader.Count(CmdChangeBaud), 1);
        bool switched = false;
        for (const FakeRomLoader::Seen& seen : loader.Frames()) {
            EXPECT_EQ(seen.baud, switched ? 38400u : 9600u) << int(seen.command);
            switched = switched || seen.command == CmdChangeBaud;
        }
        EXPECT_NE(std::find(host.baudTexts.begin(), host.baudTexts.end(), "38400"),
                  host.baudTexts.end());
    }
    job.KeepBaud[0] = 1;
    FakeRomLoader loader(pty, Opt([](FakeRomLoader::Options& o) { o.versionMinor = 0x60; }));
    ASSERT_TRUE(Run(FirmwareSections()));
    EXPECT_EQ(loader.Count(CmdChangeBaud), 0);
}

TEST_F(BslTransfer, DataAboveFFFFGoesWithMemoryOffsetAndTheVectorsLast) {
    std::vector<Section> sections = {{0x1000, Counting(16)},
                                     {0xE000, Counting(64)},
                                     {0xFFE0, Vectors()},
                                     {0x10000, Counting(300, 3)}};
    FakeRomLoader loader(pty, Opt([](FakeRomLoader::Options& o) { o.chipId = 0xF26F; }));
    settings.QueryFirst = true;
    ASSERT_TRUE(Run(sections)) << errorStep << " " << Trace(loader);
    ExpectFlashHolds(loader, sections);
    EXPECT_GE(loader.Count(CmdSetOffset), 2);
    // The vector record is the last one written.
    const auto frames = loader.Frames();
    auto lastWrite = std::find_if(frames.rbegin(), frames.rend(), [](const FakeRomLoader::Seen& s) {
        return s.command == CmdWrite;
    });
    ASSERT_NE(lastWrite, frames.rend());
    auto offsetBefore = std::find_if(lastWrite, frames.rend(), [](const FakeRomLoader::Seen& s) {
        return s.command == CmdSetOffset;
    });
    EXPECT_NE(offsetBefore, frames.rend()); // offset 0 again before the vectors
}

TEST_F(BslTransfer, AStepRefusedFourTimesEndsWithTheBootloaderErrorBox) {
    FakeRomLoader loader(pty, Opt([](FakeRomLoader::Options& o) { o.refuse = {CmdWrite}; }));
    EXPECT_FALSE(Run(FirmwareSections()));
    EXPECT_EQ(loader.Count(CmdWrite), 4);
    EXPECT_EQ(loader.Count(CmdRead), 0);
    EXPECT_EQ(loader.Count(CmdLoadPc), 0);
    EXPECT_EQ(errorStep, 8);
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text.rfind("Fehler im Bootloader", 0), 0u);
    EXPECT_EQ(host.dialogs.Boxes[0].Caption, "Error");
    EXPECT_EQ(host.dialogs.Boxes[0].Flags & platform::MB_ICONERROR, platform::MB_ICONERROR);
}

TEST_F(BslTransfer, EscapeBeforeTheLoaderReportsTheLoaderAsNotAvailable) {
    FakeRomLoader loader(pty, {});
    host.onLog = [this](const std::string& text) {
        if (text == "A.1000\r\n") {
            host.events.PostKey(protocol::event::KeyEscape);
        }
    };
    EXPECT_FALSE(Run(FirmwareSections()));
    EXPECT_EQ(errorStep, 0);
    EXPECT_TRUE(loader.Frames().empty());
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text.rfind("Bootloader im Zielger", 0), 0u);
}

TEST_F(BslTransfer, AVerifyDifferenceFailsAtOnceAndNeverStartsTheFirmware) {
    FakeRomLoader loader(pty, Opt([](FakeRomLoader::Options& o) { o.corruptRead = true; }));
    EXPECT_FALSE(Run(FirmwareSections()));
    EXPECT_EQ(loader.Count(CmdRead), 1);
    EXPECT_EQ(loader.Count(CmdLoadPc), 0);
    EXPECT_EQ(errorStep, 9);
    ASSERT_EQ(host.dialogs.Boxes.size(), 1u);
    EXPECT_EQ(host.dialogs.Boxes[0].Text.rfind("Fehler im Bootloader", 0), 0u);
}

TEST_F(BslTransfer, AFileThatCannotBeUsedFailsBeforeAnythingIsSent) {
    FakeRomLoader loader(pty, {});
    EXPECT_FALSE(RunFile(folder.File("missing.txt")));
    folder.Write("BAD.TXT", "@E000\r\n12 3G\r\nq\r\n");
    host.language = 1;
    EXPECT_FALSE(RunFile(folder.File("BAD.TXT")));

    serialtest::Pump(100);
    EXPECT_EQ(loader.BytesReceived(), 0u);
    EXPECT_EQ(host.events.HandlerCount(), 1u);
    ASSERT_EQ(host.dialogs.Boxes.size(), 2u);
    EXPECT_NE(host.dialogs.Boxes[0].Text.find("missing.txt"), std::string::npos);
    EXPECT_EQ(host.dialogs.Boxes[0].Caption, "Fehler");
    EXPECT_NE(host.dialogs.Boxes[1].Text.find("BAD.TXT"), std::string::npos);
    EXPECT_NE(host.dialogs.Boxes[1].Text.find("line 2"), std::string::npos);
    EXPECT_EQ(host.dialogs.Boxes[1].Caption, "Error");
}

TEST_F(BslTransfer, MissingSettingsFileIsNamedInTheLogAndTheBuiltInVectorIsUsed) {
    // No password query: the default reset vector goes into the password.
    settings.QueryFirst = false;
    {
        FakeRomLoader loader(pty, Opt([](FakeRomLoader::Options& o) { o.password = 0x1100; }));
        ASSERT_TRUE(Run(FirmwareSections())) << errorStep << " " << Trace(loader);
        EXPECT_NE(std::find_if(host.logLines.begin(), host.logLines.end(),
                               [](const std::string& line) {
                                   return line.find("Bsl430.ini not found") != std::string::npos;
                               }),
                  host.logLines.end());
    }
    folder.Write("Bsl430.ini", "ResetVector1=0x4400\r\n");
    FakeRomLoader configured(pty, Opt([](FakeRomLoader::Options& o) { o.password = 0x4400; }));
    EXPECT_TRUE(Run(FirmwareSections()));
}

} // namespace
} // namespace bsltest
