#include "tools/instrument-sim/Bsl5xxLoader.h"

#include <algorithm>
#include <cstdio>

namespace sim::bsl5xx {
namespace {

constexpr LineSettings kStartLine{9600, 1};
constexpr std::uint32_t kVectorTable = 0xFFE0;
constexpr std::size_t kVectors = 16;
constexpr std::size_t kPasswordGroup = 6; // characters per vector in the firmware's answer

struct BaudCode {
    std::uint8_t code;
    unsigned baud;
};
constexpr BaudCode kBaudCodes[] = {
    {0x02, 9600}, {0x03, 19200}, {0x04, 38400}, {0x05, 57600}, {0x06, 115200}};

std::string Hex(std::uint32_t v, int digits = 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(v));
    return buf;
}

std::uint8_t At(std::string_view s, std::size_t i) {
    return static_cast<std::uint8_t>(s[i]);
}

std::uint32_t Address(std::string_view core) {
    return At(core, 1) | At(core, 2) << 8 | static_cast<std::uint32_t>(At(core, 3)) << 16;
}

// Leading hexadecimal digits after an optional 0x; 0 when there are none.
std::uint32_t LeadingHex(std::string_view s) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    std::uint32_t v = 0;
    for (char c : s) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (d < 0)
            break;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
}

} // namespace

Bsl5xxLoader::Bsl5xxLoader(Bsl5xxConfig config, const Profile& profile)
    : config_(std::move(config)), memory_(config_), probe_(profile.probe),
      probeAnswer_(profile.probeAnswer), password_(profile.password) {}

std::unique_ptr<Loader> Bsl5xxLoader::Create(const Profile& profile) {
    Bsl5xxConfigResult r = ParseBsl5xxConfig(profile);
    if (!r.ok)
        return nullptr;
    return std::make_unique<Bsl5xxLoader>(std::move(r.config), profile);
}

void Bsl5xxLoader::Enter(LoaderContext& ctx) {
    if (!preloaded_) {
        preloaded_ = true;
        PreloadVectors(ctx.Flash());
    }
    line_ = kStartLine;
    rx_ = Rx::WaitHeader;
    frame_.clear();
    unlocked_ = false;
    memory_.Reset();
    ctx.Note("msp430-5xx, chip " + Hex(config_.chipId));
}

// The firmware's password answer (reset vector first, six characters each) is the old
// firmware's vector table, the unused vectors erased: the tool's password fits it. A
// table a loader has written is the firmware's own and stays.
void Bsl5xxLoader::PreloadVectors(FlashMemory& flash) const {
    for (std::uint32_t a = kVectorTable; a < kVectorTable + 2 * kVectors; ++a) {
        if (flash.Programmed(a))
            return;
    }
    std::string table(2 * kVectors, static_cast<char>(FlashMemory::kErased));
    std::size_t groups = std::clamp<std::size_t>(password_.size() / kPasswordGroup, 1, kVectors);
    for (std::size_t i = 0; i < groups; ++i) {
        std::uint32_t v =
            LeadingHex(std::string_view(password_).substr(i * kPasswordGroup, kPasswordGroup));
        std::size_t at = 2 * (kVectors - 1 - i);
        table[at] = static_cast<char>(v & 0xFF);
        table[at + 1] = static_cast<char>(v >> 8 & 0xFF);
    }
    flash.SetOld(kVectorTable, table);
}

void Bsl5xxLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    left_ = false;
    // The instrument's loader answers the bootloader probe when it comes on its own.
    if (rx_ == Rx::WaitHeader && !probeAnswer_.empty() && bytes == probe_) {
        ctx.Note("probe answered");
        ctx.Send(probeAnswer_);
        return;
    }
    for (char c : bytes) {
        if (left_ || rx_ == Rx::Lost)
            return;
        TakeByte(static_cast<std::uint8_t>(c), ctx);
    }
}

void Bsl5xxLoader::TakeByte(std::uint8_t b, LoaderContext& ctx) {
    switch (rx_) {
    case Rx::WaitHeader:
        if (b == kHeader) {
            frame_.clear();
            rx_ = Rx::Body;
        } else {
            Error(kErrHeader, "header " + Hex(b, 2), ctx);
        }
        return;
    case Rx::Body: {
        frame_.push_back(static_cast<char>(b));
        if (frame_.size() < 2)
            return;
        std::size_t n = At(frame_, 0) | At(frame_, 1) << 8;
        if (frame_.size() == 2 && (n == 0 || n > kBufferSize)) {
            rx_ = Rx::WaitHeader;
            Error(n == 0 ? kErrSizeZero : kErrSizeTooLarge, "length " + std::to_string(n), ctx);
        } else if (frame_.size() == n + 4) {
            rx_ = Rx::WaitHeader;
            Execute(ctx);
        }
        return;
    }
    case Rx::Lost:
        return;
    }
}

