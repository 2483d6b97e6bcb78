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

namespace {

bool TakeProgramFile(TProgrammerHost& host, const std::string& name, std::string& path,
                     IfMissing missing, TFailure& failure) {
    const TProgramFile file = LocateProgramFile(host, name);
    if (!file.Problem.empty() && !(file.Missing && missing == IfMissing::Take)) {
        ShowFileErrorBox(host, file.Path, file.Problem);
        failure = FileFailure(file.Path, file.Problem);
        return false;
    }
    path = file.Path;
    return true;
}

} // namespace

bool ProgramFilePath(TProgrammerHost& host, const std::string& name, std::string& path,
                     IfMissing missing) {
    TFailure ignored;
    return TakeProgramFile(host, name, path, missing, ignored);
}

bool ProgramFilePath(TProgrammerHost& host, const std::string& name, std::string& path,
                     TFailure& failure, IfMissing missing) {
    return TakeProgramFile(host, name, path, missing, failure);
}

std::string WithEntryName(const std::string& name, const std::string& entry) {
    return name.substr(0, name.find_last_of('/') + 1) + entry;
}

} // namespace programmers
