#include "tools/instrument-sim/RomBslLoader.h"

#include <cstdio>

namespace sim::rombsl {
namespace {

constexpr LineSettings kStartLine{9600, 1};
constexpr unsigned kBaudRates[] = {9600, 19200, 38400}; // 0x20: LL selects one
constexpr std::uint32_t kVectorTable = 0xFFE0;
constexpr std::uint32_t kResetVector = 0xFFFE;
constexpr std::uint8_t kFlashKey = 0xA5;
constexpr std::uint8_t kEraseSegment = 0x02, kEraseMain = 0x04, kEraseAll = 0x06;
constexpr std::uint32_t kMaxOffset = 0x0F; // 20-bit addresses
constexpr std::size_t kVersionBlock = 16;

std::string Hex(std::uint32_t v, int digits = 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(v));
    return buf;
}

} // namespace

RomBslLoader::RomBslLoader(RomBslConfig config) : config_(std::move(config)), memory_(config_) {}

std::unique_ptr<Loader> RomBslLoader::Create(const Profile& profile) {
    RomBslConfigResult r = ParseRomBslConfig(profile);
    if (!r.ok)
        return nullptr;
    return std::make_unique<RomBslLoader>(std::move(r.config));
}

void RomBslLoader::Enter(LoaderContext& ctx) {
    if (!preloaded_) {
        preloaded_ = true;
        InstallOldVectors(ctx.Flash());
    }
    Restart();
    memory_.ForgetRam();
    ctx.Note("msp430-rom " + Hex(config_.versionHigh, 1) + "." + Hex(config_.versionLow, 2) +
             ", chip " + Hex(config_.chipId));
}

// The old firmware's vector table: unused vectors erased and the reset vector the
// profile names, so that the tool's password (30 x 0xFF and the reset vector) fits. A
// table a loader has written is the firmware's own and stays.
void RomBslLoader::InstallOldVectors(FlashMemory& flash) const {
    for (std::uint32_t a = kVectorTable; a <= kResetVector + 1; ++a) {
        if (flash.Programmed(a))
            return;
    }
    std::string table(kResetVector + 2 - kVectorTable, static_cast<char>(FlashMemory::kErased));
    if (config_.resetVector) {
        table[kResetVector - kVectorTable] = static_cast<char>(*config_.resetVector & 0xFF);
        table[kResetVector + 1 - kVectorTable] = static_cast<char>(*config_.resetVector >> 8);
    }
    flash.SetOld(kVectorTable, table);
}

void RomBslLoader::Restart() {
    line_ = kStartLine;
    rx_ = Rx::WaitSync;
    frame_.clear();
    unlocked_ = false;
    patchArmed_ = false;
    offset_ = 0;
}

void RomBslLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    left_ = false;
    for (char c : bytes) {
        if (left_ || rx_ == Rx::Lost)
            return;
        TakeByte(static_cast<std::uint8_t>(c), ctx);
    }
}

void RomBslLoader::TakeByte(std::uint8_t b, LoaderContext& ctx) {
    switch (rx_) {
    case Rx::WaitSync:
        // Anything but the synchronisation byte is noise between frames.
        if (b == kSync) {
            ctx.Send(std::string(1, static_cast<char>(kAck)));
            rx_ = Rx::WaitHeader;
        }
        return;
    case Rx::WaitHeader:
        if (b == kSync) {
            frame_.assign(1, static_cast<char>(b));
            rx_ = Rx::Body;
        } else {
            rx_ = Rx::WaitSync;
            Refuse(ctx, "frame without header " + Hex(b, 2));
        }
        return;
    case Rx::Body: {
        frame_.push_back(static_cast<char>(b));
        if (frame_.size() < kFrameHead)
            return;
        auto l1 = static_cast<std::uint8_t>(frame_[2]);
        if (frame_.size() == kFrameHead &&
            (l1 != static_cast<std::uint8_t>(frame_[3]) || l1 < kMinL1 || l1 > kMaxL1 || l1 % 2)) {
            rx_ = Rx::WaitSync;
            Refuse(ctx, "bad frame length L1 " + Hex(l1, 2) + " L2 " +
                            Hex(static_cast<std::uint8_t>(frame_[3]), 2));
            return;
        }
        if (frame_.size() == kFrameHead + l1 + 2) {
            rx_ = Rx::WaitSync;
            Execute(ctx);
        }
        return;
    }
    case Rx::Lost:
        return;
    }
}