void Bsl5xxLoader::Execute(LoaderContext& ctx) {
    unsigned n = ++framesSeen_;
    std::string number = std::to_string(n);
    if (config_.hangupFrames.contains(n)) {
        ctx.Note("fault: frame " + number + ", line closed");
        rx_ = Rx::Lost;
        ctx.HangUp();
        return;
    }
    if (config_.silentFrames.contains(n)) {
        ctx.Note("fault: frame " + number + " lost");
        return;
    }
    if (config_.refuseFrames.contains(n) || TakeRefusal())
        return Error(kErrChecksum, "fault: frame " + number + " refused", ctx);
    std::string_view core = std::string_view(frame_).substr(2, frame_.size() - 4);
    auto crc = static_cast<std::uint16_t>(At(frame_, frame_.size() - 2) |
                                          At(frame_, frame_.size() - 1) << 8);
    if (Crc16(core) != crc)
        return Error(kErrChecksum, "bad CRC", ctx);
    std::string why;
    if (std::uint8_t error = Precheck(core, why); error != kAck)
        return Error(error, why, ctx);
    SendByte(kAck, ctx);
    if (auto it = config_.messageFrames.find(n); it != config_.messageFrames.end()) {
        ctx.Note("fault: frame " + number + " answered message " + std::to_string(it->second));
        return Message(it->second, ctx);
    }
    Run(core, ctx);
}

// The answer byte a frame gets before it runs: the acknowledge, or an error for a
// command whose core has the wrong size or an unknown speed.
std::uint8_t Bsl5xxLoader::Precheck(std::string_view core, std::string& why) const {
    std::size_t size = 0;
    switch (At(core, 0)) {
    case kCmdRxData:
        if (core.size() >= 4)
            return kAck;
        size = 4;
        break;
    case kCmdRxPassword:
        size = 1 + kPasswordLength;
        break;
    case kCmdEraseSegment:
    case kCmdLoadPc:
        size = 4;
        break;
    case kCmdTxData:
        size = 6;
        break;
    case kCmdChangeBaud:
        if (core.size() == 2 && std::none_of(std::begin(kBaudCodes), std::end(kBaudCodes),
                                             [&](BaudCode c) { return c.code == At(core, 1); })) {
            why = "baud rate code " + Hex(At(core, 1), 2);
            return kErrBaudRate;
        }
        size = 2;
        break;
    case kCmdToggleInfoLock:
    case kCmdMassErase:
    case kCmdTxVersion:
        size = 1;
        break;
    default:
        return kAck; // answered with a message
    }
    if (core.size() == size)
        return kAck;
    why = "command " + Hex(At(core, 0), 2) + " with " + std::to_string(core.size()) + " core bytes";
    return kErrUnknown;
}

void Bsl5xxLoader::Run(std::string_view core, LoaderContext& ctx) {
    std::uint8_t cmd = At(core, 0);
    bool open = cmd == kCmdRxPassword || cmd == kCmdMassErase || cmd == kCmdChangeBaud;
    bool known = open || cmd == kCmdRxData || cmd == kCmdEraseSegment ||
                 cmd == kCmdToggleInfoLock || cmd == kCmdLoadPc || cmd == kCmdTxData ||
                 cmd == kCmdTxVersion;
    if (!known) {
        ctx.Note("unknown command " + Hex(cmd, 2));
        return Message(kMsgUnknownCommand, ctx);
    }
    if (!unlocked_ && !open) {
        ctx.Note("command " + Hex(cmd, 2) + " while locked");
        return Message(kMsgLocked, ctx);
    }
    switch (cmd) {
    case kCmdRxData:
        return RxData(core, ctx);
    case kCmdRxPassword:
        return RxPassword(core, ctx);
    case kCmdEraseSegment:
        return EraseSegment(core, ctx);
    case kCmdToggleInfoLock:
        memory_.ToggleInfoALock();
        ctx.Note(memory_.InfoALocked() ? "information segment A locked"
                                       : "information segment A unlocked");
        return Message(kMsgOk, ctx);
    case kCmdMassErase:
        memory_.MassErase(ctx.Flash());
        return Message(kMsgOk, ctx);
    case kCmdLoadPc:
        return LoadPc(core, ctx);
    case kCmdTxData:
        return TxData(core, ctx);
    case kCmdTxVersion:
        return Respond(std::string(1, static_cast<char>(kRespData)) +
                           std::string(config_.version.begin(), config_.version.end()),
                       ctx);
    case kCmdChangeBaud:
        return ChangeBaud(core, ctx);
    }
}

