#include "programmers/ExternalTool.h"

#include "platform/Application.h"
#include "platform/Process.h"
#include "platform/SerialDevice.h"
#include "platform/Tick.h"
#include "programmers/DeviceWatch.h"
#include "programmers/HexLoad.h"
#include "programmers/ProgramFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace programmers {

namespace {

constexpr int ToolPollMs = 200;
// The hex loader's pace, for the title's estimate.
constexpr std::uintmax_t BytesPerTick = 2000;

std::string ToolName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string NoFileCause(const std::string& programFile) {
    return "no firmware file for the tool: \"" + programFile + "\"";
}

} // namespace

std::vector<std::string> HexLoaderArguments(const std::string& file, int comPort, bool keepBaud) {
    return {file, "-com" + std::to_string(comPort),
            std::string("-baudrate") + (keepBaud ? "9600" : "38400"), "-auto", "-exit"};
}

std::vector<std::string> Pic32Arguments(const std::string& file, int comPort) {
    if (comPort < 1 || comPort > Pic32HighestPort) {
        return {};
    }
    return {"-f" + file, "-c" + std::string(1, static_cast<char>('0' + comPort)), "-b7", "-a"};
}

bool ToolRunsAgain(const TToolRun& run, int attempts, bool deviceGone) {
    if (attempts >= MaxToolAttempts) {
        return false;
    }
    if (run.StartError != 0) {
        return run.StartError != ENOENT;
    }
    return run.ExitCode == ToolRetryExitCode && !deviceGone;
}

// posix_spawn also says ENOENT when the tool is there but the interpreter of
// its script or its program loader is not.
std::string ToolStartCause(const std::string& path, int error) {
    const std::string name = platform::ErrorName(error);
    std::string why = std::strerror(error);
    if (error == ENOENT) {
        std::error_code ignored;
        why = std::filesystem::exists(path, ignored) ? "its interpreter or loader was not found"
                                                     : "not found";
    }
    return "cannot start the tool " + path + ": " + why + (name.empty() ? "" : " (" + name + ")");
}

std::string ToolBoundCause(const std::string& path) {
    return ToolName(path) + " ran longer than " + std::to_string(ToolRunBoundMs / 1000) +
           " s and was ended";
}

std::string ToolExitCause(const std::string& path, int exitCode, int attempts) {
    return ToolName(path) + " failed with exit code " + std::to_string(exitCode) + " after " +
           std::to_string(attempts) + (attempts == 1 ? " attempt" : " attempts");
}

TExternalTool::TExternalTool(const TProgrammerContext& context, const TToolSettings& settings)
    : TProgrammerTyp(context), settings_(settings) {}

TProgrammerResult TExternalTool::Program(const std::string& fileName) {
    if (Job.ProgFile.size() <= 4) {
        return TProgrammerResult::Failed(TransferFailure(NoFileCause(Job.ProgFile)));
    }
    return settings_.Which == Tool::Pic32Loader ? RunPic32Loader(fileName) : RunHexLoader(fileName);
}

std::string TExternalTool::FileArgument(const std::string& fileName) {
    const TProgramFile file = LocateProgramFile(Host, fileName);
    return file.Name.empty() ? fileName : WithEntryName(fileName, file.Name);
}

// A tool or the library that is missing is left to the run, which says so;
// one that stands there but cannot be taken fails here, after its box.
TProgrammerResult TExternalTool::RunHexLoader(const std::string& fileName) {
    std::string libraryPath;
    std::string toolPath;
    TFailure failure;
    if (!ProgramFilePath(Host, UpdaterLibraryName, libraryPath, failure, IfMissing::Take) ||
        !ProgramFilePath(Host, HexLoaderTool, toolPath, failure, IfMissing::Take)) {
        return TProgrammerResult::Failed(std::move(failure));
    }
    const std::string argument = FileArgument(fileName);
    const int comPort = Host.SessionPortNumber();
    Host.ReleaseSessionPort();
    std::error_code error;
    const std::uintmax_t size =
        std::filesystem::file_size(LocateProgramFile(Host, fileName).Path, error);
    const double ticksToFull = error ? 0 : static_cast<double>(size / BytesPerTick);
    TProgrammerResult result;
    {
        TUpdaterProgress progress(Host);
        THexLoad updater(libraryPath, Delay, progress.Reporter());
        if (updater.LibraryPresent()) {
            result = RunUpdaterJob(updater, Host, Delay, Port, argument, comPort);
        } else {
            std::vector<std::string> argv = {toolPath};
            for (std::string& word : HexLoaderArguments(argument, comPort, Job.KeepBaud[0] != 0)) {
                argv.push_back(std::move(word));
            }
            Delay.DelayTime(1500, true);
            result = RunAttempts(argv, ticksToFull, 1000);
        }
    }
    return TakePortBack(std::move(result), settings_.LowSpeedAfter, 500, false);
}

