#include "app/FailureCauses.h"

#include "app/UpdateSession.h"
#include "platform/FileLookup.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace app {

namespace {

std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + platform::Utf8ToLatin1(name);
    }
    return text;
}

std::string FolderName(const std::string& folder) {
    return folder.empty() ? platform::CurrentDirectory() : folder;
}

} // namespace

std::string FileProblemCause(const std::string& folder, const std::string& name) {
    using Result = platform::FoundFile::Result;
    const platform::FoundFile found = platform::LocateFile(folder, name);
    std::string path = found.Path;
    if (path.empty()) {
        path = !name.empty() && name.front() == '/' ? name
                                                    : platform::JoinPath(FolderName(folder), name);
    }
    path = platform::Utf8ToLatin1(path);
    switch (found.What) {
    case Result::Missing:
        return path + ": not found";
    case Result::NotAFile:
        return path + ": not a file";
    case Result::Ambiguous:
        return path + ": several files differ only in case: " + Listed(found.Matches);
    case Result::Found:
        break;
    }
    return path + ": cannot be read";
}

std::string ConfigFileCause(const std::vector<std::string>& folders, const std::string& name) {
    std::vector<std::string> looked;
    for (const std::string& folder : folders) {
        if (platform::LocateFile(folder, name).What != platform::FoundFile::Result::Missing) {
            return FileProblemCause(folder, name);
        }
        looked.push_back(FolderName(folder));
    }
    return name + ": not found in " + Listed(looked);
}

programmers::TFailure UpdateSession::NoInstrumentFailure(const std::string& lead) const {
    const std::string ports = SearchedPortNames();
    programmers::TFailure failure =
        FailureAt({}, ports.empty() ? "no serial port to search" : lead + ports);
    if (Session.ScanIndex >= 0) {
        for (int code : Config.BaudList) {
            failure.Detail += (failure.Detail.empty() ? "searched at " : ", ") +
                              std::string(BaudRateTexts[static_cast<std::size_t>(code)]);
        }
        failure.Detail += failure.Detail.empty() ? "" : " baud";
    }
    return failure;
}

programmers::TFailure UpdateSession::WrongDeviceFailure(int entry, bool fileKnown) const {
    const programmers::TDeviceIdent& ident = Session.Job.Ident;
    if (entry < 0) {
        return FailureAt(step::Check, "device number " + ident.DeviceNr + " matches no entry of " +
                                          Config.ProgDeviceFile);
    }
    const DeviceRow& row = DeviceTable[static_cast<std::size_t>(entry)];
    if (!fileKnown) {
        return FailureAt(step::Check,
                         Session.CurrentFile.empty()
                             ? "the entry of " + row.DeviceName + " names no firmware file"
                             : Session.CurrentFile + " is not among the firmware files of " +
                                   platform::Utf8ToLatin1(Options.ProgramFolder));
    }
    return FailureAt(step::Check, "the loader names itself \"" + Session.BootAnswerText +
                                      "\", the entry expects \"" + row.BootLoadKenn + "\"");
}

programmers::TFailure UpdateSession::RestartSilenceFailure() const {
    const std::string bound = std::to_string(Session.RestartBoundMs) + " ms";
    if (Session.RestartUnverified) {
        return FailureAt(step::Restart, "no answer from the instrument within " + bound);
    }
    programmers::TFailure failure =
        FailureAt(step::Restart, "no report from the new firmware within " + bound);
    if (Session.RestartBoundMs > RestartAskAfterMs) {
        std::string ask = command::Dialogue;
        failure.Detail = "asked with " + ask.substr(0, ask.find('\r')) + " after " +
                         std::to_string(RestartAskAfterMs) + " ms";
    }
    return failure;
}

} // namespace app
