#include "tools/instrument-sim/FileLoader.h"

#include "tools/instrument-sim/ConfigValues.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace sim::fileloader {
namespace {

constexpr long kCmdSpeed = 1300;
constexpr long kCmdHeader = 1201;
constexpr long kCmdHeaderOld = 1205;
constexpr long kCmdFileEnd = 1202;
constexpr long kCmdSessionEnd = 1203;
constexpr long kCmdStartupVersion = 2100;
constexpr int kStartupVersionReply = 2011;
// The first start-up program version (times 1000) that knows A.1201.
constexpr unsigned kNewHeaderFrom = 106;
constexpr std::string_view kBlockStart = "D.";
constexpr std::size_t kMaxBlock = 2000;
constexpr std::size_t kMaxLengthDigits = 5;
constexpr std::size_t kMaxLine = 512;
constexpr std::size_t kMaxFile = 16u * 1024 * 1024;
constexpr int kTransferStopBits = 2;
constexpr unsigned kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr const char* kResend = "I.261#2";
constexpr const char* kFileComplete = "I.260#";

bool KnownSpeed(const std::string& text, std::uint32_t& baud) {
    return ParseNumber(text, baud) &&
           std::find(std::begin(kSpeeds), std::end(kSpeeds), baud) != std::end(kSpeeds);
}

std::string Ack(long number) {
    return "A." + std::to_string(number) + "!";
}

std::string ApplyKey(std::string_view key, std::string_view v, FileLoaderConfig& c) {
    if (key == "switch_ack_ms") {
        std::uint32_t n = 0;
        if (!ParseNumber(v, n) || n > 60000)
            return "switch_ack_ms must be 0..60000";
        c.switchAckMs = n;
        return "";
    }
    if (key == "fault.bad" || key == "fault.silent") {
        std::set<unsigned>& s = key == "fault.bad" ? c.badBlocks : c.silentBlocks;
        return ParseCountList(v, s) ? "" : "fault needs block numbers from 1, comma-separated";
    }
    if (key == "fault.reply") {
        bool ok = ForEachItem(v, [&](std::string_view item) {
            std::size_t colon = item.find(':');
            unsigned count = 0;
            return colon != std::string_view::npos && ParseCount(item.substr(0, colon), count) &&
                   c.replyBlocks.emplace(count, std::string(item.substr(colon + 1))).second;
        });
        return ok ? "" : "fault.reply needs BLOCK:TEXT items";
    }
    if (key == "startup_version") {
        if (v.empty() || v.size() > 16 ||
            v.find_first_not_of("0123456789.") != std::string_view::npos)
            return "startup_version needs a version such as 1.10";
        c.startupVersion = std::string(v);
        return "";
    }
    if (key == "file_end") {
        if (v != "260" && v != "ack")
            return "file_end must be 260 or ack";
        c.fileEndAck = v == "ack";
        return "";
    }
    return "unknown key";
}

// As the tool reads a version: the text times 1000.01, truncated.
unsigned VersionTimes1000(const std::string& text) {
    return static_cast<unsigned>(std::strtod(text.c_str(), nullptr) * 1000.01);
}

} // namespace

FileLoaderConfigResult ParseFileLoaderConfig(const Profile& profile) {
    FileLoaderConfigResult result;
    result.error = ForEachLoaderKey(profile, [&](std::string_view key, std::string_view v) {
        return ApplyKey(key, v, result.config);
    });
    result.ok = result.error.empty();
    return result;
}

std::uint8_t CheckCharOf(std::string_view block) {
    unsigned crc = 0xFF;
    for (char c : block) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? ((crc << 1) ^ 0x1D) & 0xFF : (crc << 1) & 0xFF;
    }
    if (crc == 0)
        return 1;
    if (crc == '#' || crc == ',' || crc == 'D')
        return static_cast<std::uint8_t>(crc + 1);
    return static_cast<std::uint8_t>(crc);
}

FileLoader::FileLoader(FileLoaderConfig config, const Profile& profile)
    : config_(std::move(config)), firmwareLine_(profile.line), line_(profile.line) {}

