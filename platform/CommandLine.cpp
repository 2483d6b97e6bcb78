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

std::string DashedName(const OptionSpec& spec) {
    return std::string("--") + spec.Long;
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                      const std::vector<OptionConflict>& conflicts, std::string& error) {
    std::vector<option> longOptions;
    // '+': stop at the first non-option instead of permuting; ':' first:
    // a missing value is told apart from an unknown option.
    std::string shortOptions = "+:";
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const OptionSpec& spec = specs[i];
        const int hasArg = spec.ValueName != nullptr ? required_argument : no_argument;
        longOptions.push_back({spec.Long, hasArg, nullptr, 1000 + static_cast<int>(i)});
        if (spec.Short != 0) {
            shortOptions += spec.Short;
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
        const OptionSpec* spec = nullptr;
        if (code >= 1000) {
            spec = &specs[static_cast<std::size_t>(code - 1000)];
        } else {
            for (const OptionSpec& candidate : specs) {
                if (candidate.Short == code) {
                    spec = &candidate;
                }
            }
        }
        if (spec == nullptr) {
            error = "unknown option";
            return false;
        }
        given.insert(spec->Long);
        const std::string value = spec->ValueName != nullptr && optarg != nullptr ? optarg : "";
        if (spec->Apply && !spec->Apply(value, error)) {
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
    for (const OptionSpec& spec : specs) {
        std::string names = spec.Short != 0 ? std::string("  -") + spec.Short + ", " : "      ";
        names += DashedName(spec);
        if (spec.ValueName != nullptr) {
            names += std::string(" ") + spec.ValueName;
        }
        names += names.size() + 2 <= HelpColumn ? std::string(HelpColumn - names.size(), ' ')
                                                : "\n" + std::string(HelpColumn, ' ');
        std::string help = spec.Help;
        for (std::size_t at = help.find('\n'); at != std::string::npos;
             at = help.find('\n', at + 1)) {
            help.insert(at + 1, std::string(HelpColumn, ' '));
        }
        text += names + help + "\n";
    }
    return text;
}

} // namespace platform
