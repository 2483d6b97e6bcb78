#include "tools/instrument-sim/DeviceLoader.h"

#include "tools/instrument-sim/ConfigValues.h"

#include <charconv>

namespace sim::devloader {
namespace {

constexpr long kCmdStart = 5004;
constexpr long kCmdSpeed = 1301;
constexpr long kCmdRestart = 9000;
constexpr long kCmdIdentify = 1000;
constexpr long kCmdSize = 1260;
constexpr long kCmdBlock = 1261;
constexpr long kCmdClose = 1262;
constexpr long kCmdStore = 1263;

constexpr std::string_view kSizeText = "Will receive\r\rprogdata: \r\rof!";
constexpr std::string_view kCloseKey = "QX47";
constexpr std::size_t kBlock = 128;
constexpr std::size_t kTrailer = 6; // the loader keeps room for length and CRC
constexpr std::size_t kMaxLine = 1024;
constexpr LineSettings kLoaderLine{9600, 2};

// CRC-16 of XMODEM: polynomial 0x1021, start 0, no reflection.
std::uint16_t Crc(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

// Decimal digits only, the whole text.
bool Decimal(std::string_view s, std::uint64_t& out) {
    if (s.empty() || s.size() > 12)
        return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, 10);
    return ec == std::errc() && end == s.data() + s.size();
}

// The next comma-separated field of s, removed from it.
std::string_view Field(std::string_view& s) {
    std::size_t comma = s.find(',');
    std::string_view field = s.substr(0, comma);
    s.remove_prefix(comma == std::string_view::npos ? s.size() : comma + 1);
    return field;
}

bool Unhex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        std::uint32_t byte = 0;
        // Two uppercase digits, as the loader wants them.
        for (char c : hex.substr(i, 2)) {
            if (!(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'F'))
                return false;
        }
        ParseHex(hex.substr(i, 2), 2, byte);
        out.push_back(static_cast<char>(byte));
    }
    return true;
}

std::string ApplyKey(std::string_view key, std::string_view v, DeviceLoaderConfig& c) {
    std::uint32_t n = 0;
    if (key == "text") {
        c.text = v;
        return "";
    }
    if (key == "restart_ms" || key == "store_ms") {
        if (!ParseNumber(v, n) || n > 60000)
            return "milliseconds 0..60000";
        (key == "restart_ms" ? c.restartMs : c.storeMs) = n;
        return "";
    }
    if (key == "fault.block_error") {
        bool ok = ForEachItem(v, [&](std::string_view item) {
            std::size_t colon = item.find(':');
            unsigned block = 0;
            std::uint32_t code = 2;
            if (!ParseCount(item.substr(0, colon), block) ||
                (colon != std::string_view::npos && !ParseNumber(item.substr(colon + 1), code)))
                return false;
            return c.blockErrors.emplace(block, code).second;
        });
        return ok ? "" : "BLOCK or BLOCK:NUMBER items, blocks from 1";
    }
    if (key == "fault.silent_from")
        return ParseCount(v, c.silentFrom) ? "" : "a block number from 1";
    if (key == "fault.close") {
        if (v == "refuse") {
            c.closeReply = "?";
            return "";
        }
        if (!ParseNumber(v, n))
            return "refuse or an error number";
        c.closeReply = "I.263#" + std::to_string(n);
        return "";
    }
    return "unknown key";
}

} // namespace

DeviceLoader::DeviceLoader(DeviceLoaderConfig config) : config_(std::move(config)) {}

std::unique_ptr<Loader> DeviceLoader::Create(const Profile& profile) {
    DeviceLoaderConfig config;
    std::string error = ForEachLoaderKey(profile, [&](std::string_view key, std::string_view v) {
        return ApplyKey(key, v, config);
    });
    if (!error.empty())
        return nullptr;
    return std::make_unique<DeviceLoader>(std::move(config));
}

// ---- The firmware's part ----------------------------------------------------

