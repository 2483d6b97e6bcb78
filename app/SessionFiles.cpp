#include "app/ProgrammerServices.h"
#include "app/Updatemain.h"
#include "platform/Text.h"
#include "programmers/Programmerunit.h"

// The files a device entry names are found as a Windows file system finds
// them (the folders come from Windows machines), all before the instrument is
// touched: one that cannot be read fails the session at its check, and never
// turns into a verdict about the instrument.

namespace app {

namespace {

// Shorter names are no files: the session skips the step that would use them.
constexpr std::size_t ToolFileMinLength = 4;
constexpr std::size_t BootFileMinLength = 5;

} // namespace

programmers::TProgramFile TUpdateForm::LocateProgramFile(const std::string& name) {
    TFormServices services(*this);
    return programmers::LocateProgramFile(services, name);
}

bool TUpdateForm::FailCheckForFile(const programmers::TProgramFile& file) {
    TFormServices services(*this);
    programmers::ShowFileErrorBox(services, file.Path, file.Problem);
    Session.FileRefused = true;
    Report.Step = step::Check;
    Report.Fail();
    ExitCode = exitcode::ProgrammingFailed;
    return false;
}

bool TUpdateForm::TakeSessionFile(std::string& name) {
    const programmers::TProgramFile file = LocateProgramFile(name);
    if (!file.Problem.empty()) {
        return FailCheckForFile(file);
    }
    // From here on the operator sees the name as it stands on disk.
    name = name.substr(0, name.find_last_of('/') + 1) + platform::Utf8ToLatin1(file.Name);
    return true;
}

bool TUpdateForm::TakeSessionFiles() {
    if ((Session.ProgFile1.size() >= ToolFileMinLength || !Session.SWKenn1.empty()) &&
        !TakeSessionFile(Session.ProgFile1)) {
        return false;
    }
    if ((Session.ProgFile3.size() >= BootFileMinLength || !Session.SWKenn3.empty()) &&
        !TakeSessionFile(Session.ProgFile3)) {
        return false;
    }
    for (std::string& file : Session.Job.ProgFiles) {
        if (!TakeSessionFile(file)) {
            return false;
        }
    }
    return true;
}

} // namespace app
