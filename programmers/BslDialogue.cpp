#include "programmers/BslDialogue.h"

#include "platform/Files.h"
#include "programmers/ProgramFile.h"

#include <algorithm>
#include <cstdio>

namespace programmers {

namespace {

constexpr long DialogueWaitMs = 1000;
// The bootloader box keeps the caption of the loaders' own tools.
constexpr const char* BootloaderErrorCaption = "Error";

} // namespace

std::int32_t LoaderVersionNumber(const std::string& text) {
    double value = 0;
    std::size_t pos = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
    }
    if (pos < text.size() && text[pos] == '.') {
        double scale = 0.1;
        for (++pos; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
            value += (text[pos] - '0') * scale;
            scale /= 10;
        }
    }
    return static_cast<std::int32_t>(value * 1000.01);
}

bool ParseHexNumber(const char* text, std::size_t limit, std::uint32_t& value) {
    if (text == nullptr) {
        return false;
    }
    std::size_t pos = 0;
    while (pos < limit && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    if (pos + 1 < limit && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        pos += 2;
    }
    bool any = false;
    value = 0;
    for (; pos < limit; ++pos) {
        const char c = text[pos];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) {
            break;
        }
        value = value << 4 | static_cast<unsigned>(digit);
        any = true;
    }
    return any;
}

std::string HexText(unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

TBslDeviceDialogue::TBslDeviceDialogue(const TProgrammerContext& context,
                                       const TBslSettings& settings)
    : TProgrammerTyp(context), Settings(settings) {}

const char* TBslDeviceDialogue::PasswordQuery(std::int32_t variant) {
    return protocol::command::PasswordQuery[std::clamp(variant, 0, 2)];
}

const char* TBslDeviceDialogue::LoaderEntry(std::int32_t variant) {
    return protocol::command::LoaderEntry[std::clamp(variant, 0, 2)];
}

void TBslDeviceDialogue::ShowError() {
    std::string text = Host.BootErrorText(CurrentStep);
    // The step alone would send the operator looking at the instrument.
    if (Failure.Line != platform::SerialResult::Ok) {
        text += "\r\n" + Failure.Cause;
    }
    Host.Dialogs().MessageBox(text, BootloaderErrorCaption,
                              platform::MB_OK | platform::MB_ICONERROR);
    LastErrorStep = CurrentStep;
}

bool TBslDeviceDialogue::SendText(const char* text) {
    return WriteText(text);
}

void TBslDeviceDialogue::OnImagePerChip() {
    Variant = 2;
    QueryFirst = 0;
}

bool TBslDeviceDialogue::LoadConfig() {
    const TProgramFile file = LocateProgramFile(Host, Bsl430ConfigName);
    // Without the file the built-in values hold; with one that is there but
    // cannot be taken, nobody could tell which values the run used.
    if (!file.Problem.empty() && !file.Missing) {
        ShowFileError(file.Path, file.Problem);
        return false;
    }
    Config = LoadBsl430Config(file.Path);
    if (!Config.Note.empty()) {
        Host.AddLogLine(Config.Note);
    }
    return true;
}

bool TBslDeviceDialogue::ReadFileText(const std::string& name, std::string& path,
                                      std::string& content) {
    const TProgramFile file = LocateProgramFile(Host, name);
    path = file.Path;
    if (file.Problem.empty() && platform::ReadWholeFile(path, content)) {
        return true;
    }
    ShowFileError(path,
                  file.Problem.empty() ? Host.Text(ProgrammerText::FileUnreadable) : file.Problem);
    return false;
}

void TBslDeviceDialogue::ShowFileError(const std::string& path, const std::string& reason) {
    ShowFileErrorBox(Host, path, reason);
    FileErrorShown = true;
    Fail(FileFailure(path, reason));
}

void TBslDeviceDialogue::FailStep(const std::string& what, std::string detail) {
    Fail("BSL step " + std::to_string(CurrentStep) + ": " + what, std::move(detail));
}

bool TBslDeviceDialogue::SameData(const std::uint8_t* written, std::size_t count,
                                  std::uint32_t address, const std::uint8_t* read,
                                  std::size_t readCount, const std::string& what) {
    std::size_t at = 0;
    if (readCount == count) {
        at =
            static_cast<std::size_t>(std::mismatch(written, written + count, read).first - written);
        if (at == count) {
            return true;
        }
    }
    const std::string where = "0x" + HexText(address + static_cast<std::uint32_t>(at));
    Host.ShowLogLine(what + ": " + Host.Text(ProgrammerText::DifferenceAt) + where);
    Difference = what + ": difference at " + where;
    return false;
}

void TBslDeviceDialogue::Abort() {
    Failed = 1;
    Finished = 1;
}

bool TBslDeviceDialogue::TakesReply(std::int32_t id) const {
    return TProgrammerTyp::TakesReply(id) || id == protocol::reply::Password ||
           id == protocol::reply::PasswordAlt;
}

void TBslDeviceDialogue::OnReply(std::int32_t id, std::intptr_t data) {
    if (id == protocol::event::Rejected) {
        CurrentStep = StepNotAvailable;
        const char* line = reinterpret_cast<const char*>(data);
        Fail("the instrument refused the loader dialogue", line != nullptr ? line : "");
        return;
    }
    if (InLoader != 0) {
        return; // the loader speaks now; late dialogue replies answer nothing
    }
    switch (id) {
    case protocol::event::Acknowledge:
        OnAcknowledge();
        break;
    case protocol::reply::Password:
    case protocol::reply::PasswordAlt:
        TakePasswordReply(reinterpret_cast<const char*>(data));
        AcceptPassword();
        break;
    case protocol::event::CommandReply:
        if (PasswordKnown != 0) {
            EnterLoaderFromDialogue();
        }
        break;
    default:
        break;
    }
}

void TBslDeviceDialogue::OnAcknowledge() {
    if (AckBusy || Finished != 0) {
        return;
    }
    AckBusy = true;
    if (Job.ImagePerChip != 0) {
        OnImagePerChip();
    }
    Wait(DialogueWaitMs);
    AckBusy = false;
    if (Finished != 0 || InLoader != 0) {
        return;
    }
    if (QueryFirst != 0) {
        SendText(PasswordQuery(Variant));
        return;
    }
    UseDefaultPassword();
    AcceptPassword();
}

void TBslDeviceDialogue::AcceptPassword() {
    PasswordKnown = 1;
    Job.PasswordKnown = 1;
    StorePassword();
    SendText(LoaderEntry(Variant));
}

} // namespace programmers
