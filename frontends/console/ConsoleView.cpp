#include "frontends/console/ConsoleView.h"

#include "frontends/console/ConsoleDialogs.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Text.h"
#include "platform/TimerComponent.h"

#include <algorithm>
#include <cstdlib>

namespace console {

namespace {

// A menu item acts only while it and every menu above it can be reached.
void ClickMenu(platform::TMenuItem* item) {
    for (platform::TMenuItem* level = item; level != nullptr; level = level->Parent()) {
        if (!level->Enabled() || !level->Visible()) {
            std::fprintf(stderr, "not available now: %s\n", OneLine(item->Caption()).c_str());
            return;
        }
    }
    item->Click();
}

// What the wait bar counts, as the transfer method named it; nothing while
// the second timer adds its seconds to whatever bar stands.
std::string BarUnit(const app::TUpdateForm& form) {
    return form.SecTimer->Enabled() ? std::string() : form.WaitProgressBar->Unit();
}

// The percentage a status panel shows (" 42.5 %"), in tenths; nothing when
// it shows none.
std::optional<int> PanelPermille(const std::string& text) {
    const std::size_t sign = text.rfind(" %");
    if (sign == std::string::npos || sign + 2 != text.size()) {
        return std::nullopt;
    }
    const std::size_t blank = sign == 0 ? std::string::npos : text.find_last_of(' ', sign - 1);
    const std::size_t start = blank == std::string::npos ? 0 : blank + 1;
    const std::string number = text.substr(start, sign - start);
    char* end = nullptr;
    const double percent = std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size() || !(percent >= 0) ||
        percent > 100) {
        return std::nullopt;
    }
    return static_cast<int>(percent * 10);
}

// The log lines a quiet run shows when it did not succeed, the last ones.
constexpr std::size_t QuietFailureLogLines = 40;

} // namespace

const std::vector<ConsoleView::Command>& ConsoleView::Commands() {
    using app::TUpdateForm;
    static const std::vector<Command> commands = {
        {"ok", "press OK (also an empty line)", [](TUpdateForm& f) { f.OkBitBtn->Click(); }},
        {"quit", "File/Exit", [](TUpdateForm& f) { ClickMenu(f.UpdateEnd); }},
        {"german", "Language/German", [](TUpdateForm& f) { ClickMenu(f.Deutsch); }},
        {"english", "Language/English", [](TUpdateForm& f) { ClickMenu(f.Englisch); }},
        {"readme", "Help/Read me", [](TUpdateForm& f) { ClickMenu(f.Readme); }},
        {"version", "Help/Version", [](TUpdateForm& f) { ClickMenu(f.SWVersion); }},
        {"open", "File/Open program file (after anyfile)",
         [](TUpdateForm& f) { ClickMenu(f.LoadProgFile); }},
        {"multi", "File/Programming/Multi Z70", [](TUpdateForm& f) { ClickMenu(f.DevMultiZ70); }},
        {"ph", "File/Programming/pH Z70", [](TUpdateForm& f) { ClickMenu(f.DevpHZ70); }},
        {"oxi", "File/Programming/Oxi Z70", [](TUpdateForm& f) { ClickMenu(f.DevOxiZ70); }},
        {"cond", "File/Programming/Cond Z70", [](TUpdateForm& f) { ClickMenu(f.DevCondZ70); }},
        {"lab", "File/Programming/Lab XXX", [](TUpdateForm& f) { ClickMenu(f.LabXXX); }},
        {"clock", "Shift+F12: set the instrument's clock",
         [](TUpdateForm& f) { f.FormKeyUp(app::VK_F12, app::ssShift); }},
        {"debug", "Ctrl+F1: debug log on/off",
         [](TUpdateForm& f) { f.FormKeyUp(app::VK_F1, app::ssCtrl); }},
        {"swcheck", "Ctrl+Alt+F10: software version check on/off",
         [](TUpdateForm& f) { f.FormKeyUp(app::VK_F10, app::ssCtrl | app::ssAlt); }},
        {"anyfile", "Ctrl+Alt+F12: any-file mode on/off",
         [](TUpdateForm& f) { f.FormKeyUp(app::VK_F12, app::ssCtrl | app::ssAlt); }},
    };
    return commands;
}

