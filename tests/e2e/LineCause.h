#pragma once

#include "tests/support/ReportSchema.h"

#include <nlohmann/json.hpp>
#include <string>

namespace e2e {

// Empty when the log (out) and the report's failure cause both name the
// port, its device and the hang-up; else what lacks it.
inline std::string HangUpUntold(const std::string& port, const std::string& device,
                                const std::string& out, const std::string& reportPath) {
    const std::string line = port + " (" + device + "): ";
    const std::size_t logged = out.find(line);
    if (logged == std::string::npos ||
        out.substr(logged, out.find('\n', logged) - logged).find("hung up") == std::string::npos) {
        return "LOG LACKS THE CAUSE";
    }
    const nlohmann::json report = testing_support::ReadValidatedReport(reportPath);
    const nlohmann::json& failure = report["failure"];
    const std::string cause = failure.is_object() && failure["cause"].is_string()
                                  ? failure["cause"].get<std::string>()
                                  : "";
    if (cause.rfind(line, 0) != 0 || cause.find("hung up") == std::string::npos) {
        return "REPORT LACKS THE CAUSE " + failure.dump();
    }
    return {};
}

} // namespace e2e
