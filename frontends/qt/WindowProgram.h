#pragma once

#include "app/Program.h"
#include "platform/Dialogs.h"

namespace qtfront {

// The window program's name, as installed and in its messages.
inline constexpr const char* WindowProgramName = "instrument-update-gui";

// The window program once Qt and the options are parsed: the program folder
// (chosen by the operator when none is given and the current one holds no
// Update.ini), the form bound to the window, the loop until it ends, the
// report. Returns the exit code. boxes replaces the window's own dialogs
// (tests script them); nullptr uses Qt's.
int RunWindowProgram(app::ProgramOptions options, platform::Dialogs* boxes = nullptr);

} // namespace qtfront