ConsoleView::ConsoleView(std::FILE* out, std::FILE* err, ConsoleOptions options, bool statusLine)
    : out_(out), err_(err), options_(options), statusLine_(statusLine) {}

platform::ModelObserver ConsoleView::Observer() {
    return [this](platform::TComponent& component, std::string_view property,
                  const std::string& value) { OnChange(component, property, value); };
}

void ConsoleView::Attach() {
    platform::Application::Instance().OnTitleChange = [this](const std::string& title) {
        if (options_.Trace) {
            ClearStatus();
            std::fprintf(err_, "Application.Title = %s\n", OneLine(title).c_str());
        }
        DrawStatus();
    };
}

void ConsoleView::ClearStatus() {
    if (statusShown_) {
        std::fprintf(err_, "\r\033[K");
        statusShown_ = false;
    }
}

std::string ConsoleView::StatusPanels() const {
    // Panel 4 and the title carry the percentage, which the progress part
    // tells; the title otherwise only repeats the program's name.
    std::string line;
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < form_->UpdateStatusBar->PanelCount() && i < 4; ++i) {
        const std::string& text = form_->UpdateStatusBar->PanelAt(i).Text;
        if (text.empty() || std::find(seen.begin(), seen.end(), text) != seen.end()) {
            continue;
        }
        seen.push_back(text);
        line += (line.empty() ? "" : " | ") + text;
    }
    return line;
}

void ConsoleView::DrawStatus() {
    if (!statusLine_ || options_.Quiet || form_ == nullptr) {
        return;
    }
    std::string line = StatusPanels();
    auto add = [&line](const std::string& part) {
        if (!part.empty() && line.find(part) == std::string::npos) {
            line += (line.empty() ? "" : " | ") + part;
        }
    };
    if (progress_.Active()) {
        add(progress_.Text());
    } else if (form_->UpdateStatusBar->PanelCount() > 4) {
        add(form_->UpdateStatusBar->PanelAt(4).Text);
    }
    for (platform::TControl* shown : {static_cast<platform::TControl*>(form_->InfoStaticText),
                                      static_cast<platform::TControl*>(form_->WaitPanel)}) {
        if (shown->Visible()) {
            add(shown->Caption());
        }
    }
    line += " > ";
    std::fprintf(err_, "\r\033[K%s", OneLine(line).c_str());
    std::fflush(err_);
    statusShown_ = true;
}

void ConsoleView::PrintNote(const std::string& line) {
    if (line.empty() || line == lastNote_) {
        return;
    }
    lastNote_ = line;
    std::fprintf(err_, "%s\n", OneLine(line).c_str());
    std::fflush(err_);
}

// Without a terminal nobody sees a status line: what it would show goes to
// standard error as lines, so that a log of a long transfer or wait is never
// silent.
void ConsoleView::NoteWithoutTerminal(const std::string& name) {
    if (statusLine_ || options_.Quiet || form_ == nullptr) {
        return;
    }
    auto printDueLine = [this](TransferProgress& progress) {
        if (auto line = progress.DueLine(TransferProgress::Clock::now())) {
            PrintNote(*line);
        }
    };
    if (name == "WaitProgressBar") {
        printDueLine(progress_);
    } else if (name == "WaitPanel") {
        if (form_->WaitPanel->Visible()) {
            PrintNote(form_->WaitPanel->Caption());
        }
    } else if (name == "UpdateStatusBar") {
        printDueLine(toolProgress_);
        const std::string panels = StatusPanels();
        if (panels != lastPanels_ && !panels.empty()) {
            lastPanels_ = panels;
            PrintNote("status: " + panels);
        }
    }
}

