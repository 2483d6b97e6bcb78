#include "app/FailureCauses.h"
#include "app/ProgrammerServices.h"
#include "app/UpdateSession.h"
#include "platform/Text.h"
#include "programmers/Programmerunit.h"
#include "programmers/TermProg.h"

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

bool UpdateSession::FailCheckForFile(const programmers::TProgramFile& file, std::string cause) {
    TSessionServices services(*this);
    programmers::ShowFileErrorBox(services, file.Path, file.Problem);
    Session.FileRefused = true;
    report_.Step = step::Check;
    End(Outcome::FileRefused,
        FailureAt(step::Check, cause.empty() ? FileProblemCause("", file.Path) : std::move(cause)));
    return false;
}

bool UpdateSession::TakeSessionFile(std::string& name) {
    const programmers::TProgramFile file = LocateProgramFile(name);
    if (!file.Problem.empty()) {
        return FailCheckForFile(file);
    }
    // From here on the operator sees the name as it stands on disk (in
    // Latin-1, as the system holds its texts).
    name = programmers::WithEntryName(name, platform::Utf8ToLatin1(file.Name));
    return true;
}

bool UpdateSession::TakeBasicLoaderFile() {
    // Once the variant is taken the loader erases the flash: without its
    // file the instrument is left as it is.
    const programmers::TProgramFile file =
        LocateProgramFile(programmers::BasicLoaderFile(Session.Job.MemoryVariant));
    if (file.Problem.empty()) {
        return true;
    }
    FailCheckForFile(file);
    Session.ReplyTimer = Timers.TimerStop(Session.ReplyTimer);
    Session.AckStep = AckStep::Ignore;
    EndAfterCheck();
    return false;
}

bool UpdateSession::TakeSessionFiles() {
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
