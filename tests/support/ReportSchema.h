#pragma once

// Every run report a test reads goes through here: it is checked against the
// schema the package installs (docs/report.schema.json) by the validator the
// operators get (scripts/validate-report.py), so that no test can take a
// report the schema does not describe.

#include "TempFolder.h"
#include "platform/Process.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/wait.h>

namespace testing_support {

// Empty when path holds a report the schema accepts; else what is wrong.
inline std::string ReportSchemaViolations(const std::string& path) {
    TempFolder scratch;
    const pid_t pid =
        platform::SpawnProcess({PYTHON3, REPORT_VALIDATOR, REPORT_SCHEMA, path},
                               {"/dev/null", scratch.File("out"), scratch.File("err")});
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) {
        return "the validator could not be started";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return {};
    }
    const std::string told = scratch.Read("err");
    return told.empty() ? "the validator failed with status " + std::to_string(status) : told;
}

// The report in text, parsed; the running test fails when it breaks the schema.
inline nlohmann::json ValidatedReport(const std::string& text) {
    TempFolder scratch;
    scratch.Write("report.json", text);
    const std::string violations = ReportSchemaViolations(scratch.File("report.json"));
    if (!violations.empty()) {
        ADD_FAILURE() << "the report breaks " << REPORT_SCHEMA << ":\n" << violations << text;
    }
    return nlohmann::json::parse(text, nullptr, false);
}

inline nlohmann::json ReadValidatedReport(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ValidatedReport({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
}

} // namespace testing_support
