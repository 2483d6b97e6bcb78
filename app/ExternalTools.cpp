#include "app/FailureCauses.h"
#include "app/Messages.h"
#include "app/ProgrammerServices.h"
#include "app/ProgressBars.h"
#include "app/UpdateSession.h"
#include "platform/Application.h"
#include "platform/Process.h"
#include "platform/SerialDevice.h"
#include "programmers/HexLoad.h"

#include <cstring>
#include <filesystem>
#include <sstream>

// Instruments that a separate tool programs: the tool gets the session port
// for its run and the session takes it back afterwards. The tools keep
// their Windows file names; they are started without a shell, so a file
// name reaches them as one argument whatever it holds.

namespace app {

namespace {

constexpr const char* HexLoaderTool = "HEXLoad_8N1.exe";
constexpr const char* Pic32Tool = "PIC32_Serial_Bootloader.exe";
constexpr int MaxToolAttempts = 3;
constexpr int RetryExitCode = 1;
constexpr int ToolPollMs = 200;
constexpr std::uintmax_t BytesPerTick = 2000;
// The PIC32 tool is told the port as one digit.
constexpr int Pic32HighestPort = 9;

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

std::string NoFileCause(const std::string& currentFile) {
    return "no firmware file for the tool: \"" + currentFile + "\"";
}

std::string ToolName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string ToolStartCause(const std::string& path, int error) {
    const std::string name = platform::ErrorName(error);
    return "cannot start the tool " + path + ": " +
           (error == ENOENT ? std::string("not found") : std::strerror(error)) +
           (name.empty() ? "" : " (" + name + ")");
}

std::string ToolExitCause(const std::string& path, int exitCode, int attempts) {
    return ToolName(path) + " failed with exit code " + std::to_string(exitCode) + " after " +
           std::to_string(attempts) + (attempts == 1 ? " attempt" : " attempts");
}

} // namespace

std::string UpdateSession::HexLoaderArgs(const std::string&) const {
    return " -com" + std::to_string(Session.PortNumber) + " -baudrate" +
           (Session.Job.KeepBaud[0] != 0 ? "9600" : "38400") + " -auto -exit";
}

int UpdateSession::RunExternalTool(programmers::Phase phase, const std::string& fileName) {
    const programmers::TChoice choice =
        programmers::Choose(SessionKey(phase, Session.FileClass), Options.AddedMethods);
    if (!choice) {
        ShowLogText(Text(Msg::NoToolForFileClass) + std::to_string(Session.FileClass));
        Session.LastFailure = FailureAt({}, "no programming tool for file class " +
                                                std::to_string(Session.FileClass));
        return 1;
    }
    // The tools' rows build no programmer: their runs take the port away
    // from the programmers' host. Any other row's method runs as a programmer.
    const programmers::Method method = choice.Entry->Id;
    if (method != programmers::Method::HexLoader && method != programmers::Method::Pic32Loader) {
        return RunProgrammer(phase, Session.FileClass, fileName) ? 0 : 1;
    }
    if (report_.Method.empty()) {
        report_.Method = choice.Entry->Name;
    }
    report_.Step = step::Transfer;
    return method == programmers::Method::Pic32Loader ? RunPic32Loader(fileName)
                                                      : RunHexLoader(fileName);
}

serial::TComPort* UpdateSession::ReleaseSessionPort() {
    serial::TComPort* port = SessionComPort();
    if (port != nullptr) {
        port->SaveLastV24Parameter();
        port->Close();
    }
    return port;
}

bool UpdateSession::ReclaimSessionPort(serial::TComPort* port, bool lowSpeedAfter) {
    if (port == nullptr || window_.Closed()) {
        return true;
    }
    // A port that does not open again shows its box here and fails the step
    // with its own cause, which outweighs what the tool said: a tool on a
    // line that went away fails for that reason.
    if (port->Open(window_.Handle(), 0, Session.PortNumber - 1, true) ==
        serial::INVALID_HANDLE_VALUE) {
        ShowLogText(port->FailureText());
        Session.LastFailure = {
            step::Transfer, port->FailureText(), {}, port->FailureResult(), port->FailureErrno()};
        return false;
    }
    if (lowSpeedAfter) {
        port->ChangeV24Parameter(serial::B__9600, serial::S_2, serial::NoParity, true);
    } else {
        port->LoadLastV24Parameter();
    }
    return true;
}

bool UpdateSession::FindToolFile(const std::string& name, std::string& path) {
    TSessionServices services(*this);
    programmers::TFailure failure;
    if (!programmers::ProgramFilePath(services, name, path, failure,
                                      programmers::IfMissing::Take)) {
        Session.LastFailure = std::move(failure);
        return false;
    }
    return true;
}

std::string UpdateSession::ToolFileArgument(const std::string& fileName) {
    const programmers::TProgramFile file = LocateProgramFile(fileName);
    // A path the tool opens: the entry's name in the bytes it has on disk.
    return file.Name.empty() ? fileName : programmers::WithEntryName(fileName, file.Name);
}

int UpdateSession::RunHexLoader(const std::string& fileName) {
    window_.ShowWaitPanel(false);
    std::string libraryPath;
    std::string toolPath;
    if (Session.CurrentFile.size() <= 4) {
        Session.LastFailure = FailureAt(step::Transfer, NoFileCause(Session.CurrentFile));
        return 1;
    }
    if (!FindToolFile(programmers::UpdaterLibraryName, libraryPath) ||
        !FindToolFile(HexLoaderTool, toolPath)) {
        return 1;
    }
    const std::string argument = ToolFileArgument(fileName);
    serial::TComPort* port = ReleaseSessionPort();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(LocateProgramFile(fileName).Path, error);
    Session.ExpectedTicks = error ? 0 : static_cast<double>(size / BytesPerTick);
    Session.TickCount = 0;
    int exitCode = 0;
    // The worker reports from its own thread; the window takes the reports
    // on the loop thread, in order.
    const platform::HWND target = window_.Handle();
    programmers::THexLoad updater(
        libraryPath, window_.Wait(), [target](const programmers::TUpdaterReport& report) {
            platform::Application::Instance().PostMessage(target, WM_UPDATER_PROGRESS,
                                                          static_cast<std::uintptr_t>(report.What),
                                                          report.Value);
        });
    if (updater.LibraryPresent()) {
        exitCode = RunUpdaterLibrary(updater, argument);
    } else {
        std::vector<std::string> argv = {toolPath, argument};
        for (std::string& word : SplitAtBlanks(HexLoaderArgs(fileName))) {
            argv.push_back(std::move(word));
        }
        window_.Wait().DelayTime(1500, true);
        exitCode = RunToolAttempts(argv, true, 1000);
    }
    if (!ReclaimSessionPort(port, Session.StartMode == 2 && exitCode == 0) && exitCode == 0) {
        exitCode = 1;
    }
    window_.Wait().DelayTime(500, false);
    window_.ShowTitleProgress("", -1);
    return exitCode;
}

int UpdateSession::RunPic32Loader(const std::string& fileName) {
    window_.ShowWaitPanel(false);
    std::string toolPath;
    if (Session.CurrentFile.size() <= 4) {
        Session.LastFailure = FailureAt(step::Transfer, NoFileCause(Session.CurrentFile));
        return 1;
    }
    if (!FindToolFile(Pic32Tool, toolPath)) {
        return 1;
    }
    const int portNumber = Session.PortNumber;
    if (portNumber < 1 || portNumber > Pic32HighestPort) {
        // Passing another digit would program whatever sits on that port.
        std::string text = Text(Msg::ToolPortTooHigh);
        const std::size_t at = text.find("PORT");
        if (at != std::string::npos) {
            text.replace(at, 4, "COM" + std::to_string(portNumber));
        }
        dialogs_.MessageBox(text, Text(Msg::CaptionError),
                            platform::MB_OK | platform::MB_ICONERROR);
        Session.LastFailure = FailureAt(
            {}, "COM" + std::to_string(portNumber) + " is beyond the ports COM1 to COM" +
                    std::to_string(Pic32HighestPort) + " that " + Pic32Tool + " can be given");
        return 1;
    }
    serial::TComPort* port = ReleaseSessionPort();
    window_.Wait().DelayTime(1000, true);
    const std::vector<std::string> argv = {
        toolPath, "-f" + ToolFileArgument(fileName),
        "-c" + std::string(1, static_cast<char>('0' + portNumber)), "-b7", "-a"};
    int exitCode = RunToolAttempts(argv, false, 1500);
    if (!ReclaimSessionPort(port, false) && exitCode == 0) {
        exitCode = 1;
    }
    window_.Wait().DelayTime(200, true);
    window_.ShowTitleProgress("", -1);
    return exitCode;
}

int UpdateSession::RunToolAttempts(const std::vector<std::string>& argv, bool titleProgress,
                                   long afterRunMs) {
    platform::Application& application = platform::Application::Instance();
    int exitCode = RetryExitCode;
    int attempts = 0;
    int startError = 0;
    for (int attempt = 0; attempt < MaxToolAttempts && !window_.Closed(); ++attempt) {
        if (attempt > 0) {
            ++report_.Retries;
        }
        ++attempts;
        window_.RunTitleProgress(titleProgress);
        Session.TickCount = 0;
        platform::TChildProcess tool;
        if (!tool.Start(argv)) {
            ShowLogText(Text(Msg::ToolNotStarted) + argv.front());
            startError = tool.StartError();
            exitCode = RetryExitCode;
            window_.RunTitleProgress(false);
            // A tool that is not there will not appear between attempts.
            if (startError == ENOENT) {
                break;
            }
            continue;
        }
        // The loop sleeps between looks: the window stays responsive and the
        // wait costs no processor time of its own.
        while (!tool.Ended(exitCode)) {
            if (window_.Closed() || application.Terminated()) {
                tool.Terminate();
                window_.RunTitleProgress(false);
                ShowLogText(Text(Msg::ToolEndedAtClose));
                End(Outcome::ClosedDuringTool);
                return RetryExitCode;
            }
            application.ProcessMessagesFor(ToolPollMs);
        }
        startError = 0;
        window_.RunTitleProgress(false);
        window_.Wait().DelayTime(afterRunMs, true);
        // The retries are for a port another program held for a moment; a
        // device that is gone does not come back within them.
        const serial::TComPort* port = SessionComPort();
        if (exitCode != RetryExitCode || (port != nullptr && port->DeviceGone())) {
            break;
        }
    }
    // The session's abort text alone would not say which step failed.
    if (exitCode != 0) {
        ShowLogText(Text(Msg::ToolFailed) + std::to_string(exitCode) + ": " + argv.front());
        Session.LastFailure = FailureAt(
            step::Transfer, startError != 0 ? ToolStartCause(argv.front(), startError)
                                            : ToolExitCause(argv.front(), exitCode, attempts));
    }
    return exitCode;
}

int UpdateSession::RunUpdaterLibrary(programmers::THexLoad& updater, const std::string& fileName) {
    if (fileName.size() > programmers::MaxUpdaterPath) {
        ShowLogText(Text(Msg::UpdaterPathTooLong) + fileName);
        Session.LastFailure =
            FailureAt(step::Transfer, "the updater library takes paths of up to " +
                                          std::to_string(programmers::MaxUpdaterPath) +
                                          " characters: " + fileName);
        return 1;
    }
    window_.SetProgressPosition(0);
    window_.SetProgressMaximum(UpdaterBarMax, programmers::ProgressUnit::Percent);
    window_.Wait().DelayTime(1000, true);
    updater.Start(fileName, Session.PortNumber);
    while (updater.Busy()) {
        window_.Wait().DelayTime(1000, true);
        if (window_.Closed() && updater.Busy()) {
            // The library call cannot be interrupted, and the program must
            // end all the same: the call is left to itself.
            updater.Abandon();
            window_.RunTitleProgress(false);
            ShowLogText(Text(Msg::UpdaterLeftBehind));
            End(Outcome::ClosedDuringTool);
            return 1;
        }
    }
    platform::Application::Instance().ProcessMessages();
    window_.RunTitleProgress(false);
    // The library's failure fails the step: a session must not report an
    // instrument as updated that the library did not program.
    if (updater.Failed()) {
        Session.LastFailure = FailureAt(
            step::Transfer, std::string(programmers::UpdaterLibraryName) + " failed to program " +
                                fileName + " on COM" + std::to_string(Session.PortNumber));
        return 1;
    }
    return 0;
}

} // namespace app
