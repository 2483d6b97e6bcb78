#include "Harness.h"
#include "programmers/PaddedImage.h"
#include "tests/support/TiTxtImage.h"
#include "tests/support/XmodemCrc.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>

namespace {

using testing_support::TempFolder;

// A class-4 instrument with the character-command bootloader; its firmware
// acknowledges in the "A." form, as every instrument does. restart is what
// the new firmware says when it starts.
std::string BootloaderProfile(const std::string& loaderLines,
                              const std::string& restart = "@1000:I.30#") {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
           "version=1.23\nserial=12345678\nloader=xmodem\n"
           "flash_start=0\nflash_size=0x10000\non.restart=" +
           restart + "\n" + loaderLines;
}

// 3000 bytes with the version marker the device entry names.
std::vector<std::uint8_t> FirmwareBytes() {
    std::vector<std::uint8_t> bytes = titxt_test::Pattern(3000, 4);
    const std::string marker = "VER:2.00";
    std::copy(marker.begin(), marker.end(), bytes.begin() + 40);
    bytes[40 + marker.size()] = 0;
    return bytes;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class XmodemUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        e2e::LayOutProgramFolder(folder, e2e::AutoStartDebugIni);
        // A binary file carries its marker as text.
        ASSERT_EQ(
            e2e::EditDeviceIni(folder, {{"ProgFile2=DM10_V200.TXT", "ProgFile2=DM10_V200.BIN"},
                                        {"SWKenn2=56 45 52 3A", "SWKenn2=VER:"}}),
            "");
        const std::vector<std::uint8_t> bytes = FirmwareBytes();
        e2e::ReplaceFirmware(folder, "DM10_V200.BIN", std::string(bytes.begin(), bytes.end()));
    }
    void Update(const std::string& profile, const std::vector<std::string>& options = {}) {
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        run = e2e::RunUpdate(folder, UPDATE_CONSOLE, options);
        instrument.Stop();
        flash = titxt_test::MemoryOf(instrument.Flash());
        transcript = instrument.Transcript();
    }
    // The file, 0xFF up to six bytes short of whole 128-byte blocks (at
    // least one), the padded length and the CRC over it, from address 0.
    static titxt_test::Memory ExpectedImage() {
        std::vector<std::uint8_t> image = FirmwareBytes();
        do {
            image.push_back(0xFF);
        } while ((image.size() + 6) % 128 != 0);
        const std::uint32_t length = static_cast<std::uint32_t>(image.size());
        const std::uint16_t crc = testing_support::XmodemCrc(image);
        for (int shift = 0; shift < 32; shift += 8) {
            image.push_back(static_cast<std::uint8_t>(length >> shift));
        }
        image.push_back(static_cast<std::uint8_t>(crc));
        image.push_back(static_cast<std::uint8_t>(crc >> 8));
        return titxt_test::MemoryOf({{0, image}});
    }
    void ExpectTheImageStored() {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 0) << run.Out;
        EXPECT_TRUE(run.OutHas("Download erfolgreich ausgef\xC3\xBChrt !"));
        EXPECT_EQ(flash, ExpectedImage());
    }
    void ExpectAFailureWithoutRestart(const std::string& cause) {
        ASSERT_FALSE(run.TimedOut);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_FALSE(run.OutHas("Download erfolgreich"));
        EXPECT_TRUE(run.OutHas(cause)) << run.Out;
        EXPECT_EQ(transcript.find("restart into the new firmware"), std::string::npos);
    }
    // A failed transfer, then the operator's OK: the retry repeats the
    // class-4 step with the same job. Ends after the retry's outcome.
    void FailAndRetry(const std::string& profile) {
        folder.Write("prog/Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
        e2e::Instrument instrument(folder, profile, folder.File("ports/COM1"));
        {
            e2e::ConsoleSession session(folder,
                                        {UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                         folder.File("ports"), "--time-divisor", "10", "--start"});
            if (session.Started() && session.WaitForOutput("[Error]") && session.Type("ok")) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                while (!session.WaitForOutput("Download erfolgreich", std::chrono::seconds(0)) &&
                       Count(session.Out(), "[Error]") < 2 &&
                       std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
            }
            run = session.Finish();
        }
        instrument.Stop();
        flash = titxt_test::MemoryOf(instrument.Flash());
        transcript = instrument.Transcript();
    }

    TempFolder folder;
    e2e::Run run;
    titxt_test::Memory flash;
    std::string transcript;
};