void RomBslLoader::Execute(LoaderContext& ctx) {
    unsigned n = ++framesSeen_;
    NoteFrame(n, ctx);
    if (config_.silentFrames.contains(n)) {
        ctx.Note("fault: frame " + std::to_string(n) + " lost");
        return;
    }
    if (config_.hangupFrames.contains(n)) {
        ctx.Note("fault: frame " + std::to_string(n) + " lost, hang-up");
        ctx.HangUp();
        return;
    }
    if (config_.refuseFrames.contains(n) || TakeRefusal()) {
        Refuse(ctx, "fault: frame " + std::to_string(n) + " refused");
        return;
    }
    Frame f;
    if (!ParseFrame(frame_, f)) {
        Refuse(ctx, "bad checksum");
        return;
    }
    bool patched = patchArmed_;
    patchArmed_ = false;
    bool open = f.cmd == kCmdRxPassword || f.cmd == kCmdMassErase || f.cmd == kCmdTxVersion;
    if (!unlocked_ && !open) {
        Refuse(ctx, "command " + Hex(f.cmd, 2) + " before the password");
        return;
    }
    Run(f, patched, ctx);
}

// Numbered as the fault keys count frames, so that a transcript tells which number to pick.
void RomBslLoader::NoteFrame(unsigned n, LoaderContext& ctx) const {
    auto word = [&](std::size_t i) {
        return static_cast<std::uint8_t>(frame_[i]) | static_cast<std::uint8_t>(frame_[i + 1]) << 8;
    };
    ctx.Note("frame " + std::to_string(n) + " at " + std::to_string(line_.baud) +
             " baud: command " + Hex(static_cast<std::uint8_t>(frame_[1]), 2) + ", address " +
             Hex(word(4)) + ", length " + Hex(word(6)));
}

void RomBslLoader::Run(const Frame& f, bool patched, LoaderContext& ctx) {
    switch (f.cmd) {
    case kCmdRxPassword:
        return RxPassword(f, ctx);
    case kCmdRxData:
        return RxData(f, ctx);
    case kCmdTxData:
        return TxData(f, patched, ctx);
    case kCmdEraseSegment:
        return EraseSegment(f, ctx);
    case kCmdMassErase:
        return MassErase(f, ctx);
    case kCmdLoadPc:
        return LoadPc(f, ctx);
    case kCmdEraseCheck:
        return EraseCheck(f, ctx);
    case kCmdTxVersion:
        return TxVersion(ctx);
    case kCmdChangeBaud:
        return ChangeBaud(f, ctx);
    case kCmdMemoryOffset:
        return SetMemoryOffset(f, ctx);
    default:
        return Refuse(ctx, "unknown command " + Hex(f.cmd, 2));
    }
}

void RomBslLoader::RxPassword(const Frame& f, LoaderContext& ctx) {
    if (f.data.size() != kPasswordLength)
        return Refuse(ctx, "password of " + std::to_string(f.data.size()) + " bytes");
    for (std::size_t i = 0; i < kPasswordLength; ++i) {
        std::uint8_t want = config_.password
                                ? (*config_.password)[i]
                                : ctx.Flash().At(kVectorTable + static_cast<std::uint32_t>(i));
        if (static_cast<std::uint8_t>(f.data[i]) != want)
            return Refuse(ctx, "wrong password");
    }
    unlocked_ = true;
    Ack(ctx);
}

void RomBslLoader::RxData(const Frame& f, LoaderContext& ctx) {
    if (f.Length() != f.data.size())
        return Refuse(ctx, "write length " + std::to_string(f.Length()) + " with " +
                               std::to_string(f.data.size()) + " data bytes");
    std::uint32_t a = Effective(f.address);
    switch (memory_.Write(a, f.data, ctx.Flash())) {
    case RomBslMemory::WriteResult::Refused:
        return Refuse(ctx, "write to unmapped or read-only memory at " + Hex(a, 5));
    case RomBslMemory::WriteResult::ReadsBackWrong:
        ctx.Note("write at " + Hex(a, 5) + " does not read back (flash not erased?)");
        if (config_.verifyWrite)
            return Refuse(ctx, "write check failed");
        return Ack(ctx);
    case RomBslMemory::WriteResult::Ok:
        return Ack(ctx);
    }
}

void RomBslLoader::TxData(const Frame& f, bool patched, LoaderContext& ctx) {
    std::size_t length = f.Length();
    if (length == 0 || length > kMaxReadLength)
        return Refuse(ctx, "read length " + std::to_string(length));
    std::uint32_t a = Effective(f.address);
    // The 1.10 ROM reads flash wrongly; its patch in RAM, run just before, reads it right.
    bool romBug = config_.needsPatch && !patched;
    std::string data;
    if (!memory_.Read(a, length, ctx.Flash(), romBug, data))
        return Refuse(ctx, "read of unmapped memory at " + Hex(a, 5));
    if (romBug && memory_.RegionOf(a) == RomBslMemory::Region::Flash)
        ctx.Note("flash read without the patch: bytes come back swapped");
    SendData(data, ctx);
}