bool DeviceLoader::FirmwareCommand(const Command& cmd, LoaderContext& ctx) {
    if (cmd.number == kCmdStart) {
        Ack(cmd.number, ctx);
        return true;
    }
    if (cmd.number == kCmdSpeed) {
        LineSettings line;
        if (!SpeedOf(cmd.args, line)) {
            Refuse("speed " + cmd.args, ctx);
            return true;
        }
        Ack(cmd.number, ctx); // still at the old speed
        firmwareLine_ = line;
        ctx.Note("firmware now at " + std::to_string(line.baud) + " baud");
        return true;
    }
    if (cmd.number == kCmdRestart) {
        Ack(cmd.number, ctx);
        ctx.EnterLoader();
        return true;
    }
    return false;
}

bool DeviceLoader::SpeedOf(std::string_view args, LineSettings& line) const {
    if (args == "7")
        line = {115200, 2};
    else if (args == "3")
        line = {9600, 2};
    else
        return false;
    return true;
}

// ---- The loader -----------------------------------------------------------------

void DeviceLoader::Enter(LoaderContext& ctx) {
    line_ = kLoaderLine;
    pending_.clear();
    image_.clear();
    announced_ = 0;
    closed_ = stored_ = silent_ = false;
    blockErrors_ = config_.blockErrors;
    // It announces itself at the speed the firmware had and then listens at its own.
    ctx.SendAfterAt(config_.restartMs, firmwareLine_.value_or(ctx.GetProfile().line),
                    "I.264#" + config_.text + "\r\n");
}

void DeviceLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    pending_.append(bytes);
    for (std::size_t lf = pending_.find('\n'); lf != std::string::npos; lf = pending_.find('\n')) {
        std::string line = pending_.substr(0, lf);
        pending_.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            TakeLine(line, ctx);
    }
    if (pending_.size() > kMaxLine) {
        ctx.Note("discarded " + std::to_string(pending_.size()) + " bytes without line end");
        pending_.clear();
    }
}

void DeviceLoader::TakeLine(std::string_view text, LoaderContext& ctx) {
    if (silent_)
        return ctx.Note("fault: silent");
    std::optional<Command> cmd = ParseCommand(text);
    if (!cmd || cmd->family != 'A')
        return Refuse("not a command", ctx);
    switch (cmd->number) {
    case kCmdIdentify:
        Ack(cmd->number, ctx);
        return Reply("I.35#", ctx);
    case kCmdSize:
        return Announcement(cmd->args, ctx);
    case kCmdBlock:
        return Block(cmd->args, ctx);
    case kCmdClose:
        return Closing(cmd->args, ctx);
    case kCmdStore:
        if (!closed_)
            return Refuse("store before the closing", ctx);
        return StoreImage(ctx);
    case kCmdSpeed:
        if (!SpeedOf(cmd->args, line_))
            return Refuse("speed " + cmd->args, ctx);
        Ack(cmd->number, ctx);
        ctx.Note("loader now at " + std::to_string(line_.baud) + " baud");
        if (stored_) {
            // The new firmware keeps the speed it was given.
            firmwareLine_ = line_;
            ctx.LeaveLoader();
        }
        return;
    default:
        return Refuse("unknown command " + std::to_string(cmd->number), ctx);
    }
}

void DeviceLoader::Announcement(std::string_view args, LoaderContext& ctx) {
    std::size_t bytesAt = args.find(" bytes,");
    std::uint64_t size = 0;
    if (!args.starts_with(kSizeText) || bytesAt == std::string_view::npos ||
        !Decimal(args.substr(kSizeText.size(), bytesAt - kSizeText.size()), size))
        return Refuse("size announcement", ctx);
    if ((size + kTrailer) % kBlock != 0 || size > ctx.Flash().Size())
        return Refuse("size " + std::to_string(size), ctx);
    std::string_view quoted = args.substr(bytesAt + 7);
    if (quoted != std::string_view(config_.text).substr(0, quoted.size()))
        ctx.Note("size announcement quotes another text");
    announced_ = static_cast<std::size_t>(size);
    image_.clear();
    closed_ = false;
    ctx.Note("size " + std::to_string(size));
    Ack(kCmdSize, ctx);
}

