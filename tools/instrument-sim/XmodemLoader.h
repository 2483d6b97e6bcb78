#pragma once

#include "tools/instrument-sim/Loader.h"

#include <cstdint>
#include <set>
#include <string>

namespace sim::xmodem {

// The "loader.*" keys of the xmodem loader (README, "XMODEM bootloader").
struct XmodemConfig {
    std::string version = "1.06"; // as reply 251 carries it, ",more" allowed
    bool unlock = true;           // command characters need the unlock line (1.06 and later)
    std::set<unsigned> nakPackets;
    unsigned crcRequestFrom = 0; // 0: never; from this packet on each is answered 'C'
    unsigned silentFrom = 0;     // 0: never
    bool wrongChecksum = false;
    bool crossingC = false; // a repeat of 'C' leaves just as packet 1 begins to arrive
};

// The character-command bootloader with an XMODEM-CRC receiver. The
// firmware starts it on "A.1250#", "A.1255#" or "A.1256#" with the speed
// line 3 (9600) or 7 (115200); 1256 first waits at 9600 for a second
// "A.1250#3".
class XmodemLoader : public Loader {
public:
    XmodemLoader(XmodemConfig config, const Profile& profile);

    LineSettings Line() const override;
    void Enter(LoaderContext& ctx) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;
    bool FirmwareCommand(const Command& cmd, LoaderContext& ctx) override;

    static std::unique_ptr<Loader> Create(const Profile& profile);

private:
    enum class Stage { SecondStage, Commands, Receiving, Silent };

    // Adds c to the line under way; true when c ended it.
    bool LineComplete(char c);
    void SecondStageByte(char c, LoaderContext& ctx);
    void CommandByte(char c, LoaderContext& ctx);
    void RunCommand(char c, LoaderContext& ctx);
    void ReceiveByte(std::uint8_t b, LoaderContext& ctx);
    void TakePacket(LoaderContext& ctx);
    // At the end of the upload: the trailer's length and CRC fields against
    // what was received.
    void CheckTrailer(LoaderContext& ctx);
    std::uint32_t TrailerField(std::size_t offset, int bytes) const;
    std::uint16_t ImageCrc() const;
    void ReportChecksum(LoaderContext& ctx);

    XmodemConfig config_;
    std::uint32_t flashStart_;
    Stage stage_ = Stage::Commands;
    Stage entryStage_ = Stage::Commands; // where the next Enter starts
    unsigned baud_ = 115200;
    std::string line_;        // a command line ("A.2051") under way
    char pendingCommand_ = 0; // waits for its unlock line
    std::string unlock_;      // unlock bytes received so far
    std::string packet_;      // XMODEM packet under way
    std::string image_;       // the received image
    std::uint8_t expectedBlock_ = 1;
    unsigned packetsSeen_ = 0; // complete packets, as the faults count them
    bool imageValid_ = false;  // an upload ended with a trailer that fits it
};

} // namespace sim::xmodem
