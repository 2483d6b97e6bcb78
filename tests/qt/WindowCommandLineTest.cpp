// The window program's command line: help and the version, however they are
// written, end the program before a window is made, also without a display.
#include "../e2e/Harness.h"
#include "frontends/qt/QtOwnOptions.h"

#include <gtest/gtest.h>

namespace {

using testing_support::TempFolder;

// The window program where there is no display: a window it tried to make
// would end it with Qt's complaint, or never end.
e2e::Run WithoutDisplay(const TempFolder& folder, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/env",    "-u", "DISPLAY",         "-u",
                                     "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", WINDOW_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    return e2e::RunProgram(folder, argv, std::chrono::seconds(30));
}

TEST(WindowCommandLine, HelpAndVersionInEverySpellingNeedNoWindow) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--vers"}, "instrument-update-gui 0"},
        {{"-vV"}, "instrument-update-gui 0"},
        {{"--port=COM3", "-Vv"}, "instrument-update-gui 0"},
        {{"--he"}, "usage: instrument-update-gui [options]\n"},
        {{"-vh"}, "usage: instrument-update-gui [options]\n"},
        // Qt's own options before and between ours.
        {{"-platform", "xcb", "--version"}, "instrument-update-gui 0"},
        {{"-style=Fusion", "-reverse", "-h"}, "usage: instrument-update-gui [options]\n"},
    };
    for (const auto& [args, told] : cases) {
        TempFolder folder;
        const e2e::Run run = WithoutDisplay(folder, args);
        SCOPED_TRACE(args.back());
        ASSERT_FALSE(run.TimedOut) << "a window was started";
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_EQ(run.Out.rfind(told, 0), 0u) << run.Out;
        EXPECT_EQ(run.Err, "");
    }
}

TEST(WindowCommandLine, QtsOwnOptionsAreSetAsideWithTheirValues) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(qtfront::WithoutQtOptions({"-platform", "offscreen", "--dir", "x", "-style=Fusion",
                                         "--stylesheet", "a.qss", "-reverse", "-V"}),
              (Args{"--dir", "x", "-V"}));
    // Ours are kept, however near their names come to Qt's.
    EXPECT_EQ(qtfront::WithoutQtOptions({"-p", "COM3", "--ports=p", "--plat"}),
              (Args{"-p", "COM3", "--ports=p", "--plat"}));
    // After "--" nothing is taken out: the parser refuses what follows.
    EXPECT_EQ(qtfront::WithoutQtOptions({"--", "-reverse"}), (Args{"--", "-reverse"}));
}

} // namespace
