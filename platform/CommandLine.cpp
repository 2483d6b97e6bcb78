#include "platform/CommandLine.h"

#include <getopt.h>
#include <mutex>

namespace platform {

namespace {

// getopt_long keeps its state in globals; one parse at a time.
std::mutex parseMutex;

// The option getopt_long stopped at, as the user wrote it: the long one by
// its name, a short one by its letter.
std::string WrittenOption(const std::vector<std::string>& argv, int at, int shortOption,
                          const std::vector<OptionSpec>& specs) {
    if (shortOption >= 1000 && static_cast<std::size_t>(shortOption - 1000) < specs.size()) {
        return std::string("--") + specs[static_cast<std::size_t>(shortOption - 1000)].Long;
    }
    if (shortOption > 0 && shortOption < 128) {
        return std::string("-") + static_cast<char>(shortOption);
    }
    if (at < 1 || static_cast<std::size_t>(at) >= argv.size()) {
        return "?";
    }
    const std::string& text = argv[static_cast<std::size_t>(at)];
    return text.substr(0, text.find('='));
}

std::string DashedName(const OptionSpec& entry) {
    return std::string("--") + entry.Long;
}

} // namespace

OptionSpec::ApplyFunction SetsFlag(bool& field) {
    return [&field](const std::string&, std::string&) { return field = true; };
}

OptionSpec::ApplyFunction StoresValue(std::string& field, const char* option) {
    return [&field, option](const std::string& value, std::string& error) {
        if (value.empty()) {
            error = std::string("--") + option + " needs a value";
            return false;
        }
        field = value;
        return true;
    };
}

bool ParseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                      const std::vector<OptionConflict>& conflicts, std::string& error) {
    std::vector<option> longOptions;
    // '+': stop at the first non-option instead of permuting; ':' first:
    // a missing value is told apart from an unknown option.
    std::string shortOptions = "+:";
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const OptionSpec& entry = specs[i];
        const int hasArg = entry.ValueName != nullptr ? required_argument : no_argument;
        longOptions.push_back({entry.Long, hasArg, nullptr, 1000 + static_cast<int>(i)});
        if (entry.Short != 0) {
            shortOptions += entry.Short;
            if (hasArg == required_argument) {
                shortOptions += ':';
            }
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.push_back("program");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : storage) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    std::lock_guard lock(parseMutex);
    optind = 0; // glibc: start afresh, also after an earlier parse
    opterr = 0;
    std::set<std::string> given;
    for (;;) {
        const int previous = optind == 0 ? 1 : optind;
        const int code =
            getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), nullptr);
        if (code == -1) {
            break;
        }
        if (code == '?') {
            const std::string written = WrittenOption(storage, previous, optopt, specs);
            error = optopt >= 1000 ? "option " + written + " takes no value"
                    : optopt != 0  ? "unknown option " + written
                                   : "unknown or ambiguous option " + written;
            return false;
        }
        if (code == ':') {
            error = "option " + WrittenOption(storage, previous, optopt, specs) + " needs a value";
            return false;
        }
        const OptionSpec* entry = nullptr;
        if (code >= 1000) {
            entry = &specs[static_cast<std::size_t>(code - 1000)];
        } else {
            for (const OptionSpec& candidate : specs) {
                if (candidate.Short == code) {
                    entry = &candidate;
                }
            }
        }
        if (entry == nullptr) {
            error = "unknown option";
            return false;
        }
        given.insert(entry->Long);
        const std::string value = entry->ValueName != nullptr && optarg != nullptr ? optarg : "";
        if (entry->Apply && !entry->Apply(value, error)) {
            return false;
        }
    }
    if (optind < argc) {
        error = "unexpected argument \"" + storage[static_cast<std::size_t>(optind)] + "\"";
        return false;
    }
    for (const OptionConflict& pair : conflicts) {
        if (given.contains(pair.First) && given.contains(pair.Second)) {
            error = std::string("--") + pair.First + " and --" + pair.Second +
                    " cannot be used together";
            return false;
        }
    }
    return true;
}

std::string OptionHelp(const std::vector<OptionSpec>& specs) {
    constexpr std::size_t HelpColumn = 26;
    std::string text;
    for (const OptionSpec& entry : specs) {
        std::string names = entry.Short != 0 ? std::string("  -") + entry.Short + ", " : "      ";
        names += DashedName(entry);
        if (entry.ValueName != nullptr) {
            names += std::string(" ") + entry.ValueName;
        }
        names += names.size() + 2 <= HelpColumn ? std::string(HelpColumn - names.size(), ' ')
                                                : "\n" + std::string(HelpColumn, ' ');
        std::string help = entry.Help;
        for (std::size_t at = help.find('\n'); at != std::string::npos;
             at = help.find('\n', at + 1)) {
            help.insert(at + 1, std::string(HelpColumn, ' '));
        }
        text += names + help + "\n";
    }
    return text;
}

} // namespace platform
