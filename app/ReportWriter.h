#pragma once

#include "app/SessionReport.h"

#include <string>

namespace app {

// The report as JSON text (UTF-8; the record's Latin-1 texts are converted).
std::string ReportJson(const SessionReport& report, const std::string& toolVersion);

// Writes the report to path through a temporary file in the same folder and
// a rename, so that a reader sees the old file or the whole new one. False
// with a reason in error.
bool WriteReport(const SessionReport& report, const std::string& toolVersion,
                 const std::string& path, std::string& error);

} // namespace app
