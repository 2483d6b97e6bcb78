#pragma once

#include "app/Program.h"

namespace console {

struct ConsoleOptions {
    int QuestionAnswer = 7; // IDNO
    bool Trace = false;
    bool PressOkAtStart = false;
    bool ListPorts = false;
    bool Json = false;  // --list-ports as JSON
    bool Quiet = false; // only errors and the result line
};

// update-console's own options and the pairs that exclude each other, for
// app::ParseProgramOptions; the checks that need every option seen are in
// CheckConsoleOptions.
app::FrontEndOptions ConsoleFrontEnd(ConsoleOptions& options);
bool CheckConsoleOptions(const app::ProgramOptions& shared, const ConsoleOptions& options,
                         std::string& error);

// What --help says after the options: the standard-input commands.
const char* ConsoleHelpAfterOptions();
const char* ConsoleHelpExamples();

} // namespace console
