#include "FakeHost.h"

#include <cstdlib>

namespace bsltest {

FakeHost::FakeHost() {
    std::vector<platform::TTimer*> slots;
    for (int slot = 1; slot <= 5; ++slot) {
        auto timer = std::make_unique<platform::TTimer>(nullptr);
        timer->SetEnabled(false);
        timer->SetTag(slot);
        timer->OnTimer = [this](platform::TTimer& sender) {
            if (sender.Enabled()) {
                events.PostTimer(static_cast<std::int32_t>(sender.Tag()), sender.Arming());
                ProcessEvents();
            }
        };
        slots.push_back(timer.get());
        timers_.push_back(std::move(timer));
    }
    pool.TimerInit(slots);
    events.AddHandler(&FakeHost::Sequencer, this);
    handle_ = platform::Application::Instance().Register(this);
}

FakeHost::~FakeHost() {
    platform::Application::Instance().Unregister(handle_);
}

kernel::TEventRec FakeHost::ProcessEvents() {
    for (kernel::TEventRec event = events.GetEvent(); event.Kind != kernel::evNothing;
         event = events.GetEvent()) {
        if (pool.TickIsCurrent(event)) {
            events.DispatchEvent(event);
        }
    }
    return kernel::TEvents::ClearEvent();
}

void FakeHost::AddLogLine(const std::string& text) {
    logLines.push_back(text);
    if (onLog) {
        onLog(text);
    }
}

std::string FakeHost::BootErrorText(int step) {
    if (step == 0) {
        return language == 0 ? "Bootloader im Zielger\xE4t nicht verf\xFCgbar!!  Programmierung "
                               "wurde abgebrochen."
                             : "bootloader in target not available!!  Programming abort.";
    }
    return language == 0 ? "Fehler im Bootloader !!  Programmierung wurde abgebrochen."
                         : "Error in bootloader !!  Programming abort.";
}

std::string FakeHost::Text(programmers::ProgrammerText id) const {
    using programmers::ProgrammerText;
    const bool german = language == 0;
    switch (id) {
    case ProgrammerText::CaptionError:
        return german ? "Fehler" : "Error";
    case ProgrammerText::FirmwareFile:
        return german ? "Firmware-Datei" : "Firmware file";
    case ProgrammerText::FileUnreadable:
        return german ? "Die Datei kann nicht gelesen werden." : "The file cannot be read.";
    case ProgrammerText::FileMissing:
        return german ? "Die Datei ist nicht vorhanden." : "The file does not exist.";
    case ProgrammerText::FileAmbiguous:
        return german ? "Mehrere Dateien unterscheiden sich nur in Gro\xDF- und Kleinschreibung:"
                      : "Several files differ only in upper and lower case:";
    case ProgrammerText::NotAFile:
        return german ? "Dort steht ein Ordner oder ein Verweis ins Leere, keine Datei."
                      : "A folder or a broken link stands there, not a file.";
    case ProgrammerText::ProgrammingAborted:
        return german ? "Programmierung wurde abgebrochen." : "Programming abort.";
    case ProgrammerText::DifferenceAt:
        return german ? "Abweichung bei " : "difference at ";
    case ProgrammerText::NoResetVector:
        return german ? "Das Abbild enth\xE4lt keinen Reset-Vektor (0xFFFE)."
                      : "The image holds no reset vector (0xFFFE).";
    case ProgrammerText::FileTooLarge:
        return german ? "Die Datei ist zu gro\xDF f\xFCr den Speicher des Ger\xE4ts:"
                      : "The file is too large for the instrument's memory:";
    case ProgrammerText::ChecksumMismatch:
        return german ? "Pr\xFC"
                        "fsumme des Bootloaders falsch (gemeldet / erwartet): "
                      : "Bootloader checksum wrong (reported / expected): ";
    case ProgrammerText::NoAnswer:
        return german ? "Das Ger\xE4t antwortet nicht mehr."
                      : "The instrument does not answer any more.";
    case ProgrammerText::XmodemRefused:
        return "refused, packet ";
    case ProgrammerText::XmodemRestarted:
        return "restarted, packet ";
    case ProgrammerText::XmodemCancelled:
        return "cancelled, packet ";
    case ProgrammerText::XmodemStalled:
        return "stalled, packet ";
    case ProgrammerText::TermPreparing:
    case ProgrammerText::TermProgramming:
    case ProgrammerText::TermSuccessful:
    case ProgrammerText::TermTransmitError:
    case ProgrammerText::TermAborted:
    case ProgrammerText::TermFileMissing:
        break; // the Basic-Loader runs end to end only
    case ProgrammerText::CommandRefused:
        return "refused: ";
    case ProgrammerText::ToolNotStarted:
        return "not started: ";
    case ProgrammerText::ToolFailed:
        return "tool failed ";
    case ProgrammerText::ToolEndedAtClose:
        return "tool ended at close";
    case ProgrammerText::ToolPortTooHigh:
        return "not PORT";
    case ProgrammerText::UpdaterPathTooLong:
        return "path too long: ";
    case ProgrammerText::UpdaterLeftBehind:
        return "left behind";
    }
    return {};
}

std::string FakeHost::FindDefFile(std::uint32_t chipId) {
    auto found = defFiles.find(chipId);
    return found == defFiles.end() ? std::string() : found->second;
}

void FakeHost::Dispatch(platform::Message& message) {
    if (message.Msg == WmCharsReceived) {
        events.PostMsg(10000, static_cast<std::intptr_t>(message.WParam));
        ProcessEvents();
    }
}

kernel::TEventRec FakeHost::Sequencer(void* context, kernel::TEvents&, kernel::TEventRec event) {
    auto* host = static_cast<FakeHost*>(context);
    if (event.Kind == kernel::evMessage && event.Id == 10000) {
        host->ParseReplies();
        return kernel::TEvents::ClearEvent();
    }
    return event;
}

// Just enough of the device reply parser: I.n#text posts n with the text,
// a final "!" posts 10010, "A." posts 10011 with the line, a final "?" posts
// 10012 with the line; a failed line posts 10014.
void FakeHost::ParseReplies() {
    if (port == nullptr) {
        return;
    }
    char chunk[256];
    int got = 0;
    while ((got = port->Read(chunk, sizeof chunk - 1)) > 0) {
        lineBuffer_.append(chunk, static_cast<std::size_t>(got));
    }
    if (got == serial::V24_LINE_FAILED) {
        events.PostMsg(10014, 0);
    }
    for (auto end = lineBuffer_.find("\r\n"); end != std::string::npos;
         end = lineBuffer_.find("\r\n")) {
        const std::string line = lineBuffer_.substr(0, end);
        lineBuffer_.erase(0, end + 2);
        replyLines.push_back(line);
        if (line.rfind("I.", 0) == 0) {
            const auto hash = line.find('#');
            texts_.push_back(std::make_unique<std::string>(
                hash == std::string::npos ? std::string() : line.substr(hash + 1)));
            events.PostMsg(std::atoi(line.c_str() + 2),
                           reinterpret_cast<std::intptr_t>(texts_.back()->c_str()));
        }
        if (!line.empty() && line.back() == '!') {
            events.PostMsg(10010, 0);
        }
        if (line.rfind("A.", 0) == 0) {
            texts_.push_back(std::make_unique<std::string>(line));
            events.PostMsg(10011, reinterpret_cast<std::intptr_t>(texts_.back()->c_str()));
        }
        if (!line.empty() && line.back() == '?') {
            texts_.push_back(std::make_unique<std::string>(line));
            events.PostMsg(10012, reinterpret_cast<std::intptr_t>(texts_.back()->c_str()));
        }
    }
}

// Walks the bar as the window would hold it; the first step before a
// maximum, or (unless the maximum is an estimate) past it.
std::string FakeHost::BarFault(bool maximumIsEstimate) const {
    int position = 0;
    int maximum = 0;
    for (std::size_t i = 0; i < progress.size(); ++i) {
        const BarCall& call = progress[i];
        switch (call.op) {
        case BarCall::Op::Position:
            position = call.value;
            break;
        case BarCall::Op::Maximum:
            maximum = call.value;
            break;
        case BarCall::Op::Advance:
        case BarCall::Op::AdvanceBar:
            position += call.value;
            break;
        }
        if (position > maximum && (maximum <= 0 || !maximumIsEstimate)) {
            return "call " + std::to_string(i) + " of " + std::to_string(progress.size()) +
                   ": position " + std::to_string(position) + " past the maximum " +
                   std::to_string(maximum);
        }
    }
    return {};
}

bool FakeHost::BarCountsOnly(programmers::ProgressUnit unit) const {
    bool counted = false;
    for (const BarCall& call : progress) {
        if (call.op == BarCall::Op::Maximum) {
            if (call.unit != unit) {
                return false;
            }
            counted = true;
        }
    }
    return counted;
}

} // namespace bsltest
