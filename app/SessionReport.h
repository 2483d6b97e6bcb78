#pragma once

#include "programmers/ProgrammerResult.h"
#include "programmers/Protocol.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace app {

// The one-word outcomes a report gives.
namespace outcome {
inline constexpr const char* Updated = "updated";
inline constexpr const char* UpToDate = "up-to-date";
inline constexpr const char* UpdateAvailable = "update-available"; // --identify only
inline constexpr const char* WrongDevice = "wrong-device";
inline constexpr const char* DeviceNewer = "device-newer";
inline constexpr const char* NoDevice = "no-device";
inline constexpr const char* Failed = "failed";
inline constexpr const char* Aborted = "aborted";
} // namespace outcome

// Where a session stands, named in the report when it fails there.
namespace step {
inline constexpr const char* StartUp = "start-up";
inline constexpr const char* Search = "search";
inline constexpr const char* Identify = "identify";
inline constexpr const char* Check = "check";
inline constexpr const char* Transfer = programmers::TransferStep;
inline constexpr const char* Restart = "restart";
} // namespace step

// Texts are kept as the system holds them (Latin-1); the writer converts.
struct ReportPort {
    int Number = 0;     // COM number
    std::string Device; // the device the number resolves to
    long Baud = 0;      // the speed the instrument answered at
};

struct ReportIdentity {
    std::string PcbNr, DeviceNr, Name, SerialNr, VersionBefore;
};

struct ReportFirmware {
    std::string File;
    std::string Version;
    std::optional<std::uint64_t> Size; // empty when the file cannot be read
    std::string Sha256;                // lower-case hex; empty likewise
};

struct ReportBox {
    std::string Caption, Text;
};

// What one run of the program did: the session fills it at its steps and
// the front-end writes it when the program ends. With several sessions in
// one run the session fields describe the last one; boxes, retries and the
// session count cover the whole run.
struct SessionReport {
    using Clock = std::chrono::system_clock;

    bool IdentifyOnly = false;
    Clock::time_point Started = Clock::now();
    Clock::time_point Ended{};
    int Sessions = 0;
    std::optional<ReportPort> Port;
    std::optional<ReportIdentity> Identity;
    std::optional<ReportFirmware> Firmware;
    std::string Method; // the registry's id; empty when nothing was transferred
    std::uint64_t BytesSent = 0;
    int Retries = 0;
    std::string Outcome; // empty until decided
    std::string Step = step::StartUp;
    std::string FailedStep;
    // Why the session failed; empty Cause while it has not, or when the
    // ending named none.
    programmers::TFailure Failure;
    std::vector<ReportBox> Boxes;
    int ExitCode = protocol::exitcode::Success;
    // Closed while a session ran: "aborted" sticks for the run. An abort
    // the program survives (Escape) leaves a retry or new session its word.
    bool AbortSticks = false;

    void BeginSession();
    // The first word sticks once the run was closed: what the winding down
    // of a cut-off transfer reports after it changes nothing.
    void Decide(const char* word);
    void Fail() {
        Decide(outcome::Failed);
        if (Outcome == outcome::Failed) {
            FailedStep = Step;
        }
    }
    // closing: the program ends with the abort (AbortSticks).
    void Abort(bool closing);
    // Ends the record: the end time, the exit code, and an outcome for a run
    // that ended before a session decided one.
    void Finish(int exitCode);
};

// Size and SHA-256 of a file; the record stays empty when it cannot be read.
void DigestFirmware(ReportFirmware& firmware, const std::string& path);

} // namespace app