TEST_F(XmodemUpdate, Bootloader105StoresTheImageWithoutUnlockLines) {
    Update(BootloaderProfile("loader.version=1.05\n"));
    ExpectTheImageStored();
    const std::string received = e2e::ReceivedText(transcript);
    // The wake's acknowledge "A.1000!" is an "A." reply as well: only the
    // entry's reply starts the bootloader, once.
    EXPECT_EQ(Count(received, "A.1250#"), 1u) << transcript;
    EXPECT_EQ(Count(received, "A.2051"), 1u) << transcript;
    EXPECT_NE(transcript.find("bootloader at 115200 baud"), std::string::npos);
    EXPECT_EQ(Count(transcript, "5831\\r\\n\\x00"), 0u);
}

TEST_F(XmodemUpdate, ASuccessIsOnlyReportedWithTheNewFirmwareRunning) {
    e2e::ExpectSuccessOnlyWithTheNewFirmwareRunning(
        [&](const std::string& restart, const std::string& extra) {
            Update(BootloaderProfile("loader.version=1.06\n" + extra, restart));
            return std::pair{run, transcript};
        });
}

TEST_F(XmodemUpdate, Bootloader106UnlocksEveryCommandAndSurvivesANakedPacket) {
    Update(BootloaderProfile("loader.version=1.06,rev B\nloader.fault.nak=3\n"));
    ExpectTheImageStored();
    EXPECT_EQ(Count(transcript, "5831\\r\\n\\x00"), 3u) << "after u, c and r";
    EXPECT_NE(transcript.find("packet 4 block 3\n"), std::string::npos) << "block 3 again";
}

TEST_F(XmodemUpdate, NakAndCStormsEndTheUploadWithThePacketNamed) {
    // From byte 200 on (in packet 2) every packet is refused.
    Update(BootloaderProfile(
        "loader.version=1.05\nline.fault=refuse\nline.fault.at=200\nline.fault.count=1000\n"));
    ExpectAFailureWithoutRestart("immer wieder ab (NAK), Paket 2");
    EXPECT_EQ(Count(transcript, ": fault: NAK"), 10u) << "ten refusals of one packet";
    EXPECT_NE(transcript.find("upload cancelled by the sender"), std::string::npos);

    // Until packet 1 is acknowledged a 'C' asks for it again.
    Update(BootloaderProfile("loader.version=1.05\nloader.fault.c_from=1\n"));
    ExpectAFailureWithoutRestart("neuen Anfang ('C'), Paket 1");
    EXPECT_LE(Count(transcript, ": fault: C"), 10u);
    EXPECT_NE(transcript.find("upload cancelled by the sender"), std::string::npos);

    // After that only NAK does: packet 2 is not sent again on a 'C', and the
    // receiver that asks for a new start leaves the upload stalled.
    Update(BootloaderProfile("loader.version=1.05\nloader.fault.c_from=2\n"));
    ExpectAFailureWithoutRestart("ohne Fortschritt, Paket 2");
    EXPECT_EQ(Count(transcript, " block 2"), 1u) << transcript;
    EXPECT_NE(transcript.find("upload cancelled by the sender"), std::string::npos);
}

// The instrument's flash holds 16 packets: at the 17th its receiver cancels
// (CAN CAN). The upload ends there, named as the receiver's cancel, not at
// the watchdog's stall.
TEST_F(XmodemUpdate, AReceiverThatCancelsEndsTheUploadAtOnceWithTheCancelNamed) {
    std::string profile = BootloaderProfile("loader.version=1.05\n");
    e2e::Replace(profile, "flash_size=0x10000", "flash_size=0x800");
    Update(profile, {"--report", folder.File("report.json")});
    ExpectAFailureWithoutRestart("[Error] XMODEM: Der Empf\xC3\xA4nger hat die \xC3\x9C"
                                 "bertragung abgebrochen (CAN), Paket 17");
    EXPECT_FALSE(run.OutHas("ohne Fortschritt")) << run.Out;
    EXPECT_NE(transcript.find("upload cancelled"), std::string::npos) << transcript;
    const auto report = nlohmann::json::parse(e2e::ReadFile(folder.File("report.json")));
    EXPECT_EQ(report["failure"]["cause"], "XMODEM: the receiver cancelled at packet 17")
        << report.dump(2);
}

TEST_F(XmodemUpdate, SilentBootloaderFailsWithThePacketNamed) {
    Update(BootloaderProfile("loader.version=1.05\nloader.fault.silent=5\n"));
    ExpectAFailureWithoutRestart("10 s ohne Fortschritt, Paket 5");
}

TEST_F(XmodemUpdate, AFailedUploadFollowedByOkSucceedsOnTheRetry) {
    // Ten refusals of packet 2 end the first upload; the retry finds the
    // bootloader waiting and uploads again.
    FailAndRetry(BootloaderProfile(
        "loader.version=1.06\nline.fault=refuse\nline.fault.at=200\nline.fault.count=10\n"));
    ExpectTheImageStored();
    const std::string received = e2e::ReceivedText(transcript);
    EXPECT_EQ(Count(received, "A.1250#"), 1u) << "no second entry: " << transcript;
    EXPECT_EQ(Count(transcript, "upload: XMODEM-CRC"), 2u);
}

