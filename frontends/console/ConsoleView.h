#pragma once

#include "app/Updatemain.h"
#include "frontends/console/ConsoleInput.h"
#include "frontends/console/ConsoleOptions.h"
#include "frontends/console/TransferProgress.h"
#include "platform/Component.h"
#include "platform/TimerComponent.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace console {

// Renders the form model on a terminal: memo lines on the output, the
// status line on standard error when that is a terminal, else progress,
// countdowns and status changes there as plain lines; the model trace;
// feeds typed commands back to the form's menu items and keys.
class ConsoleView {
public:
    ConsoleView(std::FILE* out, std::FILE* err, ConsoleOptions options, bool statusLine);
    platform::ModelObserver Observer();
    // Hooks the application title before the form exists.
    void Attach();
    // Starts taking commands once the form is built.
    void Connect(app::TUpdateForm& form, ConsoleInput& input);
    // For boxes: runs the loop until a line comes; nothing once input ended.
    std::optional<std::string> WaitForLine();

    // The commands a person can type, for help and tests.
    struct Command {
        const char* Name;
        const char* Help;
        std::function<void(app::TUpdateForm&)> Run;
    };
    static const std::vector<Command>& Commands();

    // After the run: "no instrument found" on standard error for exit code
    // 3, then the result line on the output, in every mode.
    void PrintResult(const std::string& outcome, int exitCode);

private:
    void OnChange(platform::TComponent& component, std::string_view property,
                  const std::string& value);
    void OnInput();
    void RunCommand(const std::string& command);
    void CloseIfIdleAfterInput();
    void PrintMemoLines(const std::string& latin1);
    void ClearStatus();
    void DrawStatus();
    // The status panels that say something, each once.
    std::string StatusPanels() const;
    void NoteWithoutTerminal(const std::string& name);
    void PrintNote(const std::string& line);

    std::FILE* out_;
    std::FILE* err_;
    ConsoleOptions options_;
    bool statusLine_;
    bool statusShown_ = false;
    TransferProgress progress_;
    std::string lastNote_;
    std::string lastPanels_;
    app::TUpdateForm* form_ = nullptr;
    ConsoleInput* input_ = nullptr;
    bool inputEnded_ = false;
    bool idleCheckPosted_ = false;
    std::unique_ptr<platform::TTimer> idleTimer_;
    bool waitingForLine_ = false;
    std::optional<std::string> answer_;
};

} // namespace console
