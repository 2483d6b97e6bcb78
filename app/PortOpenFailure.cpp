#include "app/PortOpenFailure.h"

#include "app/Messages.h"
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

} // namespace

std::string OpenFailureText(const serial::TOpenFailure& failure, int language) {
    std::string text = MessageText(Msg::PortNotOpened, language);
    ReplaceWord(text, "PORT", serial::TComPort::PortName(failure.PortIndex));
    text += ' ';
    if (!failure.Path.empty()) {
        text += failure.Path + ": ";
    }
    const Msg reason = OpenFailureReason(failure);
    text += MessageText(reason, language);
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

} // namespace app