std::unique_ptr<Loader> FileLoader::Create(const Profile& profile) {
    FileLoaderConfigResult r = ParseFileLoaderConfig(profile);
    if (!r.ok)
        return nullptr;
    return std::make_unique<FileLoader>(std::move(r.config), profile);
}

void FileLoader::Enter(LoaderContext&) {
    rx_.clear();
    fileOpen_ = false;
    sessionEnded_ = false;
    left_ = false;
}

bool FileLoader::FirmwareCommand(const Command& cmd, LoaderContext& ctx) {
    if (cmd.number == kCmdStartupVersion) {
        Reply("I." + std::to_string(kStartupVersionReply) + "#" + config_.startupVersion, ctx);
        return true;
    }
    std::uint32_t baud = 0;
    if (cmd.number != kCmdSpeed || !KnownSpeed(cmd.args, baud))
        return false;
    ctx.EnterLoader();
    SwitchSpeed(cmd, ctx);
    return true;
}

void FileLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    if (left_)
        return;
    rx_.append(bytes);
    while (!left_ && !rx_.empty() && TakeOne(ctx)) {
    }
}

bool FileLoader::TakeOne(LoaderContext& ctx) {
    if (rx_.starts_with(kBlockStart))
        return TakeBlock(ctx);
    std::size_t lf = rx_.find('\n');
    if (lf == std::string::npos) {
        if (rx_.size() > kMaxLine) {
            ctx.Note("discarded " + std::to_string(rx_.size()) + " bytes without line end");
            rx_.clear();
        }
        return false;
    }
    std::string line = rx_.substr(0, lf);
    rx_.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        return true;
    if (auto cmd = ParseCommand(line); cmd && cmd->family == 'A') {
        CommandLine(*cmd, ctx);
    } else {
        ctx.Note("file loader: not a command: " + line.substr(0, 40));
        Reply("?", ctx);
    }
    return true;
}

bool FileLoader::TakeBlock(LoaderContext& ctx) {
    std::size_t comma = rx_.find(',', kBlockStart.size());
    std::size_t digits = (comma == std::string::npos ? rx_.size() : comma) - kBlockStart.size();
    std::size_t length = 0;
    bool headerOk = digits > 0 && digits <= kMaxLengthDigits;
    if (headerOk && comma != std::string::npos) {
        const char* first = rx_.data() + kBlockStart.size();
        auto [end, ec] = std::from_chars(first, first + digits, length);
        headerOk = ec == std::errc() && end == first + digits && length <= kMaxBlock;
    }
    if (!headerOk) {
        if (digits <= kMaxLengthDigits && comma == std::string::npos)
            return false; // the length is still coming
        ctx.Note("file loader: bad block header, " + std::to_string(rx_.size()) + " bytes dropped");
        rx_.clear();
        Reply(kResend, ctx);
        return false;
    }
    const std::size_t dataStart = comma + 3; // check character and '#'
    if (rx_.size() < dataStart + length)
        return false;
    if (rx_[comma + 2] != '#') {
        ctx.Note("file loader: block without '#', " + std::to_string(rx_.size()) +
                 " bytes dropped");
        rx_.clear();
        Reply(kResend, ctx);
        return false;
    }
    const std::string data = rx_.substr(dataStart, length);
    const auto check = static_cast<std::uint8_t>(rx_[comma + 1]);
    rx_.erase(0, dataStart + length);
    Block(data, check, ctx);
    return true;
}

void FileLoader::Block(std::string_view data, std::uint8_t check, LoaderContext& ctx) {
    const unsigned n = ++blocks_;
    const std::string what = "block " + std::to_string(n) + " (" + std::to_string(data.size()) +
                             " bytes at " + std::to_string(data_.size()) + ")";
    if (config_.silentBlocks.count(n)) {
        ctx.Note("fault: silent, " + what);
        return;
    }
    if (auto it = config_.replyBlocks.find(n); it != config_.replyBlocks.end()) {
        ctx.Note("fault: reply 261 " + it->second + ", " + what);
        Reply("I.261#" + it->second, ctx);
        return;
    }
    const bool refused = config_.badBlocks.count(n) || TakeRefusal();
    if (refused || check != CheckCharOf(data)) {
        ctx.Note((refused ? "fault: bad " : "check character wrong: ") + what);
        Reply(kResend, ctx);
        return;
    }
    if (!fileOpen_ || data_.size() + data.size() > size_) {
        ctx.Note("file loader: " + what + " beyond the announced file");
        Reply("?", ctx);
        return;
    }
    data_.append(data);
    Reply("D." + std::to_string(data.size()) + "!", ctx);
}

