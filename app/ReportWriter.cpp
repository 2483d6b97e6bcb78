#include "app/ReportWriter.h"

#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/Comport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

using json = nlohmann::ordered_json;

std::string IsoUtc(SessionReport::Clock::time_point when) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

json Text(const std::string& latin1) {
    return platform::Latin1ToUtf8(latin1);
}

json OrNull(const std::string& text) {
    return text.empty() ? json(nullptr) : Text(text);
}

json PortJson(const std::optional<ReportPort>& port) {
    if (!port) {
        return nullptr;
    }
    return {{"name", serial::TComPort::PortName(port->Number - 1)},
            {"device", OrNull(port->Device)},
            {"baud", port->Baud}};
}

json IdentityJson(const std::optional<ReportIdentity>& identity) {
    if (!identity) {
        return nullptr;
    }
    return {{"pcb_number", Text(identity->PcbNr)},
            {"device_number", Text(identity->DeviceNr)},
            {"name", Text(identity->Name)},
            {"serial_number", Text(identity->SerialNr)},
            {"version_before", Text(identity->VersionBefore)}};
}

json FirmwareJson(const std::optional<ReportFirmware>& firmware) {
    if (!firmware) {
        return nullptr;
    }
    return {{"file", Text(firmware->File)},
            {"version", Text(firmware->Version)},
            {"size", firmware->Size ? json(*firmware->Size) : json(nullptr)},
            {"sha256", OrNull(firmware->Sha256)}};
}

// Only an ending that failed has a cause; a stale one from a retried step
// that then succeeded is not it.
json FailureJson(const SessionReport& report) {
    const bool failed = report.Outcome == outcome::Failed || report.Outcome == outcome::Aborted;
    const std::string& step = report.Failure.Step.empty() ? report.FailedStep : report.Failure.Step;
    if (!failed || report.Failure.Empty() || step.empty()) {
        return nullptr;
    }
    return {{"step", step},
            {"cause", Text(report.Failure.Cause)},
            {"detail", OrNull(report.Failure.Detail)}};
}

} // namespace

std::string ReportJson(const SessionReport& report, const std::string& toolVersion) {
    json boxes = json::array();
    for (const ReportBox& box : report.Boxes) {
        boxes.push_back({{"caption", Text(box.Caption)}, {"text", Text(box.Text)}});
    }
    const double seconds = std::chrono::duration<double>(report.Ended - report.Started).count();
    json document = {
        {"report_version", 2},
        {"tool_version", Text(toolVersion)},
        {"mode", report.IdentifyOnly ? "identify" : "update"},
        {"started", IsoUtc(report.Started)},
        {"ended", IsoUtc(report.Ended)},
        {"duration_s", seconds < 0 ? 0.0 : seconds},
        {"sessions", report.Sessions},
        {"port", PortJson(report.Port)},
        {"instrument", IdentityJson(report.Identity)},
        {"firmware", FirmwareJson(report.Firmware)},
        {"method", OrNull(report.Method)},
        {"bytes_sent", report.BytesSent},
        {"retries", report.Retries},
        {"outcome", report.Outcome},
        {"failed_step", OrNull(report.FailedStep)},
        {"failure", FailureJson(report)},
        {"message_boxes", boxes},
        {"exit_code", report.ExitCode},
    };
    // Every text went through the Latin-1 conversion; replace still guards
    // against a byte that slipped past it.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool WriteReport(const SessionReport& report, const std::string& toolVersion,
                 const std::string& path, std::string& error) {
    const std::string text = ReportJson(report, toolVersion);
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot create a file beside \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    const int savedErrno = errno;
    // mkstemp makes the file private; a report is read by other programs.
    const bool written = done == text.size() && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write \"" + path +
                "\": " + std::strerror(written ? errno : (savedErrno != 0 ? savedErrno : EIO));
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace app
