#include "tools/instrument-sim/BasicLoader.h"

#include "tools/instrument-sim/ConfigValues.h"

namespace sim::basic {
namespace {

constexpr unsigned kLoaderBaud = 19200;
constexpr std::size_t kMaxRecordLine = 4 + 2 * 255; // "Snnn" + 255 bytes in hex

constexpr std::string_view kBanner = "Basic-Loader / 1.01\r\n";
constexpr std::string_view kErasing = "Erasing Flash-Memory (1) !\r\n";
constexpr std::string_view kErased = "Flash-Memory erased !\r\n";
constexpr std::string_view kWaiting = "Waiting for S-Record !\r\n";
constexpr std::string_view kDefect = "S-Record defect!\r\n";
constexpr std::string_view kProgrammed = "Flash-Memory (1) programmed !\r\n";
constexpr unsigned kEraseMs = 300;

// Address bytes by record type; 0 for a type that does not exist.
std::size_t AddressBytes(char type) {
    switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
        return 2;
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 0;
    }
}

std::string ApplyKey(std::string_view key, std::string_view v, BasicConfig& c) {
    std::uint32_t n = 0;
    if (key == "start_delay_ms") {
        if (!ParseNumber(v, n) || n > 60000)
            return "start_delay_ms must be 0..60000";
        c.startDelayMs = n;
        return "";
    }
    if (key == "fault.silent") {
        if (v != "yes" && v != "no")
            return "fault.silent must be yes or no";
        c.silent = v == "yes";
        return "";
    }
    if (key == "fault.defect" || key == "fault.abort" || key == "fault.hold") {
        unsigned& at = key == "fault.defect"  ? c.defectAt
                       : key == "fault.abort" ? c.abortAt
                                              : c.holdAt;
        return ParseCount(v, at) ? "" : "fault needs a record number from 1";
    }
    return "unknown key";
}

} // namespace

std::string HeaderText(std::string_view line) {
    std::string text;
    // After "S0", the count and the two address bytes, up to the checksum.
    for (std::size_t i = 8; i + 3 < line.size(); i += 2) {
        const int value = HexDigit(line[i]) * 16 + HexDigit(line[i + 1]);
        text.push_back(value >= 0x20 && value < 0x7F ? static_cast<char>(value) : '.');
    }
    return text;
}

bool SoundRecord(std::string_view line) {
    if (line.size() < 4 || line[0] != 'S' || line.size() % 2 != 0)
        return false;
    const std::size_t address = AddressBytes(line[1]);
    if (address == 0)
        return false;
    unsigned sum = 0;
    std::size_t bytes = 0;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        int high = HexDigit(line[i]);
        int low = HexDigit(line[i + 1]);
        if (high < 0 || low < 0)
            return false;
        sum += static_cast<unsigned>(high * 16 + low);
        ++bytes;
    }
    const unsigned count = static_cast<unsigned>(HexDigit(line[2]) * 16 + HexDigit(line[3]));
    // The count covers address, data and checksum; the sum of all is 0xFF.
    return count == bytes - 1 && count >= address + 1 && (sum & 0xFF) == 0xFF;
}

bool EndRecord(std::string_view line) {
    return line.size() >= 2 && line[0] == 'S' &&
           (line[1] == '7' || line[1] == '8' || line[1] == '9');
}

BasicLoader::BasicLoader(BasicConfig config, const Profile& profile)
    : config_(config), line_{kLoaderBaud, profile.line.stopBits} {}

std::unique_ptr<Loader> BasicLoader::Create(const Profile& profile) {
    BasicConfig config;
    std::string error = ForEachLoaderKey(profile, [&](std::string_view key, std::string_view v) {
        return ApplyKey(key, v, config);
    });
    if (!error.empty())
        return nullptr;
    return std::make_unique<BasicLoader>(config, profile);
}

void BasicLoader::Enter(LoaderContext& ctx) {
    state_ = State::Records;
    pending_.clear();
    records_ = 0;
    if (config_.silent) {
        ctx.Note("basic-loader: silent");
        return;
    }
    ctx.SendAfter(config_.startDelayMs, kBanner);
    ctx.Send(kErasing);
    ctx.SendAfter(kEraseMs, kErased);
    ctx.Send(kWaiting);
}

void BasicLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    ctx.AppendToFile(kKeptFile, bytes);
    while (!bytes.empty() && state_ == State::Records) {
        const std::size_t lf = bytes.find('\n');
        pending_.append(bytes.substr(0, lf));
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
        if (lf == std::string_view::npos) {
            if (pending_.size() > kMaxRecordLine) {
                ctx.Note("basic-loader: record line too long");
                state_ = State::Broken;
                ctx.Send(kDefect);
            }
            return;
        }
        std::string line;
        line.swap(pending_);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            TakeRecord(line, ctx);
    }
}

void BasicLoader::TakeRecord(std::string_view line, LoaderContext& ctx) {
    ++records_;
    if (!SoundRecord(line) || records_ == config_.defectAt || TakeRefusal()) {
        ctx.Note("basic-loader: record " + std::to_string(records_) + " defective");
        state_ = State::Broken;
        ctx.Send(kDefect);
        return;
    }
    if (line[1] == '0') {
        // The header record names the file: the transcript says which one came.
        ctx.Note("basic-loader: header " + HeaderText(line));
    }
    if (EndRecord(line)) {
        ctx.Note("basic-loader: " + std::to_string(records_) + " records programmed");
        state_ = State::Done;
        ctx.Send(kProgrammed);
        return;
    }
    if (records_ == config_.abortAt) {
        ctx.Note("basic-loader: broke off after record " + std::to_string(records_));
        state_ = State::Broken;
    } else if (records_ == config_.holdAt) {
        ctx.Note("basic-loader: line held after record " + std::to_string(records_));
        state_ = State::Held;
    }
}

} // namespace sim::basic
