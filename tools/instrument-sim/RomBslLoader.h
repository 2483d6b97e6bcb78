#pragma once

#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/RomBslConfig.h"
#include "tools/instrument-sim/RomBslFrame.h"
#include "tools/instrument-sim/RomBslMemory.h"

#include <cstdint>
#include <string>

namespace sim::rombsl {

// The MSP430 ROM bootstrap loader: a synchronisation byte before every frame, framed
// commands with an inverted-XOR checksum, and a password (the interrupt vector table)
// that guards everything but the version, the password and the mass erase.
class RomBslLoader : public Loader {
public:
    explicit RomBslLoader(RomBslConfig config);

    static std::unique_ptr<Loader> Create(const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext& ctx) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;

    bool Unlocked() const { return unlocked_; }
    bool Lost() const { return rx_ == Rx::Lost; }
    std::uint32_t MemoryOffset() const { return offset_; }

private:
    enum class Rx { WaitSync, WaitHeader, Body, Lost };

    void TakeByte(std::uint8_t b, LoaderContext& ctx);
    void Execute(LoaderContext& ctx);
    void NoteFrame(unsigned n, LoaderContext& ctx) const;
    void Run(const Frame& f, bool patched, LoaderContext& ctx);
    void Restart();
    void InstallOldVectors(FlashMemory& flash) const;

    void RxPassword(const Frame& f, LoaderContext& ctx);
    void RxData(const Frame& f, LoaderContext& ctx);
    void TxData(const Frame& f, bool patched, LoaderContext& ctx);
    void EraseSegment(const Frame& f, LoaderContext& ctx);
    void MassErase(const Frame& f, LoaderContext& ctx);
    void LoadPc(const Frame& f, LoaderContext& ctx);
    void EraseCheck(const Frame& f, LoaderContext& ctx);
    void TxVersion(LoaderContext& ctx);
    void ChangeBaud(const Frame& f, LoaderContext& ctx);
    void SetMemoryOffset(const Frame& f, LoaderContext& ctx);

    void Ack(LoaderContext& ctx);
    void Refuse(LoaderContext& ctx, std::string_view why);
    void SendData(std::string_view data, LoaderContext& ctx);
    std::uint32_t Effective(std::uint16_t address) const { return offset_ << 16 | address; }

    RomBslConfig config_;
    RomBslMemory memory_;
    LineSettings line_{9600, 1};
    Rx rx_ = Rx::WaitSync;
    std::string frame_;
    bool unlocked_ = false;
    bool patchArmed_ = false; // code in RAM runs the next command
    bool preloaded_ = false;
    bool left_ = false; // the firmware runs again: the rest of the bytes are not ours
    std::uint32_t offset_ = 0;
    unsigned framesSeen_ = 0, repliesSent_ = 0;
};

} // namespace sim::rombsl
