#include "tools/instrument-sim/Instrument.h"

#include "tools/instrument-sim/UartModel.h"

#include <algorithm>

namespace sim {
namespace {

// Device commands the firmware knows.
constexpr long kCmdStart = 1000;
constexpr long kCmdExit = 1111;
constexpr long kCmdExitTxt = 1121;
constexpr long kCmdPcb = 2003;
constexpr long kCmdDevice = 2000;
constexpr long kCmdVersion = 2001;
constexpr long kCmdSerial = 4001;
constexpr long kCmdPasswordQuery[] = {5577, 5555};
constexpr long kCmdPasswordEntry[] = {5588, 5566, 5567};
constexpr long kCmdLabOpen = 12000;
constexpr long kCmdLabBlock = 12010;
constexpr long kCmdLabClose = 12030;
constexpr long kCmdClock = 1600;
constexpr long kCmdCalibration = 6162;
constexpr long kCmdBootFile = 2005;       // update the bootloader file
constexpr long kCmdVariantTaken = 1220;   // the tool has taken the memory variant
constexpr long kReplyMemoryVariant = 208; // text: the variant character
// Commands the firmware acknowledges without more to say.
constexpr long kAckOnly[] = {kCmdStart,       kCmdExit,    kCmdExitTxt,  kCmdClock,
                             kCmdCalibration, 1220,        1500,         2100,
                             kCmdBootFile,    kCmdLabOpen, kCmdLabBlock, kCmdLabClose};

constexpr std::string_view kLabBlockPrefix = "A.12010#";
// Longest command line kept while its line end is missing.
constexpr std::size_t kMaxCommandLine = 512;
constexpr std::size_t kMaxLabFile = 16u * 1024 * 1024;

template <std::size_t N> bool OneOf(long n, const long (&list)[N]) {
    return std::find(std::begin(list), std::end(list), n) != std::end(list);
}

// Deterministic damage that never makes a line end or a final "!" or "?".
char GarbleByte(char c) {
    auto g = static_cast<char>(c ^ 0x55);
    if (g == '\r' || g == '\n' || g == '!' || g == '?' || g == '\0')
        return '\xFF';
    return g;
}

} // namespace

Instrument::Instrument(Profile profile, std::unique_ptr<Loader> loader, Transcript* transcript)
    : profile_(std::move(profile)), loader_(std::move(loader)), transcript_(transcript),
      flash_(profile_.flashStart, profile_.flashSize),
      state_(profile_.startInLoader ? InstrumentState::InLoader : InstrumentState::Asleep),
      powered_(!profile_.poweredOff) {
    if (profile_.oldImage)
        flash_.FillOld();
    if (!loader_)
        loader_ = CreateLoader(profile_.loader, profile_);
    if (!loader_) {
        Note("unknown loader '" + profile_.loader + "', using none");
        loader_ = CreateLoader("none", profile_);
    }
    if (powered_ && state_ == InstrumentState::InLoader) {
        faultCounting_ = !profile_.lineFault.duringLab;
        loader_->Enter(*this);
    }
}

void Instrument::SwitchOn() {
    if (powered_)
        return;
    powered_ = true;
    Note("switched on");
    if (state_ == InstrumentState::InLoader) {
        faultCounting_ = !profile_.lineFault.duringLab;
        loader_->Enter(*this);
    }
}

LineSettings Instrument::ExpectedLine() const {
    if (state_ == InstrumentState::InLoader)
        return loader_->Line();
    return loader_->FirmwareLine().value_or(profile_.line);
}

void Instrument::Receive(std::string_view bytes, const LineSettings* toolLine, Millis now) {
    if (hangup_)
        return; // the line is gone
    now_ = std::max(now_, now);
    if (transcript_)
        transcript_->Received(bytes);
    if (!powered_) {
        Note("switched off: " + std::to_string(bytes.size()) + " bytes lost");
        return;
    }
    std::string heard;
    if (toolLine && !(*toolLine == ExpectedLine())) {
        heard = Hear(bytes, *toolLine);
        if (heard != bytes) {
            // Noise from a search at other speeds: the line fault's byte
            // counts what arrives at the right line only.
            Deliver(heard);
            return;
        }
    }
    if (faultCounting_ && !faultStruck_ && profile_.lineFault.kind != LineFaultKind::None &&
        faultBytes_ + bytes.size() >= profile_.lineFault.at) {
        const std::size_t at = profile_.lineFault.at - faultBytes_ - 1;
        faultStruck_ = true;
        StrikeLineFault(bytes.substr(0, at), bytes.substr(at));
        return;
    }
    if (faultCounting_)
        faultBytes_ += bytes.size();
    Deliver(bytes);
}

std::string Instrument::Hear(std::string_view bytes, const LineSettings& toolLine) {
    const LineSettings expected = ExpectedLine();
    // The instrument's receiver tests every stop bit it expects.
    std::string heard = ReadAs(bytes, FrameOf(toolLine), FrameOf(expected), StopCheck::Every);
    const std::string where =
        "tool at " + LineText(toolLine) + ", instrument at " + LineText(expected);
    if (heard != bytes) {
        Note("garbled " + std::to_string(bytes.size()) + " bytes: " + where + "; heard " +
             (heard.empty() ? std::string("nothing") : heard));
        lastUngarbled_.reset();
    } else if (lastUngarbled_ != std::pair(toolLine, expected)) {
        Note("read as sent: " + where);
        lastUngarbled_ = std::pair(toolLine, expected);
    }
    return heard;
}

void Instrument::Deliver(std::string_view bytes) {
    if (muted_ || hangup_ || bytes.empty())
        return;
    if (state_ == InstrumentState::InLoader) {
        loader_->Receive(bytes, *this);
        return;
    }
    if (firmwareDead_)
        return;
    rxBuf_.append(bytes);
    ParseFirmwareBytes();
}

void Instrument::StrikeLineFault(std::string_view before, std::string_view from) {
    const LineFaultPlan& plan = profile_.lineFault;
    Note(std::string("line fault: ") + LineFaultName(plan.kind) + " at byte " +
         std::to_string(plan.at));
    Deliver(before);
    switch (plan.kind) {
    case LineFaultKind::Drop:
        from.remove_prefix(1);
        break;
    case LineFaultKind::Silent:
        muted_ = true;
        out_.clear();
        return;
    case LineFaultKind::Hangup:
        hangup_ = true;
        return;
    case LineFaultKind::Refuse:
        if (state_ == InstrumentState::InLoader)
            loader_->RefuseNext(plan.count);
        else
            firmwareRefusals_ = plan.count;
        break;
    case LineFaultKind::Garbage:
        SendAfter(0, NoiseBytes());
        break;
    case LineFaultKind::Flip:
    case LineFaultKind::WrongSpeed:
        replyFault_ = plan.kind;
        break;
    case LineFaultKind::None:
        break;
    }
    Deliver(from);
}

void Instrument::ParseFirmwareBytes() {
    while (!rxBuf_.empty() && state_ != InstrumentState::InLoader && !hangup_) {
        if (rxBuf_.starts_with(kLabBlockPrefix)) {
            // The data block carries a count byte and raw bytes instead of a line end.
            if (rxBuf_.size() <= kLabBlockPrefix.size())
                return;
            std::size_t n = static_cast<unsigned char>(rxBuf_[kLabBlockPrefix.size()]);
            std::size_t total = kLabBlockPrefix.size() + 1 + n;
            if (rxBuf_.size() < total)
                return;
            Command cmd;
            cmd.number = kCmdLabBlock;
            cmd.args = rxBuf_.substr(kLabBlockPrefix.size() + 1, n);
            cmd.text = rxBuf_.substr(0, total);
            rxBuf_.erase(0, total);
            Dispatch(cmd);
            continue;
        }
        std::size_t lf = rxBuf_.find('\n');
        if (lf == std::string::npos) {
            if (rxBuf_.size() > kMaxCommandLine) {
                Note("discarded " + std::to_string(rxBuf_.size()) + " bytes without line end");
                rxBuf_.clear();
            }
            return;
        }
        std::string line = rxBuf_.substr(0, lf);
        rxBuf_.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (auto cmd = ParseCommand(line))
            Dispatch(*cmd);
        else
            Note("not a command: " + Transcript::Escape(line));
    }
    if (state_ == InstrumentState::InLoader && !rxBuf_.empty()) {
        std::string rest;
        rest.swap(rxBuf_);
        loader_->Receive(rest, *this);
    }
}

void Instrument::Dispatch(const Command& cmd) {
    if (cmd.family == 'U') {
        // The reset: the firmware starts again and leaves update mode.
        Note("reset: " + cmd.text);
        state_ = InstrumentState::Asleep;
        return;
    }
    unsigned occurrence = ++seen_[cmd.number];
    if (state_ == InstrumentState::Asleep && cmd.number != WakeCommand(profile_.startMode)) {
        Note("asleep, ignored: " + Transcript::Escape(cmd.text));
        return;
    }
    if (firmwareRefusals_ > 0) {
        --firmwareRefusals_;
        Note("line fault: refused " + Transcript::Escape(cmd.text));
        Queue({{0, "?"}}, false);
        return;
    }
    std::optional<FaultKind> fault = FaultFor(cmd.number, occurrence);
    if (fault == FaultKind::Silent) {
        Note("fault: silent");
        return;
    }
    if (fault == FaultKind::Hangup) {
        Note("fault: hang-up");
        hangup_ = true;
        return;
    }
    if (fault == FaultKind::Refuse) {
        Note("fault: refused");
        Queue({{0, "?"}}, false);
        return;
    }
    if (fault == FaultKind::LateHangup && !hangupAt_) {
        const unsigned delayMs = LateHangupDelay(cmd.number, occurrence);
        Note("fault: hang-up in " + std::to_string(delayMs) + " ms");
        hangupAt_ = now_ + profile_.replyDelayMs + delayMs;
    }
    if (state_ != InstrumentState::Asleep && loader_->FirmwareCommand(cmd, *this))
        return;
    if (const std::string why = LabCommandRefusal(cmd); !why.empty()) {
        Note("lab file transfer: " + why + ", refused");
        Queue({{0, "?"}}, false);
        return;
    }
    const std::vector<CueLine>* cue = CueFor(cmd.number, occurrence);
    Queue(cue ? *cue : DefaultReply(cmd), fault == FaultKind::Garble);
    ApplyEffects(cmd);
}

std::optional<FaultKind> Instrument::FaultFor(long number, unsigned occurrence) const {
    auto it = profile_.faults.find({number, occurrence});
    if (it == profile_.faults.end())
        it = profile_.faults.find({number, 0});
    if (it == profile_.faults.end())
        return std::nullopt;
    return it->second;
}

unsigned Instrument::LateHangupDelay(long number, unsigned occurrence) const {
    auto it = profile_.lateHangupMs.find({number, occurrence});
    if (it == profile_.lateHangupMs.end())
        it = profile_.lateHangupMs.find({number, 0});
    return it == profile_.lateHangupMs.end() ? 0 : it->second;
}

const std::vector<CueLine>* Instrument::CueFor(long number, unsigned occurrence) const {
    auto it = profile_.cues.find({number, occurrence});
    if (it == profile_.cues.end())
        it = profile_.cues.find({number, 0});
    return it == profile_.cues.end() ? nullptr : &it->second;
}

std::string Instrument::Ack(long number) const {
    return "A." + std::to_string(number) + "!";
}

bool Instrument::IsLoaderEntry(long number) const {
    return std::find(profile_.loaderEntry.begin(), profile_.loaderEntry.end(), number) !=
           profile_.loaderEntry.end();
}

bool Instrument::EntryKeyOk(const Command& cmd) const {
    return !OneOf(cmd.number, kCmdPasswordEntry) || cmd.args == profile_.entryKey;
}

std::vector<CueLine> Instrument::DefaultReply(const Command& cmd) const {
    const long n = cmd.number;
    auto ident = [&](int index, const std::string& text) {
        return std::vector<CueLine>{
            {0, "I." + std::to_string(profile_.idReplies[index]) + "#" + text}};
    };
    if (n == kCmdPcb)
        return ident(0, profile_.pcb);
    if (n == kCmdDevice)
        return ident(1, profile_.device);
    if (n == kCmdVersion)
        return ident(2, profile_.version);
    if (n == kCmdSerial)
        return ident(3, profile_.serial);
    if (OneOf(n, kCmdPasswordQuery))
        return {{0, "I." + std::to_string(profile_.passwordReply) + "#" + profile_.password}};
    if (n == kCmdBootFile && profile_.memoryVariant != 0)
        return {{0, "I." + std::to_string(kReplyMemoryVariant) + "#" + profile_.memoryVariant}};
    if (!EntryKeyOk(cmd))
        return {{0, "?"}};
    // The password entries answer without "!" so that the tool sees 10011 alone.
    if (OneOf(n, kCmdPasswordEntry) && IsLoaderEntry(n))
        return {{0, "A." + std::to_string(n)}};
    if (n == WakeCommand(profile_.startMode) || IsLoaderEntry(n) || OneOf(n, kAckOnly) ||
        !profile_.refuseUnknown)
        return {{0, Ack(n)}};
    return {{0, "?"}};
}

std::string Instrument::LabCommandRefusal(const Command& cmd) const {
    switch (cmd.number) {
    case kCmdLabOpen:
        if (LabFileOpen())
            return "a file is open already";
        return cmd.args.empty() ? "no file name" : "";
    case kCmdLabBlock:
        if (!LabFileOpen())
            return "data without an open file";
        return labFiles_.back().data.size() + cmd.args.size() > kMaxLabFile ? "file too large" : "";
    case kCmdLabClose:
        return LabFileOpen() ? "" : "close without an open file";
    default:
        return "";
    }
}

void Instrument::ApplyEffects(const Command& cmd) {
    const long n = cmd.number;
    // What tells a test that the firmware took the tool's last word, and at
    // which line (the wake command of start mode 0 is not one).
    if ((n == kCmdExit || n == kCmdExitTxt) && state_ == InstrumentState::Awake)
        Note("exit command " + std::to_string(n) + " taken by the firmware at " +
             LineText(ExpectedLine()));
    if (n == WakeCommand(profile_.startMode) && state_ == InstrumentState::Asleep) {
        state_ = InstrumentState::Awake;
        Note("awake");
    }
    if (n == kCmdClock)
        lastClock_ = cmd.args;
    if (n == kCmdCalibration)
        lastCalibration_ = cmd.args;
    if (n == kCmdLabOpen) {
        faultCounting_ = faultCounting_ || profile_.lineFault.duringLab;
        labFiles_.push_back({cmd.args, {}, false});
    } else if (n == kCmdLabBlock && LabFileOpen()) {
        labFiles_.back().data += cmd.args;
    } else if (n == kCmdLabClose && LabFileOpen()) {
        labFiles_.back().complete = true;
    }
    if (n == kCmdBootFile && profile_.memoryVariant != 0) {
        // It tells its memory variant first and starts its loader only once
        // the tool has taken it.
        variantPending_ = true;
        Note(std::string("memory variant ") + profile_.memoryVariant + " told");
        return;
    }
    if (n == kCmdVariantTaken && variantPending_) {
        variantPending_ = false;
        if (IsLoaderEntry(kCmdBootFile))
            EnterLoader();
        return;
    }
    if (IsLoaderEntry(n) && EntryKeyOk(cmd))
        EnterLoader();
}

void Instrument::EnterLoader() {
    state_ = InstrumentState::InLoader;
    faultCounting_ = faultCounting_ || !profile_.lineFault.duringLab;
    Note("loader " + profile_.loader + " at " + LineText(loader_->Line()));
    loader_->Enter(*this);
}

void Instrument::LeaveLoader() {
    if (state_ != InstrumentState::InLoader)
        return;
    // The new firmware starts in update mode: the tool goes on without a new wake.
    state_ = InstrumentState::Awake;
    ++loaderExits_;
    if (profile_.silentAfterRestart) {
        // What the loader has said still goes out; the firmware says nothing.
        Note("firmware restarted, but it does not run: silent");
        firmwareDead_ = true;
        return;
    }
    Note("firmware restarted");
    Queue(profile_.restartCue, false);
}

void Instrument::Queue(const std::vector<CueLine>& lines, bool garble) {
    Millis due = now_ + profile_.replyDelayMs;
    if (!out_.empty())
        due = std::max(due, out_.back().due);
    for (const CueLine& line : lines) {
        due += line.delayMs;
        std::string bytes = line.bytes;
        if (garble)
            std::transform(bytes.begin(), bytes.end(), bytes.begin(), GarbleByte);
        out_.push_back({due, {bytes + "\r\n", ExpectedLine()}});
    }
}

void Instrument::SendAfterAt(std::uint64_t delayMs, const LineSettings& line,
                             std::string_view bytes) {
    if (hangup_ || muted_)
        return;
    Millis due = (out_.empty() ? now_ : std::max(now_, out_.back().due)) + delayMs;
    out_.push_back({due, {std::string(bytes), line}});
}

void Instrument::DropPendingSends() {
    out_.clear();
}

void Instrument::KeepFile(std::string_view name, std::string_view data) {
    labFiles_.push_back({std::string(name), {}, true});
    AppendToFile(name, data);
}

void Instrument::AppendToFile(std::string_view name, std::string_view data) {
    auto kept = std::find_if(labFiles_.rbegin(), labFiles_.rend(),
                             [&](const LabFile& f) { return f.name == name; });
    if (kept == labFiles_.rend()) {
        labFiles_.push_back({std::string(name), {}, true});
        kept = labFiles_.rbegin();
    }
    if (kept->data.size() + data.size() <= kMaxLabFile)
        kept->data += data;
    else
        Note("kept file too large, data dropped");
}

void Instrument::Note(std::string_view text) {
    if (transcript_)
        transcript_->Note(text);
}

std::vector<Reply> Instrument::TakeReplies(Millis now) {
    std::vector<Reply> replies;
    // What was due before a late hang-up still goes out; the rest is lost.
    const bool hangingUp = hangupAt_ && *hangupAt_ <= now;
    if (hangingUp)
        now = *hangupAt_;
    while (!muted_ && !out_.empty() && out_.front().due <= now) {
        Reply& next = out_.front().reply;
        if (!replies.empty() && replies.back().line == next.line)
            replies.back().bytes += next.bytes;
        else
            replies.push_back(std::move(next));
        out_.pop_front();
    }
    if (!replies.empty() && replyFault_ != LineFaultKind::None) {
        Note(std::string("line fault: reply damaged (") + LineFaultName(replyFault_) + ")");
        Reply& hit = replies.front();
        if (replyFault_ == LineFaultKind::Flip) {
            hit.bytes = FlipOneBit(std::move(hit.bytes));
        } else {
            const LineSettings halfSpeed{hit.line.baud / 2, hit.line.stopBits};
            hit.bytes = ReadAs(hit.bytes, FrameOf(hit.line), FrameOf(halfSpeed));
        }
        replyFault_ = LineFaultKind::None;
    }
    if (hangingUp && !hangup_) {
        Note("fault: hang-up");
        hangup_ = true;
        out_.clear();
    }
    return replies;
}

std::string Instrument::TakeDue(Millis now) {
    std::string bytes;
    for (const Reply& reply : TakeReplies(now))
        bytes += reply.bytes;
    return bytes;
}

std::optional<Instrument::Millis> Instrument::NextDue() const {
    std::optional<Millis> due = hangup_ ? std::nullopt : hangupAt_;
    if (!muted_ && !out_.empty())
        due = std::min(due.value_or(out_.front().due), out_.front().due);
    return due;
}

} // namespace sim
