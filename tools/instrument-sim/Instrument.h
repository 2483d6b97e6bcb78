#pragma once

#include "tools/instrument-sim/Command.h"
#include "tools/instrument-sim/FlashMemory.h"
#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/Profile.h"
#include "tools/instrument-sim/Transcript.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

enum class InstrumentState {
    Asleep,  // firmware runs; only the wake command of the start mode is answered
    Awake,   // firmware runs in update mode; every command is answered
    InLoader // the loader has the line
};

// A file received through the lab file transfer ("A.12000#name" ... "A.12030")
// or kept by a loader.
struct LabFile {
    std::string name;
    std::string data;
    bool complete = false;
};

// The instrument without its line: bytes in, timed replies out. The owner reads
// the line settings, feeds received bytes and writes what TakeDue returns.
class Instrument : private LoaderContext {
public:
    using Millis = std::uint64_t;

    // A null loader means the registry entry the profile names.
    Instrument(Profile profile, std::unique_ptr<Loader> loader, Transcript* transcript);

    InstrumentState State() const { return state_; }
    LineSettings ExpectedLine() const;

    // toolLine null: the line is not judged (a real device does that in
    // hardware). Bytes at other settings than the instrument's arrive as its
    // receiver reads them.
    void Receive(std::string_view bytes, const LineSettings* toolLine, Millis now);

    // The replies due at now, in order, each with the line it leaves at.
    std::vector<Reply> TakeReplies(Millis now);
    // Their bytes alone, for an owner that does not model the line.
    std::string TakeDue(Millis now);
    std::optional<Millis> NextDue() const;

    bool HangupRequested() const { return hangup_; }
    // The power switch (profile power=off): until then nothing is received
    // or sent; the instrument then starts as start= says.
    void SwitchOn();
    bool PoweredOn() const { return powered_; }
    bool InputHeld() const { return state_ == InstrumentState::InLoader && loader_->HoldsLine(); }
    unsigned LoaderExits() const { return loaderExits_; }
    const FlashMemory& Memory() const { return flash_; }
    const std::vector<LabFile>& LabFiles() const { return labFiles_; }
    const std::string& LastClock() const { return lastClock_; }
    const std::string& LastCalibration() const { return lastCalibration_; }

private:
    struct Pending {
        Millis due;
        Reply reply;
    };

    // LoaderContext
    void Send(std::string_view bytes) override { SendAfter(0, bytes); }
    void SendAfter(std::uint64_t delayMs, std::string_view bytes) override {
        SendAfterAt(delayMs, ExpectedLine(), bytes);
    }
    void SendAfterAt(std::uint64_t delayMs, const LineSettings& line,
                     std::string_view bytes) override;
    void DropPendingSends() override;
    FlashMemory& Flash() override { return flash_; }
    const Profile& GetProfile() const override { return profile_; }
    void LeaveLoader() override;
    void EnterLoader() override;
    void KeepFile(std::string_view name, std::string_view data) override;
    void AppendToFile(std::string_view name, std::string_view data) override;
    void HangUp() override { hangup_ = true; }
    void Note(std::string_view text) override;

    // What the instrument's receiver makes of bytes sent at toolLine.
    std::string Hear(std::string_view bytes, const LineSettings& toolLine);
    // Bytes as the receiver read them, to the loader or the firmware.
    void Deliver(std::string_view bytes);
    void StrikeLineFault(std::string_view before, std::string_view from);
    void ParseFirmwareBytes();
    void Dispatch(const Command& cmd);
    std::optional<FaultKind> FaultFor(long number, unsigned occurrence) const;
    unsigned LateHangupDelay(long number, unsigned occurrence) const;
    const std::vector<CueLine>* CueFor(long number, unsigned occurrence) const;
    std::vector<CueLine> DefaultReply(const Command& cmd) const;
    void ApplyEffects(const Command& cmd);
    // Why the firmware refuses a lab command in its present state; empty
    // when it takes it.
    std::string LabCommandRefusal(const Command& cmd) const;
    bool LabFileOpen() const { return !labFiles_.empty() && !labFiles_.back().complete; }
    void Queue(const std::vector<CueLine>& lines, bool garble);
    std::string Ack(long number) const;
    bool IsLoaderEntry(long number) const;
    bool EntryKeyOk(const Command& cmd) const;

    Profile profile_;
    std::unique_ptr<Loader> loader_;
    Transcript* transcript_;
    FlashMemory flash_;
    InstrumentState state_;
    std::string rxBuf_;
    std::deque<Pending> out_;
    Millis now_ = 0;
    std::map<long, unsigned> seen_;
    bool hangup_ = false;
    std::optional<Millis> hangupAt_; // a late hang-up's time
    unsigned loaderExits_ = 0;
    std::vector<LabFile> labFiles_;
    std::string lastClock_, lastCalibration_;
    // The line fault of the profile: bytes counted since the transfer began.
    bool faultCounting_ = false;
    bool faultStruck_ = false;
    std::uint64_t faultBytes_ = 0;
    bool muted_ = false;
    bool firmwareDead_ = false; // after_restart=silent: the new firmware does not run
    LineFaultKind replyFault_ = LineFaultKind::None;
    unsigned firmwareRefusals_ = 0;
    // The last pair of differing settings that still read as sent, noted once.
    std::optional<std::pair<LineSettings, LineSettings>> lastUngarbled_;
    bool variantPending_ = false; // reply 208 given, the tool's A.1220 not yet come
    bool powered_ = true;
};

} // namespace sim
