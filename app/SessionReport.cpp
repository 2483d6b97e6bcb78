#include "app/SessionReport.h"

#include "app/FileDigest.h"

namespace app {

void SessionReport::BeginSession() {
    ++Sessions;
    Port.reset();
    Identity.reset();
    Firmware.reset();
    Method.clear();
    BytesSent = 0;
    if (!AbortSticks) {
        Outcome.clear();
        FailedStep.clear();
        Failure = {};
    }
    Step = step::Search;
}

void SessionReport::Decide(const char* word) {
    if (!AbortSticks) {
        Outcome = word;
        FailedStep.clear();
    }
}

void SessionReport::Abort(bool closing) {
    Outcome = outcome::Aborted;
    FailedStep = Step;
    AbortSticks = AbortSticks || closing;
}

void SessionReport::Finish(int exitCode) {
    Ended = Clock::now();
    ExitCode = exitCode;
    if (!Outcome.empty()) {
        return;
    }
    // Nothing decided: start-up failed, or the program was closed before
    // (or while) a session ran.
    if (Sessions == 0 && exitCode != 0) {
        Outcome = outcome::Failed;
        FailedStep = Step;
    } else {
        // Closed while idle stopped nothing.
        Outcome = outcome::Aborted;
        FailedStep = Sessions == 0 ? "" : Step;
    }
}

void DigestFirmware(ReportFirmware& firmware, const std::string& path) {
    FileDigest digest;
    if (Sha256OfFile(path, digest)) {
        firmware.Size = digest.Size;
        firmware.Sha256 = digest.Sha256;
    }
}

} // namespace app
