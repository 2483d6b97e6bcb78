#include "app/PortOpenFailure.h"

#include "app/Messages.h"
#include "app/SessionReport.h"
#include "platform/PortDetails.h"

#include <cerrno>

namespace app {

namespace {

// Busy and no permission both keep a port out; errno tells them apart.
Msg OpenFailureReason(const serial::TOpenFailure& failure) {
    switch (failure.Result) {
    case platform::SerialResult::AccessDenied:
        return failure.Error == EACCES || failure.Error == EPERM ? Msg::PortNoPermission
                                                                 : Msg::PortBusy;
    case platform::SerialResult::NotFound:
        return Msg::PortMissing;
    default:
        return Msg::PortOpenFailed;
    }
}

void ReplaceWord(std::string& text, const std::string& word, const std::string& with) {
    if (std::size_t at = text.find(word); at != std::string::npos) {
        text.replace(at, word.size(), with);
    }
}

// The reason with the errno's name; lacking permission names the group that
// owns the device, which is what the operator must join.
std::string ReasonText(const serial::TOpenFailure& failure, int language) {
    const Msg reason = OpenFailureReason(failure);
    std::string text = MessageText(reason, language);
    if (reason == Msg::PortNoPermission) {
        if (const std::string group = platform::OwningGroupName(failure.Path); !group.empty()) {
            std::string owner = MessageText(Msg::PortOwnedByGroup, language);
            ReplaceWord(owner, "GROUP", group);
            text += ", " + owner;
        }
    }
    const std::string name = platform::ErrorName(failure.Error);
    return name.empty() ? text : text + " (" + name + ")";
}

} // namespace

std::string OpenFailureText(const serial::TOpenFailure& failure, int language) {
    std::string text = MessageText(Msg::PortNotOpened, language);
    ReplaceWord(text, "PORT", serial::TComPort::PortName(failure.PortIndex));
    text += ' ';
    if (!failure.Path.empty()) {
        text += failure.Path + ": ";
    }
    return text + ReasonText(failure, language);
}

programmers::TFailure OpenFailureRecord(const serial::TOpenFailure& failure) {
    constexpr int English = 1;
    std::string port = serial::TComPort::PortName(failure.PortIndex);
    if (!failure.Path.empty()) {
        port += " (" + failure.Path + ")";
    }
    return {step::StartUp,
            "cannot open " + port + ": " + ReasonText(failure, English),
            {},
            failure.Result,
            failure.Error};
}

} // namespace app
