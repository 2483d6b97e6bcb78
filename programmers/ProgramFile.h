#pragma once

#include "programmers/ProgrammerHost.h"
#include "programmers/ProgrammerResult.h"

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

// What ProgramFilePath does with a name that no entry has in any case: fail
// as with any other problem, or take the joined path and leave it to the
// caller's run, which says so (an optional tool or library).
enum class IfMissing { Fail, Take };

// The path to read name from; false after the error box that names the file
// and the reason.
bool ProgramFilePath(TProgrammerHost& host, const std::string& name, std::string& path,
                     IfMissing missing = IfMissing::Fail);
// The same; failure says which file and why.
bool ProgramFilePath(TProgrammerHost& host, const std::string& name, std::string& path,
                     TFailure& failure, IfMissing missing = IfMissing::Fail);

// name with its own part replaced by entry, an entry's name as found on disk
// (in the encoding the caller needs); the folder part stays as named.
std::string WithEntryName(const std::string& name, const std::string& entry);

} // namespace programmers
