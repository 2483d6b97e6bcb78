#include "platform/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using platform::OptionSpec;

// A small option set that records what it was given.
struct Given {
    std::string Dir, Port;
    bool Quiet = false, Verbose = false, Yes = false, No = false;
    std::vector<OptionSpec> Specs() {
        auto into = [](std::string& field) {
            return [&field](const std::string& value, std::string&) {
                field = value;
                return true;
            };
        };
        auto flag = [](bool& field) {
            return [&field](const std::string&, std::string&) { return field = true; };
        };
        return {{"dir", 0, "DIR", "folder", into(Dir)},
                {"port", 'p', "PORT", "port\nsecond line", into(Port)},
                {"quiet", 'q', nullptr, "quiet", flag(Quiet)},
                {"verbose", 'v', nullptr, "verbose", flag(Verbose)},
                {"yes", 0, nullptr, "yes", flag(Yes)},
                {"no", 0, nullptr, "no", flag(No)}};
    }
};

bool Parse(Given& given, std::vector<std::string> args, std::string& error) {
    return platform::ParseCommandLine(args, given.Specs(), {{"yes", "no"}, {"quiet", "verbose"}},
                                      error);
}

TEST(CommandLine, TakesValuesInEveryGnuSpelling) {
    const std::vector<std::vector<std::string>> spellings = {
        {"--dir", "/a b", "--port", "COM3"}, {"--dir=/a b", "--port=COM3"},
        {"--dir=/a b", "-p", "COM3"},        {"--dir=/a b", "-pCOM3"},
        {"--di=/a b", "--po", "COM3"}, // unambiguous abbreviations
    };
    for (const auto& args : spellings) {
        Given given;
        std::string error;
        ASSERT_TRUE(Parse(given, args, error)) << args[0] << ": " << error;
        EXPECT_EQ(given.Dir, "/a b");
        EXPECT_EQ(given.Port, "COM3");
    }
    Given grouped;
    std::string error;
    ASSERT_TRUE(Parse(grouped, {"-qpCOM1"}, error)) << error;
    EXPECT_TRUE(grouped.Quiet);
    EXPECT_EQ(grouped.Port, "COM1");
}

TEST(CommandLine, DoubleDashEndsTheOptionsAndNothingMayFollow) {
    Given given;
    std::string error;
    EXPECT_TRUE(Parse(given, {"-q", "--"}, error)) << error;
    EXPECT_TRUE(given.Quiet);
    EXPECT_FALSE(Parse(given, {"--", "--dir"}, error));
    EXPECT_EQ(error, "unexpected argument \"--dir\"");
    EXPECT_FALSE(Parse(given, {"/dev/ttyUSB0"}, error));
    EXPECT_EQ(error, "unexpected argument \"/dev/ttyUSB0\"");
}

TEST(CommandLine, RefusalsSayWhatWasWrongInOneLine) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "unknown or ambiguous option --bogus"},
        {{"--bogus=1"}, "unknown or ambiguous option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"--dir"}, "option --dir needs a value"},
        {{"-p"}, "option -p needs a value"},
        {{"--quiet=1"}, "option --quiet takes no value"},
        {{"-qp"}, "option -p needs a value"},
        {{"--yes", "--no"}, "--yes and --no cannot be used together"},
        {{"-v", "--dir=x", "-q"}, "--quiet and --verbose cannot be used together"},
    };
    for (const auto& [args, expected] : cases) {
        Given given;
        std::string error;
        EXPECT_FALSE(Parse(given, args, error)) << args[0];
        EXPECT_EQ(error, expected) << args[0];
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(CommandLine, AValueTheOptionRefusesEndsTheParse) {
    std::vector<OptionSpec> specs = {
        {"divisor", 0, "N", "", [](const std::string& value, std::string& error) {
             error = "bad divisor " + value;
             return false;
         }}};
    std::string error;
    EXPECT_FALSE(platform::ParseCommandLine({"--divisor=0"}, specs, {}, error));
    EXPECT_EQ(error, "bad divisor 0");
}

TEST(CommandLine, HelpAlignsEveryOptionsTextInOneColumn) {
    Given given;
    const std::string help = platform::OptionHelp(given.Specs());
    EXPECT_NE(help.find("      --dir DIR           folder\n"), std::string::npos) << help;
    EXPECT_NE(help.find("  -p, --port PORT         port\n                          second line\n"),
              std::string::npos)
        << help;
}

} // namespace
