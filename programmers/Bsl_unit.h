#pragma once

#include "programmers/Bsl430Config.h"
#include "programmers/ProgrammerRegistry.h"
#include "programmers/Programmerunit.h"
#include "programmers/TiTxtReader.h"
#include "programmers/TiTxtRecords.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace programmers {

// A frame as the ROM loader sends it: 0x80, a byte, L1, L2, L1 bytes, CKL, CKH.
struct TBslFrame {
    static constexpr std::size_t MaxSize = 4 + 255 + 2;
    std::array<std::uint8_t, MaxSize> Bytes{};
    std::size_t Size = 0;
    std::size_t DataCount() const { return Size >= 6 ? Size - 6 : 0; }
    const std::uint8_t* Data() const { return Bytes.data() + 4; }
};

// The inverted XOR of the 16-bit words (even byte low) over count bytes.
std::uint16_t BslChecksum(const std::uint8_t* bytes, std::size_t count);

// Programs MSP430 chips of the older families through their ROM bootstrap
// loader: device dialogue for the password and the loader entry, then
// erase, write, read back and start.
class T_BSL430 : public TProgrammerTyp {
public:
    T_BSL430(const TProgrammerContext& context, const TBslSettings& settings);

    virtual void ShowError();
    // Blocks until the transfer has ended; false on failure or abort.
    bool Program(const std::string& fileName) override;
    virtual bool SendText(const char* text);
    virtual std::int32_t ErrorStep() const { return LastErrorStep; }

    // What the loader reported, for the log and the tests.
    std::int32_t BslVersion() const { return BslVersion_; }
    const std::string& BslVersionText() const { return BslVersionText_; }
    std::uint32_t ChipId() const { return ChipId_; }
    std::uint32_t ResetVector() const { return ResetVector_; }

protected:
    using Step = void (T_BSL430::*)();
    using FrameStep = void (T_BSL430::*)(const TBslFrame&);

    // Shared with the 5xx/6xx programmer: the device dialogue's commands,
    // the settings file and the file error box.
    static const char* PasswordQuery(std::int32_t variant);
    static const char* LoaderEntry(std::int32_t variant);
    void LoadConfig();
    // Reads a firmware or patch file; on failure shows the file error box.
    bool ReadFileText(const std::string& path, std::string& content);
    void ShowFileError(const std::string& path, const std::string& reason);

    // TProgrammerTyp
    void Abort() override;
    bool OnCharsReceived(std::intptr_t port) override;
    bool TakesReply(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override;

    const TBslSettings Settings;
    std::uint8_t InLoader = 0;
    std::uint8_t PasswordKnown = 0;
    std::uint8_t QueryFirst = 0;
    std::int32_t Variant = 0;
    std::int32_t CurrentStep = 0;
    std::int32_t LastErrorStep = 0;
    std::int32_t ProgressTotal = 0;
    std::uint32_t ResetVector_ = 0;
    TBsl430Config Config;
    bool FileErrorShown = false;

private:
    bool LoadImage(const std::string& path);
    bool LoadPatch();
    bool HasHighRecords() const { return FirstHighRecord >= 0; }
    std::uint16_t DefaultVectorForLoaderMode() const;
    std::uint16_t DefaultVectorForDialogue() const;

    // Device dialogue.
    void OnAcknowledge();
    void OnPassword(std::intptr_t data);
    void AcceptPassword();
    void EnterLoader(int mode);

    // Loader frames.
    void SendSync();
    void SendFrame(std::uint8_t command, const std::array<std::uint8_t, 4>& head,
                   const std::uint8_t* data = nullptr, std::size_t count = 0);
    void SendWrite(const TTiTxtRecord& record);
    void SendRead(const TTiTxtRecord& record);
    void SendLoadPc(std::uint8_t low, std::uint8_t high);
    void SendPassword();
    void Arm(std::int32_t step, Step onAck, FrameStep onFrame, Step onRetry);
    void ParseReceived();
    void RunRetry();

    // The conversation; each step sends one thing and arms its continuations.
    void Sync(Step next);
    void DetourSync(Step next);
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
    bool SameData(const TTiTxtRecord& record, const TBslFrame& frame, const char* what);

    std::uint8_t TopErased = 0;
    std::uint8_t PatchLoaded = 0;
    std::uint8_t VersionKnown = 0;
    std::uint8_t PasswordAccepted = 0;
    std::uint8_t OffsetWanted = 0;
    std::uint8_t OffsetActive = 0;
    bool AckBusy = false; // the acknowledge handler is waiting; a second one is dropped
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

    static constexpr std::size_t ReceiveCapacity = 2048;
    std::array<std::uint8_t, ReceiveCapacity> Received{};
    std::size_t ReceivedCount = 0;

    Step OnAck = nullptr;
    FrameStep OnFrame = nullptr;
    Step OnRetry = nullptr;
    Step DetourNext = nullptr; // where the patch detour goes on
    Step OffsetNext = nullptr; // where a memory-offset change goes on
    TRetryHistory<Step, 3> RetryHistory;
};

} // namespace programmers
