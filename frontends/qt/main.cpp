// The window of the update tool.
#include "app/Program.h"
#include "frontends/qt/QtOwnOptions.h"
#include "frontends/qt/WindowProgram.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* Program = qtfront::WindowProgramName;

constexpr const char* HelpAfterOptions =
    "\nQt's own options (-platform offscreen, -style NAME, ...) are taken as well.\n";
constexpr const char* HelpExamples =
    "  instrument-update-gui --dir /srv/update --port /dev/ttyUSB0\n"
    "  instrument-update-gui --dir /srv/update --identify --report identity.json\n";

// Help and the version end the program without a window.
bool AnswersWithoutWindow(const app::ProgramOptions& options) {
    if (options.ShowHelp) {
        std::fputs(app::ProgramHelp(Program, {}, HelpAfterOptions, HelpExamples).c_str(), stdout);
        return true;
    }
    if (options.ShowVersion) {
        std::printf("%s %s\n", Program, app::ToolVersion());
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    app::ProgramOptions options;
    std::string error;
    // Read before Qt starts, which without a display would end the program.
    // Should this look fail (an option of Qt's not known here), Qt takes its
    // own and the rest is read again below.
    const std::vector<std::string> given(argv + 1, argv + argc);
    if (app::ParseProgramOptions(qtfront::WithoutQtOptions(given), options, {}, error) &&
        AnswersWithoutWindow(options)) {
        return app::exitcode::Success;
    }
    QApplication qtApplication(argc, argv);
    std::vector<std::string> args;
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        args.push_back(arg.toLocal8Bit().toStdString());
    }
    options = {};
    if (!app::ParseProgramOptions(args, options, {}, error)) {
        std::fprintf(stderr, "%s: %s (see --help)\n", Program, error.c_str());
        return app::exitcode::BadOption;
    }
    if (AnswersWithoutWindow(options)) {
        return app::exitcode::Success;
    }
    return qtfront::RunWindowProgram(options);
}
