#pragma once

#include "app/Updatemain.h"
#include "frontends/console/ConsoleInput.h"
#include "platform/Component.h"

#include <cstdio>
#include <string>
#include <vector>

namespace console {

struct ConsoleOptions {
    int QuestionAnswer = 7; // IDNO
    bool Trace = false;
    bool PressOkAtStart = false;
};

bool ParseConsoleOptions(const std::vector<std::string>& args, ConsoleOptions& options,
                         std::string& error);
const char* ConsoleOptionsHelp();

// Renders the form model on a terminal: memo lines on standard output, the
// model trace on standard error; feeds typed commands back to the form.
class ConsoleView {
public:
    ConsoleView(std::FILE* out, std::FILE* err, ConsoleOptions options);
    platform::ModelObserver Observer();
    // Hooks the application title before the form exists.
    void Attach();
    // Starts taking commands once the form is built.
    void Connect(app::TUpdateForm& form, ConsoleInput& input);

private:
    void OnChange(platform::TComponent& component, std::string_view property,
                  const std::string& value);
    void OnInput();
    void RunCommand(const std::string& command);
    void CloseIfIdleAfterInput();

    std::FILE* out_;
    std::FILE* err_;
    ConsoleOptions options_;
    app::TUpdateForm* form_ = nullptr;
    ConsoleInput* input_ = nullptr;
    bool inputEnded_ = false;
};

} // namespace console
