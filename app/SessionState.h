#pragma once

#include "app/ReplyParser.h"
#include "programmers/ProgrammingJob.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace app {

// The state of one update session; Start resets what it says, the rest
// lives across sessions.
struct TSessionState {
    std::int32_t AckStep = 0;
    std::int32_t QueryStep = 0;
    int ReplyTimer = 0;
    std::int32_t ProbeState = 0;
    std::int32_t ScanIndex = -1;
    std::int32_t SearchFailures = 0; // across sessions
    bool Done = false;
    bool LineErrorSeen = false;
    bool ForceUpdate = false;
    bool SensorNotice = false;
    bool ToolStepDone = false; // across sessions
    bool BootAnswer = false;
    char AnswerChar = 0;
    std::int32_t CalibState = -1;
    std::int32_t ProgVariant = 0; // keeps its value across sessions
    std::string StartCmd = "A.1200\r\n";
    int CurrentBaud = 1;
    bool BootInfoShown = false; // the bootloader information box, once per search failure
    bool Class2Mark = false;
    std::uint8_t SensorQuestionMark = 1;
    bool VersionUnreadable = false;
    std::string BootAnswerText; // the name an instrument gave in its bootloader frame
    // Device-entry values CheckDevice keeps for the later steps.
    std::string ProgFile1, ProgFile3;
    std::string SWKenn1, SWKenn2, SWKenn3, BootLoadKenn;
    std::array<std::uint32_t, 3> FlashErase{};
    std::string ProgDefFile;
    std::int32_t StartupProgramIndex = -1;
    bool Running = false;         // from the start to one of the session's ends
    bool AwaitingRestart = false; // programmed; waiting for the new firmware to report
};

// Reply data kept alive until the event that carries it has been handled: a
// ring larger than the number of replies the receive buffer can hold, so
// that no pending event's text is overwritten.
struct TReplyStore {
    static constexpr std::size_t Slots = 512;
    std::array<std::string, Slots> Texts;
    std::array<float, Slots> Values{};
    std::size_t Next = 0;
    const char* KeepText(std::string text) {
        std::size_t slot = Next++ % Slots;
        Texts[slot] = std::move(text);
        return Texts[slot].c_str();
    }
    const float* KeepValue(float value) {
        std::size_t slot = Next++ % Slots;
        Values[slot] = value;
        return &Values[slot];
    }
};

} // namespace app
