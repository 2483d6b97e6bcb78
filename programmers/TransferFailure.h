#pragma once

#include "programmers/ProgrammerResult.h"
#include "serial/Comport.h"

#include <string>
#include <utility>

namespace programmers {

// A failure of the transfer step.
inline TFailure TransferFailure(std::string cause, std::string detail = {}) {
    return {TransferStep, std::move(cause), std::move(detail)};
}

// The port's last failure as the failure of step: the port, its device and
// the reason, with the line's result and errno.
inline TFailure PortFailure(const serial::TComPort& port, std::string step = TransferStep) {
    return {std::move(step), port.FailureText(), {}, port.FailureResult(), port.FailureErrno()};
}

} // namespace programmers