TProgrammerResult TExternalTool::RunPic32Loader(const std::string& fileName) {
    std::string toolPath;
    TFailure failure;
    if (!ProgramFilePath(Host, Pic32Tool, toolPath, failure, IfMissing::Take)) {
        return TProgrammerResult::Failed(std::move(failure));
    }
    const int comPort = Host.SessionPortNumber();
    if (Pic32Arguments(fileName, comPort).empty()) {
        std::string text = Host.Text(ProgrammerText::ToolPortTooHigh);
        const std::size_t at = text.find("PORT");
        if (at != std::string::npos) {
            text.replace(at, 4, serial::TComPort::PortName(comPort - 1));
        }
        Host.Dialogs().MessageBox(text, Host.Text(ProgrammerText::CaptionError),
                                  platform::MB_OK | platform::MB_ICONERROR);
        return TProgrammerResult::Failed(
            TransferFailure(serial::TComPort::PortName(comPort - 1) + " is beyond the ports " +
                            serial::TComPort::PortName(0) + " to " +
                            serial::TComPort::PortName(Pic32HighestPort - 1) + " that " +
                            Pic32Tool + " can be given"));
    }
    Host.ReleaseSessionPort();
    Delay.DelayTime(1000, true);
    std::vector<std::string> argv = {toolPath};
    for (std::string& word : Pic32Arguments(FileArgument(fileName), comPort)) {
        argv.push_back(std::move(word));
    }
    return TakePortBack(RunAttempts(argv, std::nullopt, 1500), false, 200, true);
}

TProgrammerResult TExternalTool::RunAttempts(const std::vector<std::string>& argv,
                                             std::optional<double> ticksToFull, long afterRunMs) {
    platform::Application& application = platform::Application::Instance();
    TToolRun run;
    int attempts = 0;
    do {
        if (attempts > 0) {
            Host.CountRetry();
        }
        ++attempts;
        if (ticksToFull) {
            Host.StartTitleEstimate(*ticksToFull);
        }
        platform::TChildProcess tool;
        if (!tool.Start(argv)) {
            Host.ShowLogLine(Host.Text(ProgrammerText::ToolNotStarted) + argv.front());
            run = {tool.StartError(), ToolRetryExitCode};
            Host.StopTitleEstimate();
            continue;
        }
        // The loop sleeps between looks: the window stays responsive and the
        // wait costs no processor time of its own. The device is looked at
        // on every look: a stat is cheap.
        const std::uint32_t started = platform::GetTickCount();
        const std::uint32_t boundMs =
            std::max<std::uint32_t>(1, ToolRunBoundMs / application.TimeDivisor());
        TDeviceWatch device(Port);
        while (!tool.Ended(run.ExitCode)) {
            if (application.Terminated()) {
                tool.Terminate();
                Host.StopTitleEstimate();
                Host.ShowLogLine(Host.Text(ProgrammerText::ToolEndedAtClose));
                return TProgrammerResult::Aborted(
                    TransferFailure(ToolName(argv.front()) + " ended: the program is closing"));
            }
            const std::uint32_t now = platform::GetTickCount();
            if (now - started >= boundMs) {
                tool.Terminate();
                Host.StopTitleEstimate();
                const std::string cause = ToolBoundCause(argv.front());
                Host.ShowLogLine(cause);
                return TProgrammerResult::Failed(TransferFailure(cause));
            }
            if (device.GoneForGrace(now)) {
                tool.Terminate();
                Host.StopTitleEstimate();
                // Said here as well: the device may be back by the time the
                // port is taken back, which then names no cause of its own.
                const std::string cause =
                    ToolName(argv.front()) + " ended: the device of its port is gone";
                Host.ShowLogLine(cause);
                return TProgrammerResult::Failed(TransferFailure(cause));
            }
            application.ProcessMessagesFor(ToolPollMs);
        }
        run.StartError = 0;
        Host.StopTitleEstimate();
        // Nothing settles on a device that is gone.
        if (!Port.DeviceGone()) {
            Delay.DelayTime(afterRunMs, true);
        }
    } while (!application.Terminated() && ToolRunsAgain(run, attempts, Port.DeviceGone()));
    if (run.ExitCode == 0) {
        return TProgrammerResult::Success();
    }
    // The session's abort text alone would not say which step failed.
    Host.ShowLogLine(Host.Text(ProgrammerText::ToolFailed) + std::to_string(run.ExitCode) + ": " +
                     argv.front());
    return TProgrammerResult::Failed(
        TransferFailure(run.StartError != 0 ? ToolStartCause(argv.front(), run.StartError)
                                            : ToolExitCause(argv.front(), run.ExitCode, attempts)));
}

TProgrammerResult TExternalTool::TakePortBack(TProgrammerResult result, bool lowSpeedAfter,
                                              long settleMs, bool settleProcesses) {
    TFailure lost = Host.ReclaimSessionPort(lowSpeedAfter && result.Succeeded());
    if (!lost.Empty()) {
        result = TProgrammerResult::Failed(std::move(lost));
    } else {
        // Nothing settles on a port that did not come back.
        Delay.DelayTime(settleMs, settleProcesses);
    }
    Host.ShowTitleState(TitleState::Plain);
    return result;
}

} // namespace programmers