void Bsl5xxLoader::RxData(std::string_view core, LoaderContext& ctx) {
    std::uint32_t a = Address(core);
    if (memory_.Write(a, core.substr(4), ctx.Flash()))
        return Message(kMsgOk, ctx);
    ctx.Note("write at " + Hex(a, 5) + " does not read back (not erased, or not writable)");
    Message(kMsgWriteCheckFailed, ctx);
}

void Bsl5xxLoader::RxPassword(std::string_view core, LoaderContext& ctx) {
    std::string vectors = memory_.Read(kVectorTable, kPasswordLength, ctx.Flash());
    if (core.substr(1) == vectors) {
        unlocked_ = true;
        return Message(kMsgOk, ctx);
    }
    ctx.Note("wrong password: main flash erased");
    unlocked_ = false;
    memory_.MassErase(ctx.Flash());
    Message(kMsgPasswordError, ctx);
}

void Bsl5xxLoader::EraseSegment(std::string_view core, LoaderContext& ctx) {
    std::uint32_t a = Address(core);
    switch (memory_.EraseSegment(a, ctx.Flash())) {
    case Bsl5xxMemory::EraseResult::Ok:
        break;
    case Bsl5xxMemory::EraseResult::Locked:
        // The flash controller ignores the erase; only the write after it can tell.
        ctx.Note("erase at " + Hex(a, 5) + ": information segment A is locked, not erased");
        break;
    case Bsl5xxMemory::EraseResult::NotErasable:
        ctx.Note("erase at " + Hex(a, 5) + ": no erasable flash there");
        return Message(kMsgFailBit, ctx);
    }
    Message(kMsgOk, ctx);
}

void Bsl5xxLoader::LoadPc(std::string_view core, LoaderContext& ctx) {
    std::uint32_t a = Address(core) & ~1u;
    std::string word = memory_.Read(a, 2, ctx.Flash());
    if (memory_.RegionOf(a) == Bsl5xxMemory::Region::Main && word != "\xFF\xFF") {
        ctx.Note("load PC " + Hex(a, 5) + ": firmware starts");
        left_ = true;
        ctx.LeaveLoader();
        return;
    }
    ctx.Note("load PC " + Hex(a, 5) + ": no firmware there, the processor is lost");
    rx_ = Rx::Lost;
}

void Bsl5xxLoader::TxData(std::string_view core, LoaderContext& ctx) {
    std::uint32_t a = Address(core);
    std::size_t length = At(core, 4) | At(core, 5) << 8;
    std::string data = memory_.Read(a, length, ctx.Flash());
    // Longer blocks come in several response frames, each filling the buffer at most.
    std::size_t at = 0;
    do {
        std::size_t n = std::min(data.size() - at, kBufferSize - 1);
        Respond(std::string(1, static_cast<char>(kRespData)) + data.substr(at, n), ctx);
        at += n;
    } while (at < data.size());
}

void Bsl5xxLoader::ChangeBaud(std::string_view core, LoaderContext& ctx) {
    for (BaudCode c : kBaudCodes) {
        if (c.code == At(core, 1))
            line_.baud = c.baud; // the acknowledge went out at the old speed
    }
    ctx.Note("loader now at " + std::to_string(line_.baud) + " baud");
}

void Bsl5xxLoader::SendByte(std::uint8_t b, LoaderContext& ctx) {
    ctx.Send(std::string(1, static_cast<char>(b)));
}

void Bsl5xxLoader::Error(std::uint8_t code, std::string_view why, LoaderContext& ctx) {
    ctx.Note("error " + Hex(code, 2) + ": " + std::string(why));
    SendByte(code, ctx);
}

void Bsl5xxLoader::Message(std::uint8_t code, LoaderContext& ctx) {
    const char core[2] = {static_cast<char>(kRespMessage), static_cast<char>(code)};
    Respond(std::string_view(core, 2), ctx);
}

void Bsl5xxLoader::Respond(std::string_view core, LoaderContext& ctx) {
    std::string f = WrapCore(core);
    if (config_.corruptResponses.contains(++responsesSent_)) {
        ctx.Note("fault: response " + std::to_string(responsesSent_) + " with a bad CRC");
        f.back() = static_cast<char>(f.back() ^ 0xFF);
    }
    ctx.Send(f);
}

} // namespace sim::bsl5xx
