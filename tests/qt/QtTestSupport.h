#pragma once

#include "../support/ScriptedDialogs.h"
#include "../support/TempFolder.h"
#include "../support/UpdateFormTestView.h"
#include "app/Updatemain.h"
#include "frontends/qt/MainWindow.h"
#include "frontends/qt/QtLoop.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/PortMap.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace qttest {

// One QApplication for the whole test program, without a display.
inline QApplication& QtApp() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

// Runs script on the first visible modal widget of type W once it shows
// (tests play the operator of a box).
template <typename W> void WhenModalShows(std::function<void(W&)> script) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, script] {
        if (auto* widget = qobject_cast<W*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            script(*widget);
        }
    });
    poll->start(10);
}

// The demo's configuration and language files in a temporary program
// folder, the Qt loop, and the window bound to a form built there.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QtApp();
        for (const char* file : {"Update.ini", "ProgDevice.ini", "Update.Deu", "Update.Eng"}) {
            std::string content;
            ASSERT_TRUE(
                platform::ReadWholeFile(std::string(UPDATE_SOURCE_DIR "/demo/") + file, content));
            folder.Write(file, content);
        }
        previous = platform::CurrentDirectory();
        ASSERT_TRUE(platform::SetCurrentDirectory(folder.Path()));
        platform::SetPortMapDirectory(ports.Path());
        platform::Application::Instance().Reopen();
        platform::Application::Instance().SetTitle("");
        platform::Application::Instance().SetBackend(std::make_unique<qtfront::QtLoop>());
    }
    void TearDown() override {
        window.reset();
        form.reset();
        platform::Application::Instance().SetBackend(nullptr);
        platform::Application::Instance().Reopen();
        platform::SetPortMapDirectory("");
        platform::SetCurrentDirectory(previous);
    }
    app::TUpdateForm& Build(platform::Dialogs& using_) {
        window = std::make_unique<qtfront::MainWindow>();
        app::StartOptions options;
        options.ProgramFolder = folder.Path();
        options.Observer = window->Observer();
        form = std::make_unique<app::TUpdateForm>(using_, options);
        window->Bind(*form);
        window->show();
        return *form;
    }
    template <typename W> W* Find(const char* name) const { return window->findChild<W*>(name); }

    testing_support::TempFolder folder;
    testing_support::TempFolder ports;
    testing_support::ScriptedDialogs dialogs;
    std::unique_ptr<qtfront::MainWindow> window;
    std::unique_ptr<app::TUpdateForm> form;
    std::string previous;
};

} // namespace qttest
