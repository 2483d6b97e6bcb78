#pragma once

#include "tools/instrument-sim/Bsl5xxConfig.h"
#include "tools/instrument-sim/Bsl5xxFrame.h"
#include "tools/instrument-sim/Bsl5xxMemory.h"
#include "tools/instrument-sim/Loader.h"

#include <cstdint>
#include <string>

namespace sim::bsl5xx {

// The MSP430 5xx/6xx UART bootstrap loader: frames with a 16-bit length and a CRC-16, one
// answer byte per frame, response frames for data and messages, and a password (the
// interrupt vector table) whose wrong value erases the main flash.
class Bsl5xxLoader : public Loader {
public:
    Bsl5xxLoader(Bsl5xxConfig config, const Profile& profile);

    static std::unique_ptr<Loader> Create(const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext& ctx) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;

    bool Unlocked() const { return unlocked_; }
    bool Lost() const { return rx_ == Rx::Lost; }

private:
    enum class Rx { WaitHeader, Body, Lost };

    void PreloadVectors(FlashMemory& flash) const;
    void TakeByte(std::uint8_t b, LoaderContext& ctx);
    void Execute(LoaderContext& ctx);
    std::uint8_t Precheck(std::string_view core, std::string& why) const;
    void Run(std::string_view core, LoaderContext& ctx);

    void RxData(std::string_view core, LoaderContext& ctx);
    void RxPassword(std::string_view core, LoaderContext& ctx);
    void EraseSegment(std::string_view core, LoaderContext& ctx);
    void LoadPc(std::string_view core, LoaderContext& ctx);
    void TxData(std::string_view core, LoaderContext& ctx);
    void ChangeBaud(std::string_view core, LoaderContext& ctx);

    void SendByte(std::uint8_t b, LoaderContext& ctx);
    void Error(std::uint8_t code, std::string_view why, LoaderContext& ctx);
    void Message(std::uint8_t code, LoaderContext& ctx);
    void Respond(std::string_view core, LoaderContext& ctx);

    Bsl5xxConfig config_;
    Bsl5xxMemory memory_;
    std::string probe_, probeAnswer_, password_;
    LineSettings line_{9600, 1};
    Rx rx_ = Rx::WaitHeader;
    std::string frame_; // after the header: length, core, CRC
    bool unlocked_ = false;
    bool preloaded_ = false;
    bool left_ = false; // the firmware runs again: the rest of the bytes are not ours
    unsigned framesSeen_ = 0, responsesSent_ = 0;
};

} // namespace sim::bsl5xx
