#pragma once

#include "programmers/Bsl5xxFrame.h"
#include "programmers/Bsl_unit.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace programmers {

namespace bsl54xx {
// Error steps, as the ROM loader numbers them.
inline constexpr std::int32_t StepVersion = 2;
inline constexpr std::int32_t StepBaud = 3;
inline constexpr std::int32_t StepPassword = 4;
inline constexpr std::int32_t StepErase = 5;
inline constexpr std::int32_t StepEraseTop = 6;
inline constexpr std::int32_t StepWrite = 8;
inline constexpr std::int32_t StepVerify = 9;
inline constexpr std::int32_t StepStart = 10;

// The segments an update erases, in order, each named by an address in it:
// main flash from start down to the image's lowest main segment (the
// highest segment below 64 KB holds the password and is erased only just
// before its records), then main segments the image writes above start,
// then every 128-byte information segment it writes. The loader's own flash
// and anything else the image does not write stay untouched.
std::vector<std::uint32_t> ErasePlan(std::span<const TTiTxtWideRecord> records,
                                     std::uint32_t start);
} // namespace bsl54xx

// Programs MSP430 chips of the 5xx/6xx families through their UART
// bootstrap loader. The device dialogue is the ROM loader's; the password is
// the whole vector table, frames carry a CRC-16 and 24-bit addresses.
class T_BSL_54XX_430 : public T_BSL430 {
public:
    T_BSL_54XX_430(const TProgrammerContext& context, const TBslSettings& settings);

    TProgrammerResult Program(const std::string& fileName) override;
    void ShowError() override;

    const std::array<std::uint32_t, 16>& Vectors() const { return Vectors_; }

protected:
    using Step = void (T_BSL_54XX_430::*)();
    using DataStep = void (T_BSL_54XX_430::*)(const TBsl5xxReply&);

    // TBslDeviceDialogue
    void UseDefaultPassword() override;
    void TakePasswordReply(const char* text) override;
    void StorePassword() override;
    void EnterLoaderFromDialogue() override;
    void OnImagePerChip() override;

    // T_BSL430
    TReplyBuffer& ReceiveBuffer() override { return Replies; }
    void HandleReplies() override;

    // TProgrammerTyp
    void OnWatchdog() override;

private:
    bool LoadImage(const std::string& name);
    void DefaultVectors();
    void EnterLoader();
    void Arm(std::int32_t step, Step onAck, DataStep onData, Step onMessage, Step onRetry);
    void Send(std::uint8_t command, const std::uint8_t* data = nullptr, std::size_t count = 0);
    void SendAddress(std::uint8_t command, std::uint32_t address,
                     const std::uint8_t* data = nullptr, std::size_t count = 0);
    void OnMessage(std::uint8_t code);
    void RunRetry();
    void EndWithMessage(std::uint8_t code);

    // The conversation; no step is preceded by a synchronisation.
    void StepPassword();
    void StepVersion();
    void VersionReply(const TBsl5xxReply& reply);
    void StepChip();
    void ChipReply(const TBsl5xxReply& reply);
    void PrepareErase();
    void StepBaud();
    void BaudSwitch();
    void StepErase();
    void EraseNext();
    void StepProgram();
    void TopErased();
    void ProgramNext();
    void StepVerify();
    void VerifyCompare(const TBsl5xxReply& reply);
    void StepStart();
    void StepFinish();

    std::array<std::uint32_t, 16> Vectors_{};
    std::vector<std::uint32_t> ErasePlan_;
    std::size_t EraseIndex = 0;
    std::uint32_t EraseAddr = 0;
    std::uint32_t HighestAddress = 0;
    std::int32_t RecordIndex = 0;
    std::int32_t LastRecord = -1;
    std::int32_t BslVersion5xx = 0;
    std::uint16_t Chip = 0;
    bool TopSegmentErased = false;
    bool BlankPasswordSent = false;

    std::unique_ptr<TTiTxtWideTable> Image;
    TBsl5xxReplyParser Replies;

    Step OnAck = nullptr;
    DataStep OnData = nullptr;
    Step OnMessageOk = nullptr;
    Step OnRetry = nullptr;
    TRetryHistory<Step, 2> RetryHistory;
};

} // namespace programmers