// An external tool's progress is the title timer's percentage in the last
// panel; nothing else moves while the tool runs.
void ConsoleView::FollowToolProgress() {
    std::optional<int> permille;
    if (!progress_.Active() && form_->TitleTimer->Enabled() &&
        form_->UpdateStatusBar->PanelCount() > 4) {
        permille = PanelPermille(form_->UpdateStatusBar->PanelAt(4).Text);
    }
    // The timer counts from 0 again for the tool's next attempt.
    if (!permille || *permille < toolPermille_) {
        toolProgress_.Update(0, 0, {});
    }
    toolPermille_ = permille.value_or(0);
    if (permille) {
        toolProgress_.Update(*permille, 1000, {});
    }
}

void ConsoleView::PrintLogTail() {
    const std::vector<std::string>& lines = form_->UpdateMemo->Lines();
    const std::size_t first =
        lines.size() > QuietFailureLogLines ? lines.size() - QuietFailureLogLines : 0;
    if (first > 0) {
        std::fprintf(out_, "(%zu earlier log lines left out)\n", first);
    }
    for (std::size_t i = first; i < lines.size(); ++i) {
        WriteMemoLines(lines[i]);
    }
}

void ConsoleView::PrintResult(const std::string& outcome, int exitCode) {
    ClearStatus();
    // Quiet left the log out; a run that did not succeed shows it after all,
    // so that its result comes with its cause.
    if (options_.Quiet && exitCode != 0 && form_ != nullptr) {
        PrintLogTail();
    }
    if (exitCode == protocol::exitcode::NoInstrument || outcome == app::outcome::NoDevice) {
        std::fprintf(err_, "no instrument found\n");
        std::fflush(err_);
    }
    std::fprintf(out_, "result: %s (exit code %d)\n", outcome.empty() ? "none" : outcome.c_str(),
                 exitCode);
    std::fflush(out_);
}

void ConsoleView::PrintMemoLines(const std::string& latin1) {
    if (options_.Quiet) {
        return;
    }
    ClearStatus();
    WriteMemoLines(latin1);
    DrawStatus();
}

void ConsoleView::WriteMemoLines(const std::string& latin1) {
    // A memo line may hold line breaks; the terminal shows them as lines. A
    // logged command ends in its own CR LF, which would only add a blank line.
    std::string text = platform::Latin1ToUtf8(latin1);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
        text.resize(text.size() - 2);
    }
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            std::fprintf(out_, "%s\n", line.c_str());
            line.clear();
        } else {
            line += text[i];
        }
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void ConsoleView::OnChange(platform::TComponent& component, std::string_view property,
                           const std::string& value) {
    if (options_.Trace) {
        ClearStatus();
        std::fprintf(err_, "%s.%.*s = %s\n", component.Name().c_str(),
                     static_cast<int>(property.size()), property.data(), OneLine(value).c_str());
    }
    // Names, not pointers: the form reports changes while it is being built.
    const std::string& name = component.Name();
    if (name == "UpdateMemo" && property == "Lines.Add") {
        PrintMemoLines(value);
    } else if (name == "UpdateStatusBar" || name == "WaitProgressBar" || name == "InfoStaticText" ||
               name == "WaitPanel") {
        if (name == "WaitProgressBar" && form_ != nullptr) {
            progress_.Update(form_->WaitProgressBar->Position(), form_->WaitProgressBar->Max(),
                             BarUnit(*form_));
        }
        if (name == "UpdateStatusBar" && form_ != nullptr) {
            FollowToolProgress();
        }
        NoteWithoutTerminal(name);
        DrawStatus();
    }
    if (inputEnded_ && !idleCheckPosted_) {
        // Decide once the change has settled: a start timer that just ended
        // is followed by the session it starts.
        idleCheckPosted_ = true;
        platform::Application::Instance().PostThreadMessage(ConsoleInput::WM_CHECK_IDLE, 0, 0);
    }
}