TEST_F(XmodemUpdate, WrongChecksumReportFailsWithoutRestartAndSoDoesTheRetry) {
    Update(BootloaderProfile("loader.version=1.05\nloader.fault.checksum=wrong\n"));
    ExpectAFailureWithoutRestart("Pr\xC3\xBC"
                                 "fsumme des Bootloaders falsch");
    FailAndRetry(BootloaderProfile("loader.version=1.05\nloader.fault.checksum=wrong\n"));
    ExpectAFailureWithoutRestart("Pr\xC3\xBC"
                                 "fsumme des Bootloaders falsch");
    EXPECT_EQ(Count(transcript, "upload: XMODEM-CRC"), 2u) << "the retry reached the bootloader";
}

// At real time, as an operator runs it: against an instrument identified a
// moment before, whose acknowledge of the last exit command may still be on
// the line. Wake "A.1000" (start mode 1), exit "A.1111" (class 4).
TEST_F(XmodemUpdate, TenIdentificationsInARowAtRealTimeThenAnUpdate) {
    ASSERT_EQ(e2e::EditDeviceIni(folder, {{"DevStartCmd=1", "DevStartCmd=2"}}), "");
    e2e::Instrument instrument(folder,
                               "start_mode=1\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                               "device=43110.000\nversion=1.23\nserial=12345678\nloader=xmodem\n"
                               "loader.version=1.06\nflash_start=0\nflash_size=0x10000\n"
                               "on.restart=A.1111!\n",
                               folder.File("ports/COM1"), "1");
    const std::string exitTaken = "exit command 1111 taken by the firmware";
    for (int i = 1; i <= 10; ++i) {
        SCOPED_TRACE("identification " + std::to_string(i));
        const std::size_t exitsBefore = Count(instrument.Transcript(), exitTaken);
        const pid_t pid = e2e::Spawn({UPDATE_CONSOLE, "--dir", folder.File("prog"), "--ports",
                                      folder.File("ports"), "--identify"},
                                     folder.File("out.txt"), folder.File("err.txt"));
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        // The exit command came at the latest when it was first seen, and
        // no earlier than the look before.
        std::optional<std::chrono::steady_clock::time_point> exitSeen;
        auto looked = std::chrono::steady_clock::now();
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < bound) {
            if (!exitSeen && Count(instrument.Transcript(), exitTaken) > exitsBefore) {
                exitSeen = looked;
            }
            looked = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const auto ended = std::chrono::steady_clock::now();
        ASSERT_LT(ended, bound) << "the identification did not end";
        if (!exitSeen && Count(instrument.Transcript(), exitTaken) > exitsBefore) {
            exitSeen = looked;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        const std::string out = e2e::ReadFile(folder.File("out.txt"));
        EXPECT_EQ(Count(out, "identify: device=43110.000"), 1u) << out;
        EXPECT_EQ(Count(out, "identify: firmware=DM10_V200.BIN"), 1u) << out;
        EXPECT_EQ(Count(instrument.Transcript(), exitTaken), exitsBefore + 1) << "one exit command";
        ASSERT_TRUE(exitSeen.has_value());
        EXPECT_LT(ended - *exitSeen, std::chrono::seconds(2));
    }
    const std::size_t dialoguesBefore = Count(instrument.Transcript(), "rx A.1000");
    run = e2e::RunUpdate(folder, UPDATE_CONSOLE, {"--time-divisor", "1"});
    instrument.Stop();
    flash = titxt_test::MemoryOf(instrument.Flash());
    transcript = instrument.Transcript();
    ExpectTheImageStored();
    EXPECT_GT(Count(transcript, "rx A.1000"), dialoguesBefore);
    EXPECT_TRUE(e2e::NewFirmwareTookTheExit(transcript));
}

TEST_F(XmodemUpdate, OversizedFileIsRefusedBeforeTheBootloaderStarts) {
    std::vector<std::uint8_t> bytes = FirmwareBytes();
    bytes.resize(programmers::LargestImageFile() + 1, 0x5A);
    // The version of a binary file is looked for near its end.
    std::copy(bytes.begin() + 40, bytes.begin() + 49, bytes.end() - 100);
    folder.Write("prog/DM10_V200.BIN", std::string(bytes.begin(), bytes.end()));
    Update(BootloaderProfile("loader.version=1.05\n"));
    ASSERT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_TRUE(run.OutHas("DM10_V200.BIN")) << run.Out;
    EXPECT_TRUE(run.OutHas(std::to_string(bytes.size()) + " Bytes")) << run.Out;
    EXPECT_EQ(transcript.find("A.1250"), std::string::npos) << "nothing sent";
}

} // namespace