void RomBslLoader::EraseSegment(const Frame& f, LoaderContext& ctx) {
    if (f.lh != kFlashKey || f.ll != kEraseSegment)
        return Refuse(ctx, "erase control " + Hex(f.Length()));
    std::uint32_t a = Effective(f.address);
    if (!memory_.EraseSegment(a, ctx.Flash()))
        return Refuse(ctx, "no flash segment at " + Hex(a, 5));
    Ack(ctx);
}

void RomBslLoader::MassErase(const Frame& f, LoaderContext& ctx) {
    if (f.lh != kFlashKey || (f.ll != kEraseMain && f.ll != kEraseAll))
        return Refuse(ctx, "mass erase control " + Hex(f.Length()));
    if (!memory_.MassErase(f.ll == kEraseAll, ctx.Flash()))
        ctx.Note("mass erase: flash layout exceeds the instrument's flash");
    Ack(ctx);
}

void RomBslLoader::LoadPc(const Frame& f, LoaderContext& ctx) {
    std::uint32_t a = Effective(f.address);
    Ack(ctx);
    switch (memory_.RegionOf(a)) {
    case RomBslMemory::Region::Flash:
        ctx.Note("load PC " + Hex(a, 5) + ": firmware starts");
        left_ = true;
        ctx.LeaveLoader();
        return;
    case RomBslMemory::Region::BootRom:
        ctx.Note("load PC " + Hex(a, 5) + ": loader restarts, locked");
        Restart();
        return;
    case RomBslMemory::Region::Ram:
        if (memory_.RamWritten(a, 2)) {
            ctx.Note("load PC " + Hex(a, 5) + ": code in RAM runs the next command");
            patchArmed_ = true;
            return;
        }
        break;
    case RomBslMemory::Region::None:
        break;
    }
    ctx.Note("load PC " + Hex(a, 5) + ": no code there, the processor is lost");
    rx_ = Rx::Lost;
}

void RomBslLoader::EraseCheck(const Frame& f, LoaderContext& ctx) {
    std::string data;
    std::uint32_t a = Effective(f.address);
    if (f.Length() == 0 || !memory_.Read(a, f.Length(), ctx.Flash(), false, data))
        return Refuse(ctx, "erase check of unmapped memory at " + Hex(a, 5));
    if (data.find_first_not_of('\xFF') != std::string::npos)
        return Refuse(ctx, "erase check: not erased");
    Ack(ctx);
}

void RomBslLoader::TxVersion(LoaderContext& ctx) {
    if (!config_.txVersion)
        return Refuse(ctx, "this loader version has no version command");
    std::string data;
    memory_.Read(RomBslMemory::kChipIdAddress, kVersionBlock, ctx.Flash(), false, data);
    SendData(data, ctx);
}

void RomBslLoader::ChangeBaud(const Frame& f, LoaderContext& ctx) {
    if (!config_.changeBaud)
        return Refuse(ctx, "this loader version cannot change its speed");
    if (f.ll >= std::size(kBaudRates))
        return Refuse(ctx, "baud rate index " + Hex(f.ll, 2));
    Ack(ctx); // still at the old speed
    line_.baud = kBaudRates[f.ll];
    if (config_.baudClock && f.address != *config_.baudClock) {
        ctx.Note("clock settings " + Hex(f.address & 0xFF, 2) + Hex(f.address >> 8, 2) +
                 " do not give " + std::to_string(line_.baud) + " baud on this chip; lost");
        rx_ = Rx::Lost;
        return;
    }
    ctx.Note("loader now at " + std::to_string(line_.baud) + " baud");
}

void RomBslLoader::SetMemoryOffset(const Frame& f, LoaderContext& ctx) {
    if (!config_.memoryOffset)
        return Refuse(ctx, "this loader has no memory offset");
    // The page is in LL; LH carries filler from the tool.
    if (f.ll > kMaxOffset)
        return Refuse(ctx, "memory offset " + Hex(f.ll, 2));
    offset_ = f.ll;
    Ack(ctx);
}

void RomBslLoader::Ack(LoaderContext& ctx) {
    ctx.Send(std::string(1, static_cast<char>(kAck)));
}

void RomBslLoader::Refuse(LoaderContext& ctx, std::string_view why) {
    ctx.Note(std::string("refused: ") + std::string(why));
    ctx.Send(std::string(1, static_cast<char>(kRefuse)));
}

void RomBslLoader::SendData(std::string_view data, LoaderContext& ctx) {
    std::string f = DataFrame(data);
    if (config_.corruptReplies.contains(++repliesSent_)) {
        ctx.Note("fault: reply " + std::to_string(repliesSent_) + " with a bad checksum");
        f[f.size() - 2] = static_cast<char>(f[f.size() - 2] ^ 0xFF);
    }
    ctx.Send(f);
}

} // namespace sim::rombsl
