#include "frontends/console/ConsoleView.h"

#include "frontends/console/ConsoleDialogs.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Text.h"

namespace console {

bool ParseConsoleOptions(const std::vector<std::string>& args, ConsoleOptions& options,
                         std::string& error) {
    for (const std::string& arg : args) {
        if (arg == "--yes") {
            options.QuestionAnswer = platform::IDYES;
        } else if (arg == "--no") {
            options.QuestionAnswer = platform::IDNO;
        } else if (arg == "--trace") {
            options.Trace = true;
        } else if (arg == "--start") {
            options.PressOkAtStart = true;
        } else {
            error = "unknown option \"" + arg + "\"";
            return false;
        }
    }
    return true;
}

const char* ConsoleOptionsHelp() {
    return "  --yes | --no        answer to questions when nobody can be asked (default: No)\n"
           "  --start             press OK once start-up is done\n"
           "  --trace             print every change of the window model on standard error\n"
           "Commands on standard input: ok (or an empty line), quit. At the end of the\n"
           "input the program closes once no update runs.\n";
}

ConsoleView::ConsoleView(std::FILE* out, std::FILE* err, ConsoleOptions options)
    : out_(out), err_(err), options_(options) {}

platform::ModelObserver ConsoleView::Observer() {
    return [this](platform::TComponent& component, std::string_view property,
                  const std::string& value) { OnChange(component, property, value); };
}

void ConsoleView::Attach() {
    platform::Application::Instance().OnTitleChange = [this](const std::string& title) {
        if (options_.Trace) {
            std::fprintf(err_, "Application.Title = %s\n", OneLine(title).c_str());
        }
    };
}

void ConsoleView::OnChange(platform::TComponent& component, std::string_view property,
                           const std::string& value) {
    if (options_.Trace) {
        std::fprintf(err_, "%s.%.*s = %s\n", component.Name().c_str(),
                     static_cast<int>(property.size()), property.data(), OneLine(value).c_str());
    }
    if (component.Name() == "UpdateMemo" && property == "Lines.Add") {
        std::string text = platform::Latin1ToUtf8(value);
        // A memo line may hold line breaks; the terminal shows them as lines.
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
    if (inputEnded_ && form_ != nullptr) {
        CloseIfIdleAfterInput();
    }
}

void ConsoleView::Connect(app::TUpdateForm& form, ConsoleInput& input) {
    form_ = &form;
    input_ = &input;
    platform::Application::Instance().OnThreadMessage = [this](platform::Message& message) {
        if (message.Msg == ConsoleInput::WM_INPUT) {
            OnInput();
        }
    };
    if (options_.PressOkAtStart && !form.Closed()) {
        platform::Application::Instance().PostThreadMessage(ConsoleInput::WM_INPUT, 1, 0);
    }
}

void ConsoleView::OnInput() {
    if (options_.PressOkAtStart) {
        options_.PressOkAtStart = false;
        RunCommand("ok");
    }
    bool ended = false;
    for (const std::string& line : input_->TakeLines(ended)) {
        RunCommand(line);
    }
    if (ended && !inputEnded_) {
        inputEnded_ = true;
        CloseIfIdleAfterInput();
    }
}

void ConsoleView::RunCommand(const std::string& command) {
    if (form_ == nullptr || form_->Closed()) {
        return;
    }
    if (command.empty() || command == "ok") {
        form_->OkBitBtn->Click();
    } else if (command == "quit" || command == "exit") {
        form_->Beenden();
    } else {
        std::fprintf(err_, "unknown command \"%s\" (ok, quit)\n", OneLine(command).c_str());
    }
}

void ConsoleView::CloseIfIdleAfterInput() {
    // Without further input nobody can press OK: close once no session runs
    // and no automatic start is pending, so that a script never hangs.
    if (!form_->Closed() && form_->OkBitBtn->Enabled() && !form_->StartTimer->Enabled()) {
        form_->Beenden();
    }
}

} // namespace console
