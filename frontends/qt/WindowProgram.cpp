#include "frontends/qt/WindowProgram.h"

#include "app/ConfigFolders.h"
#include "app/Updatemain.h"
#include "frontends/qt/MainWindow.h"
#include "frontends/qt/QtDialogs.h"
#include "frontends/qt/QtLoop.h"
#include "platform/Application.h"

#include <memory>
#include <string>

namespace qtfront {

int RunWindowProgram(app::ProgramOptions options, platform::Dialogs* boxes) {
    app::StartOptions start;
    std::string error;
    if (!app::ApplyProgramOptions(options, start, error)) {
        return app::EndBeforeStart(app::exitcode::FolderMissing, error, options, WindowProgramName);
    }
    platform::Application& loop = platform::Application::Instance();
    loop.SetBackend(std::make_unique<QtLoop>());
    int exitCode = app::exitcode::Success;
    {
        MainWindow window;
        QtDialogs windowDialogs(&window);
        platform::Dialogs& dialogs = boxes != nullptr ? *boxes : windowDialogs;
        // Installed, the program's own folder holds no configuration: the
        // operator shows where the program folder is.
        if (options.Folder.empty() && !app::UpdateIniPresent() &&
            !app::ChooseProgramFolder(dialogs, options, start, error)) {
            loop.SetBackend(nullptr);
            return app::EndBeforeStart(app::exitcode::ConfigurationMissing, error, options,
                                       WindowProgramName);
        }
        start.Observer = window.Observer();
        app::TUpdateForm form(dialogs, start);
        window.Bind(form);
        window.show();
        {
            auto signalWatch = app::WatchTerminationSignals(form);
            loop.Run();
        }
        exitCode = app::FinishRun(form.FinishReport(), form.ExitCode(), options, WindowProgramName);
        window.hide();
        window.Unbind();
    }
    // The Qt backend must go while Qt still runs.
    loop.SetBackend(nullptr);
    return exitCode;
}

} // namespace qtfront
