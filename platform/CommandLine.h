#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// One command-line option: --Long (and -Short when given), with a value
// when ValueName is set. Apply takes the value (empty for a flag) and
// returns false with a message in error for a bad one.
struct OptionSpec {
    const char* Long;
    char Short = 0;
    const char* ValueName = nullptr;
    const char* Help = "";
    std::function<bool(const std::string& value, std::string& error)> Apply;
};

// Two options that cannot be given together (long names).
struct OptionConflict {
    const char* First;
    const char* Second;
};

// Parses args (without the program name) the way the GNU tools do, with
// getopt_long: "--opt value", "--opt=value", "-o value", "-ovalue", grouped
// short flags, unambiguous abbreviations and "--" as the end of the options.
// Arguments that are not options are refused, and so is each conflicting
// pair. False with one line in error naming what was wrong.
bool ParseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                      const std::vector<OptionConflict>& conflicts, std::string& error);

// The option list for --help: one entry per option, its help text aligned
// after the names; a help text's line breaks continue in the same column.
std::string OptionHelp(const std::vector<OptionSpec>& specs);

} // namespace platform