void DeviceLoader::Block(std::string_view args, LoaderContext& ctx) {
    if (announced_ == 0 || closed_)
        return Refuse("block without a size announcement", ctx);
    const unsigned number = static_cast<unsigned>(image_.size() / kBlock + 1);
    if (config_.silentFrom != 0 && number >= config_.silentFrom) {
        silent_ = true;
        return ctx.Note("fault: silent from block " + std::to_string(number));
    }
    if (TakeRefusal()) {
        ctx.Note("fault: block " + std::to_string(number) + " refused");
        return Reply("I.263#2", ctx);
    }
    if (auto it = blockErrors_.find(number); it != blockErrors_.end()) {
        std::string reply = "I.263#" + std::to_string(it->second);
        if (it->second == 2)
            blockErrors_.erase(it); // once: the repeat is taken
        ctx.Note("fault: block " + std::to_string(number));
        return Reply(reply, ctx);
    }
    std::uint64_t length = 0, crc = 0;
    std::string data;
    std::string_view lengthText = Field(args), crcText = Field(args);
    const std::size_t left = announced_ - image_.size();
    std::string why;
    if (!Decimal(lengthText, length) || !Decimal(crcText, crc) || !Unhex(args, data))
        why = "format";
    else if (data.size() != length || length == 0 || length > left ||
             (length != kBlock && length != left))
        why = "length " + std::to_string(length);
    else if (Crc(data) != crc)
        why = "CRC";
    if (!why.empty()) {
        ctx.Note("block " + std::to_string(number) + ": " + why + ", repeat wanted");
        return Reply("I.263#2", ctx);
    }
    image_ += data;
    ctx.Note("block " + std::to_string(number) + ": " + std::to_string(length) + " bytes");
    Ack(kCmdBlock, ctx);
}

void DeviceLoader::Closing(std::string_view args, LoaderContext& ctx) {
    if (!config_.closeReply.empty()) {
        ctx.Note("fault: closing refused");
        return Reply(config_.closeReply, ctx);
    }
    std::uint64_t length = 0, crc = 0, stamp = 0;
    std::string_view key = Field(args), lengthText = Field(args), crcText = Field(args);
    if (key != kCloseKey || !Decimal(lengthText, length) || !Decimal(crcText, crc) ||
        !Decimal(args, stamp))
        return Refuse("closing format", ctx);
    if (length != announced_ || image_.size() != announced_ || crc != Crc(image_))
        return Refuse("closing: " + std::to_string(image_.size()) + " bytes received, " +
                          std::to_string(length) + " closed",
                      ctx);
    closed_ = true;
    ctx.Note("closed, stamp " + std::to_string(stamp));
    Ack(kCmdClose, ctx);
}

void DeviceLoader::StoreImage(LoaderContext& ctx) {
    FlashMemory& flash = ctx.Flash();
    if (!flash.Erase(flash.Start(), flash.Size()) || !flash.Program(flash.Start(), image_))
        return Refuse("image does not fit the flash", ctx);
    stored_ = true;
    ctx.Note("stored " + std::to_string(image_.size()) + " bytes");
    ctx.SendAfter(config_.storeMs, AckLine(kCmdStore) + "\r\n");
}

std::string DeviceLoader::AckLine(long number) {
    return "A." + std::to_string(number) + "!";
}

void DeviceLoader::Ack(long number, LoaderContext& ctx) {
    Reply(AckLine(number), ctx);
}

void DeviceLoader::Reply(std::string_view line, LoaderContext& ctx) {
    ctx.Send(std::string(line) + "\r\n");
}

void DeviceLoader::Refuse(std::string_view why, LoaderContext& ctx) {
    ctx.Note("refused: " + std::string(why));
    Reply("?", ctx);
}

} // namespace sim::devloader