void FileLoader::CommandLine(const Command& cmd, LoaderContext& ctx) {
    switch (cmd.number) {
    case kCmdHeader:
    case kCmdHeaderOld:
        if (!KnowsHeader(cmd.number)) {
            ctx.Note("file loader: start-up program " + config_.startupVersion +
                     " does not know A." + std::to_string(cmd.number));
            Reply("?", ctx);
            return;
        }
        Header(cmd, ctx);
        return;
    case kCmdFileEnd:
        FileEnd(ctx);
        return;
    case kCmdSessionEnd:
        sessionEnded_ = true;
        Reply(Ack(cmd.number), ctx);
        return;
    case kCmdSpeed:
        if (!SwitchSpeed(cmd, ctx))
            Reply("?", ctx);
        return;
    default:
        ctx.Note("file loader: unknown command " + cmd.text);
        Reply("?", ctx);
    }
}

// A newer start-up program still takes the old header (the tool sends it when
// the instrument asked for it with reply 208).
bool FileLoader::KnowsHeader(long number) const {
    return number == kCmdHeaderOld || VersionTimes1000(config_.startupVersion) >= kNewHeaderFrom;
}

// "name,date,size": the name may hold commas, the numbers cannot.
void FileLoader::Header(const Command& cmd, LoaderContext& ctx) {
    const std::string& a = cmd.args;
    std::size_t sizeComma = a.rfind(',');
    std::size_t dateComma = sizeComma == std::string::npos || sizeComma == 0
                                ? std::string::npos
                                : a.rfind(',', sizeComma - 1);
    std::uint32_t date = 0, size = 0;
    if (dateComma == std::string::npos || dateComma == 0 ||
        !ParseNumber(std::string_view(a).substr(dateComma + 1, sizeComma - dateComma - 1), date) ||
        !ParseNumber(std::string_view(a).substr(sizeComma + 1), size) || size > kMaxFile) {
        ctx.Note("file loader: bad header " + cmd.text);
        Reply("?", ctx);
        return;
    }
    name_ = a.substr(0, dateComma);
    size_ = size;
    data_.clear();
    fileOpen_ = true;
    ctx.Note("file loader: header A." + std::to_string(cmd.number) + " " + name_ + ", " +
             std::to_string(size) + " bytes, date " + std::to_string(date));
    Reply(Ack(cmd.number), ctx);
}

void FileLoader::FileEnd(LoaderContext& ctx) {
    if (!fileOpen_ || data_.size() != size_) {
        ctx.Note("file loader: file end with " + std::to_string(data_.size()) + " of " +
                 std::to_string(size_) + " bytes");
        Reply("?", ctx);
        return;
    }
    fileOpen_ = false;
    ctx.Note("file loader: received " + name_);
    ctx.KeepFile(name_, data_);
    Reply(config_.fileEndAck ? Ack(kCmdFileEnd) : kFileComplete, ctx);
}

bool FileLoader::SwitchSpeed(const Command& cmd, LoaderContext& ctx) {
    std::uint32_t baud = 0;
    if (!KnownSpeed(cmd.args, baud)) {
        ctx.Note("file loader: unknown speed " + cmd.text);
        return false;
    }
    line_ = {baud, kTransferStopBits};
    ctx.Note("file loader at " + std::to_string(baud) + " baud");
    if (sessionEnded_) {
        if (!(LineSettings{baud, firmwareLine_.stopBits} == firmwareLine_))
            ctx.Note("file loader: back at " + std::to_string(baud) +
                     " baud, but the firmware listens at " + std::to_string(firmwareLine_.baud));
        left_ = true;
        ctx.LeaveLoader();
    }
    ctx.SendAfter(config_.switchAckMs, Ack(cmd.number) + "\r\n");
    return true;
}

void FileLoader::Reply(const std::string& line, LoaderContext& ctx) {
    ctx.Send(line + "\r\n");
}

} // namespace sim::fileloader
