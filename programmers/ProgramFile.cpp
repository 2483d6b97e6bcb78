#include "programmers/ProgramFile.h"

#include "platform/FileLookup.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "programmers/Programmerunit.h"

#include <fstream>

namespace programmers {

namespace {

// Where the name points when no entry was taken: a box names this path.
std::string NamedPath(const std::string& folder, const std::string& name) {
    return !name.empty() && name.front() == '/' ? name : platform::JoinPath(folder, name);
}

} // namespace

TProgramFile LocateProgramFile(TProgrammerHost& host, const std::string& name) {
    using Result = platform::FoundFile::Result;
    const platform::FoundFile found = platform::LocateFile(host.ProgramFolder(), name);
    TProgramFile file;
    file.Path = found.Path.empty() ? NamedPath(host.ProgramFolder(), name) : found.Path;
    switch (found.What) {
    case Result::Found:
        file.Name = found.Name;
        if (!std::ifstream(file.Path, std::ios::binary)) {
            file.Problem = host.Text(ProgrammerText::FileUnreadable);
        }
        break;
    case Result::Missing:
        file.Missing = true;
        file.Problem = host.Text(ProgrammerText::FileMissing);
        break;
    case Result::NotAFile:
        file.Problem = host.Text(ProgrammerText::NotAFile);
        break;
    case Result::Ambiguous:
        file.Problem = host.Text(ProgrammerText::FileAmbiguous);
        for (std::size_t i = 0; i < found.Matches.size(); ++i) {
            file.Problem += (i == 0 ? " " : ", ") + platform::Utf8ToLatin1(found.Matches[i]);
        }
        break;
    }
    return file;
}

bool ProgramFilePath(TProgrammerHost& host, const std::string& name, std::string& path) {
    const TProgramFile file = LocateProgramFile(host, name);
    if (!file.Problem.empty()) {
        ShowFileErrorBox(host, file.Path, file.Problem);
        return false;
    }
    path = file.Path;
    return true;
}

} // namespace programmers
