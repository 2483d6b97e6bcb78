#pragma once

#include "programmers/ProgrammerHost.h"

#include <string>

namespace programmers {

// A file of the program folder (or a path), found as a Windows file system
// finds it (platform::LocateFile), and whether it can be read.
struct TProgramFile {
    std::string Path;     // as found on disk; the name joined to the folder when none was
    std::string Name;     // the file's own name as it stands on disk; empty when none was found
    std::string Problem;  // why it cannot be read, in the session language; empty when it can
    bool Missing = false; // no entry of that name in any case
};

TProgramFile LocateProgramFile(TProgrammerHost& host, const std::string& name);

// The path to read name from; false after the error box that names the file
// and the reason.
bool ProgramFilePath(TProgrammerHost& host, const std::string& name, std::string& path);

} // namespace programmers
