#pragma once

#include "programmers/BslDialogue.h"
#include "programmers/BslFrame.h"
#include "programmers/TiTxtReader.h"
#include "programmers/TiTxtRecords.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace programmers {

namespace bsl430 {
// Error steps; the message box tells step 0 (StepNotAvailable) from all others.
inline constexpr std::int32_t StepSync = 1;
inline constexpr std::int32_t StepVersion = 2;
inline constexpr std::int32_t StepBaud = 3;
inline constexpr std::int32_t StepPassword = 4;
inline constexpr std::int32_t StepEraseMain = 5;
inline constexpr std::int32_t StepEraseTop = 6;
inline constexpr std::int32_t StepWrite = 8;
inline constexpr std::int32_t StepVerify = 9;
inline constexpr std::int32_t StepStart = 10;
inline constexpr std::int32_t StepPatchPrepare = 11;
inline constexpr std::int32_t StepPatchRun = 12;
inline constexpr std::int32_t StepPatchWrite = 13;
inline constexpr std::int32_t StepPatchVerify = 14;
inline constexpr std::int32_t StepOffset = 15;
inline constexpr std::int32_t StepLast = 16;

// Loader versions as numbers (text times 1000.01).
inline constexpr std::int32_t VersionNeedsPatch = 1100; // 1.10 erases only after the patch
inline constexpr std::int32_t VersionFastBaud = 1600;   // 1.60 on can change to 38400

// Progress: the fixed part of the maximum and the patch's share.
inline constexpr std::int32_t ProgressFixed = 8;
inline constexpr std::int32_t ProgressPatch = 258;

inline constexpr const char* PatchFileName = "Patch.TXT";
} // namespace bsl430

// Programs MSP430 chips of the older families through their ROM bootstrap
// loader: device dialogue for the password and the loader entry, then
// erase, write, read back and start.
class T_BSL430 : public TBslDeviceDialogue {
public:
    T_BSL430(const TProgrammerContext& context, const TBslSettings& settings);

    TProgrammerResult Program(const std::string& fileName) override;
    void ShowError() override;

    // What the loader reported, for the log and the tests.
    std::int32_t BslVersion() const { return BslVersion_; }
    const std::string& BslVersionText() const { return BslVersionText_; }
    std::uint32_t ChipId() const { return ChipId_; }
    std::uint32_t ResetVector() const { return ResetVector_; }
    // Where the firmware is started: the image's reset vector.
    std::uint16_t StartAddress() const { return StartAddress_; }

protected:
    using Step = void (T_BSL430::*)();
    using FrameStep = void (T_BSL430::*)(const TBslFrame&);

    // TBslDeviceDialogue
    void UseDefaultPassword() override;
    void TakePasswordReply(const char* text) override;
    void StorePassword() override;
    void EnterLoaderFromDialogue() override;

    // TProgrammerTyp
    bool OnCharsReceived(std::intptr_t port) override;
    void OnWatchdog() override;

    // The same step for the next record, or done from the first record
    // again after the last one.
    template <class AnyStep>
    static AnyStep Advance(std::int32_t& index, std::int32_t last, AnyStep again, AnyStep done) {
        if (index < last) {
            ++index;
            return again;
        }
        index = 0;
        return done;
    }
    // The end of the run: the line restored (or set to 9600 8N2 after a
    // success when the job asks for it), the end wait, the box on failure.
    TProgrammerResult CloseRun(long endWaitMs, bool restoreAnyway);
    // The loader's receive buffer and what takes the replies out of it.
    virtual TReplyBuffer& ReceiveBuffer() { return Replies; }
    virtual void HandleReplies();

    std::int32_t ProgressTotal = 0;
    std::uint32_t ResetVector_ = 0;
    std::uint16_t StartAddress_ = 0;

private:
    bool LoadImage(const std::string& name);
    bool HasHighRecords() const { return FirstHighRecord >= 0; }
    // The image's records below 64 KB, in front of the high ones.
    std::span<const TTiTxtRecord> LowRecords() const;
    // The image's lowest byte in main flash below 64 KB.
    std::int32_t LowestMainAddress() const;
    std::int32_t HighestHighSegment() const;
    // The image has data below address (among the records below 64 KB).
    bool WritesBelow(std::int32_t address) const;
    std::uint16_t DefaultVectorForLoaderMode() const;
    std::uint16_t DefaultVectorForDialogue() const;
    void EnterLoader(bool syncFirst);

    // Loader frames; each ends the run when the line fails.
    void SendSync();
    void SendFrame(std::uint8_t command, const std::array<std::uint8_t, 4>& head,
                   const std::uint8_t* data = nullptr, std::size_t count = 0);
    void SendWrite(const TTiTxtRecord& record);
    void SendRead(const TTiTxtRecord& record);
    void SendLoadPc(std::uint16_t address);
    void SendPassword();
    void Arm(std::int32_t step, Step onAck, FrameStep onFrame, Step onRetry);
    void RunRetry();

    // The conversation; each step sends one thing and arms its continuations.
    void Sync(Step next);
    void StepVersion();
    void StepVersionFallback();
    void VersionReply(const TBslFrame& frame);
    void LoadChipImage();
    void StepPassword();
    void AfterPassword();
    void PrepareErase();
    void StepBaud();
    void BaudSwitch();
    void SetOffset(std::uint8_t wanted, Step next);
    void StepOffset();
    void OffsetDone();
    void StepErase();
    void EraseNext();
    void EraseTop();
    void AfterTopErase();
    // The record walk of program and verify; false when it sent something
    // of its own (offset change, top erase) or moved on.
    bool WalkRecord(Step again, bool programming);

    void StepProgram();
    void ProgramNext();
    void StepVerify();
    void VerifyCompare(const TBslFrame& frame);
    void VerifyNext();
    void StepStart();
    void StepFinish();
    bool SameRecord(const TTiTxtRecord& record, const TBslFrame& frame, const char* what);

    // The patch that loader 1.10 needs in RAM before it erases
    // (Bsl430Patch.cpp).
    bool LoadPatch();
    void DetourSync(Step next);
    void PatchPrepare();
    void PatchToPassword();
    void PatchPassword();
    void PatchWriteStart();
    void PatchWrite();
    void PatchWriteNext();
    void PatchVerify();
    void PatchVerifyCompare(const TBslFrame& frame);
    void PatchVerifyNext();
    void DetourRun();
    void DetourDone();

    std::uint8_t TopErased = 0;
    std::uint8_t PatchLoaded = 0;
    std::uint8_t VersionKnown = 0;
    std::uint8_t PasswordAccepted = 0;
    std::uint8_t OffsetWanted = 0;
    std::uint8_t OffsetActive = 0;
    bool Nudging = false; // time-out nudge under way: its acknowledges answer nothing
    std::int32_t EraseAddr = 0;
    std::int32_t BslVersion_ = 0;
    std::string BslVersionText_;
    std::uint32_t ChipId_ = 0;
    std::int32_t RecordIndex = 0;
    std::int32_t LastRecord = -1;
    std::int32_t PatchIndex = 0;
    std::int32_t LastPatch = -1;
    std::int32_t FirstHighRecord = -1;

    std::unique_ptr<TTiTxtTable> Image;
    std::unique_ptr<TTiTxtPatchTable> Patch;
    TBslReplyParser Replies;

    Step OnAck = nullptr;
    FrameStep OnFrame = nullptr;
    Step OnRetry = nullptr;
    Step DetourNext = nullptr; // where the patch detour goes on
    Step OffsetNext = nullptr; // where a memory-offset change goes on
    TRetryHistory<Step, 3> RetryHistory;
};

} // namespace programmers
