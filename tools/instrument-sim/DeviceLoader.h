#pragma once

#include "tools/instrument-sim/Loader.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim::devloader {

// The "loader.*" keys of the device loader (README, "The instrument's own loader").
struct DeviceLoaderConfig {
    std::string text = "Loader V1.00";        // its announcement, reply 264
    unsigned restartMs = 200;                 // from A.9000 to the announcement
    unsigned storeMs = 500;                   // storing the image before the acknowledge
    std::map<unsigned, unsigned> blockErrors; // block -> error number, given once
    unsigned silentFrom = 0;                  // block from which on nothing answers; 0 none
    std::string closeReply;                   // instead of the closing's acknowledge
};

// The instrument's own loader: the firmware takes A.5004, the speed command A.1301#n and
// A.9000, which restarts into the loader; the loader announces itself (I.264#), asks for
// the size (I.35#), takes hexadecimal blocks with a CRC each, the closing with the whole
// CRC, and stores the image into the flash from its start.
class DeviceLoader : public Loader {
public:
    explicit DeviceLoader(DeviceLoaderConfig config);

    static std::unique_ptr<Loader> Create(const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext& ctx) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;
    bool FirmwareCommand(const Command& cmd, LoaderContext& ctx) override;
    std::optional<LineSettings> FirmwareLine() const override { return firmwareLine_; }

private:
    void TakeLine(std::string_view text, LoaderContext& ctx);
    void Announcement(std::string_view args, LoaderContext& ctx);
    void Block(std::string_view args, LoaderContext& ctx);
    void Closing(std::string_view args, LoaderContext& ctx);
    void StoreImage(LoaderContext& ctx);
    bool SpeedOf(std::string_view args, LineSettings& line) const;
    static std::string AckLine(long number);
    void Ack(long number, LoaderContext& ctx);
    void Reply(std::string_view line, LoaderContext& ctx);
    void Refuse(std::string_view why, LoaderContext& ctx);

    DeviceLoaderConfig config_;
    LineSettings line_{9600, 2};
    std::optional<LineSettings> firmwareLine_;
    std::string pending_; // received bytes without their line end yet
    std::string image_;
    std::size_t announced_ = 0;
    bool closed_ = false, stored_ = false, silent_ = false;
    std::map<unsigned, unsigned> blockErrors_; // those not given yet
};

} // namespace sim::devloader
