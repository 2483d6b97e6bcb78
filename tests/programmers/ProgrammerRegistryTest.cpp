#include "programmers/ProgrammerRegistry.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using programmers::Method;
using programmers::Phase;
using programmers::TBslSettings;
using programmers::TSessionKey;

struct Case {
    const char* What;
    TSessionKey Key;
    Method Expected;
};

constexpr std::uint32_t Chip5xx = 0x5438;

TEST(ProgrammerRegistry, EachStepGetsTheMethodItsSessionNeeds) {
    const Case cases[] = {
        {"a .TXT file on an MSP430",
         {.Step = Phase::Firmware, .FileClass = 1, .ProzTyp = 0xF149},
         Method::Bsl430},
        {"a .TXT file on a 5xx chip",
         {.Step = Phase::Firmware, .FileClass = 1, .ProzTyp = Chip5xx},
         Method::Bsl5xx},
        {"the retry in the 5xx loader",
         {.Step = Phase::FirmwareInLoader, .FileClass = 1, .ProzTyp = Chip5xx},
         Method::Bsl5xx},
        {"the boot file of a 5xx instrument",
         {.Step = Phase::BootFile, .ProzTyp = Chip5xx},
         Method::Bsl430},
        {"a block transfer", {.Step = Phase::Firmware, .FileClass = 2}, Method::BlockTransfer},
        {"class 4, variant 2",
         {.Step = Phase::Firmware, .FileClass = 4, .ProgVariant = 2},
         Method::DeviceLoader},
        {"class 4, variant 1",
         {.Step = Phase::Firmware, .FileClass = 4, .ProgVariant = 1},
         Method::Xmodem},
        {"the terminal", {.Step = Phase::Terminal, .FileClass = 0}, Method::BasicLoader},
        {"the lab files", {.Step = Phase::LabFiles, .FileClass = 1}, Method::LabTransfer},
        {"a lab recovery on an old chip",
         {.Step = Phase::LabRecovery, .ProzTyp = 0xF149},
         Method::Bsl430},
        {"a lab recovery the entry names 5xx",
         {.Step = Phase::LabRecovery, .ProzTyp = Chip5xx},
         Method::Bsl5xx},
        {"a lab recovery whose loader answered Q",
         {.Step = Phase::LabRecovery, .ProzTyp = 0xF149, .LoaderAnswer = 'Q'},
         Method::Bsl5xx},
        {"a .HEX file's tool", {.Step = Phase::Tool, .FileClass = 1}, Method::HexLoader},
        {"an .EXE file's tool", {.Step = Phase::Tool, .FileClass = 2}, Method::Pic32Loader},
        {"a meter's recovery tool",
         {.Step = Phase::MeterRecovery, .FileClass = 3},
         Method::Pic32Loader},
    };
    for (const Case& c : cases) {
        const programmers::TChoice choice = programmers::Choose(c.Key);
        ASSERT_TRUE(choice) << c.What;
        EXPECT_EQ(choice.Entry->Id, c.Expected) << c.What << ": " << choice.Entry->Name;
    }
    // The loader's answer counts in a recovery only: a firmware session
    // knows its chip from the entry.
    EXPECT_EQ(programmers::Choose({.Step = Phase::Firmware, .FileClass = 1, .LoaderAnswer = 'Q'})
                  .Entry->Id,
              Method::Bsl430);
}

TEST(ProgrammerRegistry, StepsNoMethodServesGetNoChoice) {
    EXPECT_FALSE(programmers::Choose({.Step = Phase::Firmware, .FileClass = 0}));
    EXPECT_FALSE(programmers::Choose({.Step = Phase::Firmware, .FileClass = 3}));
    EXPECT_FALSE(programmers::Choose({.Step = Phase::Tool, .FileClass = 4}));
    EXPECT_FALSE(programmers::Choose({.Step = Phase::MeterRecovery, .FileClass = 5}));
}

TBslSettings BslOf(const TSessionKey& key) {
    const programmers::TChoice choice = programmers::Choose(key);
    const TBslSettings* settings = std::get_if<TBslSettings>(&choice.Settings);
    return settings != nullptr ? *settings
                               : TBslSettings{.LoaderMode = true,
                                              .SyncFirst = false,
                                              .QueryFirst = true,
                                              .Set9600After = true};
}

TEST(ProgrammerRegistry, TheLoaderRowsBuildTheSettingsOfTheirStep) {
    // The firmware is asked for the password only where it runs and has one.
    TBslSettings firmware = BslOf(
        {.Step = Phase::Firmware, .FileClass = 1, .StartMode = 2, .SensorQuestionMark = true});
    EXPECT_FALSE(firmware.LoaderMode);
    EXPECT_TRUE(firmware.SyncFirst);
    EXPECT_TRUE(firmware.QueryFirst);
    EXPECT_TRUE(firmware.Set9600After);
    TBslSettings retry =
        BslOf({.Step = Phase::FirmwareInLoader, .FileClass = 1, .SensorQuestionMark = true});
    EXPECT_TRUE(retry.LoaderMode);
    EXPECT_TRUE(retry.SyncFirst);
    EXPECT_FALSE(retry.QueryFirst);
    EXPECT_FALSE(retry.Set9600After);
    // A recovery finds the loader waiting and synchronises on its own.
    TBslSettings recovery = BslOf({.Step = Phase::LabRecovery, .SensorQuestionMark = true});
    EXPECT_TRUE(recovery.LoaderMode);
    EXPECT_FALSE(recovery.SyncFirst);
    EXPECT_FALSE(recovery.QueryFirst);
    // The boot file: asked after a block transfer, or when a sensor answered.
    EXPECT_TRUE(BslOf({.Step = Phase::BootFile, .SensorAbsent = false}).QueryFirst);
    EXPECT_FALSE(BslOf({.Step = Phase::BootFile, .SensorAbsent = true}).QueryFirst);
    EXPECT_TRUE(
        BslOf({.Step = Phase::BootFile, .Class2Mark = true, .SensorAbsent = true}).QueryFirst);

    const programmers::TChoice xmodem = programmers::Choose(
        {.Step = Phase::Firmware, .FileClass = 4, .StartMode = 2, .ProgVariant = 1});
    const auto* settings = std::get_if<programmers::TXmodemSettings>(&xmodem.Settings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->Mode, 1);
    EXPECT_EQ(settings->DeviceFamily, 2);
    EXPECT_EQ(settings->Baud, serial::B115200);
}

bool ServesClassFour(const TSessionKey& key) {
    return key.FileClass == 4;
}

TEST(ProgrammerRegistry, AnAddedRowGoesFirstForWhatItServesAndNoFurther) {
    const programmers::TMethodEntry added[] = {
        {Method::Added, "Mine", "my loader", &ServesClassFour, nullptr, nullptr}};
    EXPECT_STREQ(programmers::Choose({.Step = Phase::Firmware, .FileClass = 4}, added).Entry->Name,
                 "Mine");
    EXPECT_EQ(programmers::Choose({.Step = Phase::Firmware, .FileClass = 2}, added).Entry->Id,
              Method::BlockTransfer);
}

TEST(ProgrammerRegistry, EveryBuiltInMethodHasOneRow) {
    for (const programmers::TMethodEntry& entry : programmers::Methods()) {
        EXPECT_EQ(&programmers::MethodEntry(entry.Id), &entry) << entry.Name;
        EXPECT_NE(std::string(entry.Description), "");
        EXPECT_NE(entry.Serves, nullptr) << entry.Name;
    }
}

} // namespace
