#include "tools/instrument-sim/XmodemLoader.h"

#include "tools/instrument-sim/ConfigValues.h"
#include "tools/instrument-sim/Transcript.h"
#include "tools/instrument-sim/UartModel.h"

#include <algorithm>
#include <cstdio>

namespace sim::xmodem {
namespace {

constexpr char kSoh = 0x01, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18;
constexpr std::size_t kPacketSize = 133, kDataSize = 128, kTrailerSize = 6;
constexpr std::size_t kMaxLine = 64;
constexpr std::string_view kUnlock{"5831\r\n\0", 7};
constexpr std::string_view kVersionCommand = "A.2051";
constexpr std::string_view kSecondStageCommand = "A.1250#3";
constexpr long kEntryDirect = 1250, kEntryAlt = 1255, kEntryTwoStage = 1256;
constexpr unsigned kSlowBaud = 9600, kFastBaud = 115200;
// A receiver waiting for the first packet asks again, as real ones do.
constexpr unsigned kCrcRequests = 10;
constexpr std::uint64_t kCrcRequestIntervalMs = 3000;
// Writing one block to flash, before its ACK.
constexpr std::uint64_t kBlockWriteMs = 4;

// CRC-16/XMODEM, bit by bit: the simulator keeps its own.
std::uint16_t Crc16(std::string_view data) {
    std::uint16_t crc = 0;
    for (char ch : data) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(ch) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

// "1.06" and later ask for the unlock line; reads the digits before a ",".
bool NeedsUnlock(std::string_view version) {
    unsigned major = 0, minor = 0;
    std::string text(version.substr(0, version.find(',')));
    if (std::sscanf(text.c_str(), "%u.%u", &major, &minor) != 2)
        return false;
    return major > 1 || (major == 1 && minor >= 6);
}

std::string ApplyKey(std::string_view key, std::string_view v, XmodemConfig& c, bool& unlockGiven) {
    if (key == "version") {
        if (v.empty() || v.size() > 40)
            return "version must be 1 to 40 characters";
        c.version = v;
        return "";
    }
    if (key == "unlock") {
        if (v != "yes" && v != "no")
            return "unlock must be yes or no";
        c.unlock = v == "yes";
        unlockGiven = true;
        return "";
    }
    if (key == "fault.nak") {
        bool ok = ForEachItem(v, [&](std::string_view item) {
            unsigned n = 0;
            return ParseCount(item, n) && c.nakPackets.insert(n).second;
        });
        return ok ? "" : "fault.nak must list packet numbers from 1";
    }
    if (key == "fault.c_from") {
        return ParseCount(v, c.crcRequestFrom) ? "" : "fault.c_from must be a packet number from 1";
    }
    if (key == "fault.silent")
        return ParseCount(v, c.silentFrom) ? "" : "fault.silent must be a packet number from 1";
    if (key == "fault.crossing_c") {
        if (v != "yes")
            return "fault.crossing_c must be yes";
        c.crossingC = true;
        return "";
    }
    if (key == "fault.checksum") {
        if (v != "wrong")
            return "fault.checksum must be wrong";
        c.wrongChecksum = true;
        return "";
    }
    return "unknown key";
}

} // namespace

XmodemLoader::XmodemLoader(XmodemConfig config, const Profile& profile)
    : config_(std::move(config)), flashStart_(profile.flashStart) {}

std::unique_ptr<Loader> XmodemLoader::Create(const Profile& profile) {
    XmodemConfig config;
    bool unlockGiven = false;
    std::string error = ForEachLoaderKey(profile, [&](std::string_view key, std::string_view v) {
        return ApplyKey(key, v, config, unlockGiven);
    });
    if (!error.empty())
        return nullptr;
    if (!unlockGiven)
        config.unlock = NeedsUnlock(config.version);
    return std::make_unique<XmodemLoader>(std::move(config), profile);
}

LineSettings XmodemLoader::Line() const {
    return {stage_ == Stage::SecondStage ? kSlowBaud : baud_, 2};
}

bool XmodemLoader::FirmwareCommand(const Command& cmd, LoaderContext& ctx) {
    if (cmd.number != kEntryDirect && cmd.number != kEntryAlt && cmd.number != kEntryTwoStage)
        return false;
    if (cmd.args != "3" && cmd.args != "7") {
        ctx.Note("bootloader entry without speed 3 or 7: " + Transcript::Escape(cmd.text));
        ctx.Send("?\r\n");
        return true;
    }
    // The two-stage entry keeps this speed for the bootloader; its second
    // command only confirms at 9600.
    baud_ = cmd.args == "3" ? kSlowBaud : kFastBaud;
    entryStage_ = cmd.number == kEntryTwoStage ? Stage::SecondStage : Stage::Commands;
    ctx.Send("A." + std::to_string(cmd.number) + "\r\n");
    ctx.EnterLoader();
    return true;
}

void XmodemLoader::Enter(LoaderContext& ctx) {
    stage_ = entryStage_;
    entryStage_ = Stage::Commands;
    line_.clear();
    unlock_.clear();
    packet_.clear();
    pendingCommand_ = 0;
    ctx.Note(stage_ == Stage::SecondStage ? "bootloader: waiting for the second entry at 9600"
                                          : "bootloader at " + std::to_string(baud_) + " baud");
}

void XmodemLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    for (char c : bytes) {
        switch (stage_) {
        case Stage::SecondStage:
            SecondStageByte(c, ctx);
            break;
        case Stage::Commands:
            CommandByte(c, ctx);
            break;
        case Stage::Receiving:
            ReceiveByte(static_cast<std::uint8_t>(c), ctx);
            break;
        case Stage::Silent:
            return;
        }
    }
}

bool XmodemLoader::LineComplete(char c) {
    if (c != '\n') {
        if (line_.size() < kMaxLine)
            line_.push_back(c);
        return false;
    }
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    return true;
}

void XmodemLoader::SecondStageByte(char c, LoaderContext& ctx) {
    if (!LineComplete(c))
        return;
    if (line_ == kSecondStageCommand) {
        ctx.Send("A.1250\r\n");
        stage_ = Stage::Commands;
        ctx.Note("bootloader at " + std::to_string(baud_) + " baud");
    } else if (!line_.empty()) {
        ctx.Note("second entry expected, got " + Transcript::Escape(line_));
    }
    line_.clear();
}

void XmodemLoader::CommandByte(char c, LoaderContext& ctx) {
    if (pendingCommand_ != 0) {
        if (c == kUnlock[unlock_.size()]) {
            unlock_.push_back(c);
            if (unlock_.size() == kUnlock.size()) {
                const char command = pendingCommand_;
                pendingCommand_ = 0;
                unlock_.clear();
                RunCommand(command, ctx);
            }
            return;
        }
        ctx.Note(std::string("command '") + pendingCommand_ + "' without its unlock line");
        pendingCommand_ = 0;
        unlock_.clear();
    }
    if (!line_.empty() || c == 'A') {
        if (!LineComplete(c))
            return;
        if (line_ == kVersionCommand)
            ctx.Send("I.251#" + config_.version + "\r\n");
        else
            ctx.Note("bootloader ignores " + Transcript::Escape(line_));
        line_.clear();
        return;
    }
    if (c != 'u' && c != 'c' && c != 'r')
        return; // line ends and noise
    if (config_.unlock)
        pendingCommand_ = c;
    else
        RunCommand(c, ctx);
}

void XmodemLoader::RunCommand(char c, LoaderContext& ctx) {
    if (c == 'u') {
        ctx.Flash().Erase(ctx.Flash().Start(), ctx.Flash().Size());
        image_.clear();
        packet_.clear();
        expectedBlock_ = 1;
        packetsSeen_ = 0;
        imageValid_ = false;
        stage_ = Stage::Receiving;
        ctx.Note("upload: XMODEM-CRC");
        ctx.Send("C");
        // Until the first packet starts; SOH drops the ones not sent yet.
        for (unsigned i = 1; i < kCrcRequests; ++i)
            ctx.SendAfter(kCrcRequestIntervalMs, "C");
    } else if (c == 'c') {
        ReportChecksum(ctx);
    } else if (!imageValid_) {
        // The bootloader starts only an image whose trailer it could check.
        ctx.Note("restart refused: no complete image with a fitting trailer");
    } else {
        ctx.Note("restart into the new firmware");
        ctx.LeaveLoader();
    }
}

void XmodemLoader::ReceiveByte(std::uint8_t b, LoaderContext& ctx) {
    if (packet_.empty()) {
        if (b == kEot) {
            ctx.Send(std::string(1, kAck));
            stage_ = Stage::Commands;
            ctx.Note("image received: " + std::to_string(image_.size()) + " bytes");
            CheckTrailer(ctx);
        } else if (b == kCan) {
            stage_ = Stage::Commands;
            ctx.Note("upload cancelled by the sender");
        } else if (b == kSoh) {
            if (packetsSeen_ == 0) {
                ctx.DropPendingSends(); // no more 'C': the sender has begun
                if (config_.crossingC) {
                    // The repeat fell due as the packet began: it is on the
                    // line before the receiver could know.
                    ctx.Note("fault: 'C' crossing packet 1");
                    ctx.Send("C");
                }
            }
            packet_.push_back(static_cast<char>(b));
        }
        return; // anything else is noise between packets
    }
    packet_.push_back(static_cast<char>(b));
    if (packet_.size() == kPacketSize) {
        TakePacket(ctx);
        packet_.clear();
    }
}

void XmodemLoader::TakePacket(LoaderContext& ctx) {
    ++packetsSeen_;
    // The pty hands over the whole packet at once; a receiver on the line
    // answers only once its last byte has crossed.
    const std::uint64_t onLineMs = (WireMicros(kPacketSize, FrameOf(Line())) + 999) / 1000;
    if (config_.silentFrom != 0 && packetsSeen_ >= config_.silentFrom) {
        stage_ = Stage::Silent;
        ctx.Note("fault: silent from packet " + std::to_string(packetsSeen_));
        return;
    }
    const auto block = static_cast<std::uint8_t>(packet_[1]);
    const auto complement = static_cast<std::uint8_t>(packet_[2]);
    const std::string_view data = std::string_view(packet_).substr(3, kDataSize);
    const std::uint16_t crc = static_cast<std::uint16_t>(
        static_cast<std::uint8_t>(packet_[131]) << 8 | static_cast<std::uint8_t>(packet_[132]));
    std::string why;
    const bool crcRequest = config_.crcRequestFrom != 0 && packetsSeen_ >= config_.crcRequestFrom;
    if (crcRequest)
        why = "fault: C";
    else if (config_.nakPackets.count(packetsSeen_) || TakeRefusal())
        why = "fault: NAK";
    else if (static_cast<std::uint8_t>(block ^ complement) != 0xFF)
        why = "bad complement";
    else if (Crc16(data) != crc)
        why = "bad CRC";
    else if (block == static_cast<std::uint8_t>(expectedBlock_ - 1))
        why = "duplicate";
    else if (block != expectedBlock_)
        why = "wrong block";
    ctx.Note("packet " + std::to_string(packetsSeen_) + " block " + std::to_string(block) +
             (why.empty() ? "" : ": " + why));
    if (why == "duplicate") {
        ctx.SendAfter(onLineMs, std::string(1, kAck)); // our ACK was lost: the sender repeats
        return;
    }
    if (!why.empty()) {
        ctx.SendAfter(onLineMs, crcRequest ? "C" : std::string(1, kNak));
        return;
    }
    if (!ctx.Flash().Program(flashStart_ + static_cast<std::uint32_t>(image_.size()), data)) {
        ctx.Note("image larger than the flash: upload cancelled");
        ctx.SendAfter(onLineMs, std::string(2, kCan));
        stage_ = Stage::Commands;
        return;
    }
    image_.append(data);
    ++expectedBlock_;
    ctx.SendAfter(onLineMs + kBlockWriteMs, std::string(1, kAck));
}

// The trailer is the image's last six bytes: the padded length (32 bits) and the
// CRC-16/XMODEM over that many bytes (16 bits), both little-endian.
std::uint32_t XmodemLoader::TrailerField(std::size_t offset, int bytes) const {
    const std::size_t at = image_.size() - kTrailerSize + offset;
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(image_[at + static_cast<std::size_t>(i)]);
    return value;
}

void XmodemLoader::CheckTrailer(LoaderContext& ctx) {
    imageValid_ = false;
    if (image_.size() < kTrailerSize) {
        ctx.Note("trailer: image too short");
        return;
    }
    const std::size_t padded = image_.size() - kTrailerSize;
    const std::uint32_t length = TrailerField(0, 4);
    const std::uint32_t crc = TrailerField(4, 2);
    char text[80];
    if (length != padded) {
        std::snprintf(text, sizeof text, "trailer: length %lu, image %zu",
                      static_cast<unsigned long>(length), padded);
    } else if (crc != ImageCrc()) {
        std::snprintf(text, sizeof text, "trailer: CRC %04lX, image %04X",
                      static_cast<unsigned long>(crc), ImageCrc());
    } else {
        imageValid_ = true;
        std::snprintf(text, sizeof text, "trailer: length and CRC fit");
    }
    ctx.Note(text);
}

// CRC over the padded length the image's own trailer gives.
std::uint16_t XmodemLoader::ImageCrc() const {
    if (image_.size() < kTrailerSize)
        return Crc16({});
    const std::size_t length =
        std::min<std::size_t>(TrailerField(0, 4), image_.size() - kTrailerSize);
    return Crc16(std::string_view(image_).substr(0, length));
}

void XmodemLoader::ReportChecksum(LoaderContext& ctx) {
    std::uint16_t crc = ImageCrc();
    if (config_.wrongChecksum) {
        crc = static_cast<std::uint16_t>(crc ^ 0x5A5A);
        ctx.Note("fault: wrong checksum");
    }
    char text[32];
    std::snprintf(text, sizeof text, "I.1205#%04X\r\n", crc);
    ctx.Send(text);
}

} // namespace sim::xmodem