void ConsoleView::Connect(app::TUpdateForm& form, ConsoleInput& input) {
    form_ = &form;
    input_ = &input;
    platform::Application::Instance().OnThreadMessage = [this](platform::Message& message) {
        if (message.Msg == ConsoleInput::WM_INPUT) {
            OnInput();
        } else if (message.Msg == ConsoleInput::WM_CHECK_IDLE) {
            idleCheckPosted_ = false;
            CloseIfIdleAfterInput();
        }
    };
    // A script asked for a run on a port it cannot have: searching elsewhere
    // would hide that behind "no instrument found".
    if (options_.PressOkAtStart && form.ExitCode() == protocol::exitcode::PortUnavailable) {
        options_.PressOkAtStart = false;
        std::fprintf(err_, "--start: not started, the serial port could not be opened\n");
    }
    if (options_.PressOkAtStart && !form.Closed()) {
        platform::Application::Instance().PostThreadMessage(ConsoleInput::WM_INPUT, 1, 0);
    }
    DrawStatus();
}

std::optional<std::string> ConsoleView::WaitForLine() {
    platform::Application& application = platform::Application::Instance();
    waitingForLine_ = true;
    answer_.reset();
    while (!answer_ && !inputEnded_ && !application.Terminated()) {
        application.HandleMessage();
    }
    waitingForLine_ = false;
    std::optional<std::string> line = std::move(answer_);
    answer_.reset();
    return line;
}

void ConsoleView::OnInput() {
    if (options_.PressOkAtStart) {
        options_.PressOkAtStart = false;
        RunCommand("ok");
    }
    bool ended = false;
    for (std::string& line : input_->TakeLines(ended)) {
        if (waitingForLine_ && !answer_) {
            answer_ = std::move(line);
        } else {
            RunCommand(line);
        }
    }
    if (ended && !inputEnded_) {
        inputEnded_ = true;
        if (!waitingForLine_ && !idleCheckPosted_) {
            idleCheckPosted_ = true;
            platform::Application::Instance().PostThreadMessage(ConsoleInput::WM_CHECK_IDLE, 0, 0);
        }
    }
}

void ConsoleView::RunCommand(const std::string& typed) {
    if (form_ == nullptr || form_->Closed()) {
        return;
    }
    std::string command = typed.substr(0, typed.find_last_not_of(" \t") + 1);
    command.erase(0, command.find_first_not_of(" \t"));
    if (command.empty()) {
        command = "ok";
    }
    if (command == "exit") {
        command = "quit";
    }
    if (command == "help" || command == "?") {
        ClearStatus();
        for (const Command& entry : Commands()) {
            std::fprintf(err_, "  %-8s %s\n", entry.Name, entry.Help);
        }
        DrawStatus();
        return;
    }
    for (const Command& entry : Commands()) {
        if (command == entry.Name) {
            entry.Run(*form_);
            return;
        }
    }
    ClearStatus();
    std::fprintf(err_, "unknown command \"%s\" (type help)\n", OneLine(command).c_str());
    DrawStatus();
}

void ConsoleView::CloseIfIdleAfterInput() {
    // Without further input nobody can press OK: close once no session runs
    // and no automatic start is pending, so that a script never hangs.
    if (form_ == nullptr || form_->Closed()) {
        return;
    }
    if (!form_->SessionRunning() && !form_->StartTimer->Enabled()) {
        form_->Beenden();
        return;
    }
    // A session ends without a change the model could report; look again.
    if (!idleTimer_) {
        idleTimer_ = std::make_unique<platform::TTimer>(nullptr, "ConsoleIdleCheck");
        idleTimer_->SetInterval(250);
        idleTimer_->OnTimer = [this](platform::TTimer&) { CloseIfIdleAfterInput(); };
    }
}

} // namespace console
