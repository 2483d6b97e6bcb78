// 200 sessions in one window process, without a display: this program is
// the Update window (the same window, boxes and Qt loop as the program's
// main) with an operator of its own, who presses OK and answers the boxes
// through Qt, as a person would. Prints its own peak and current resident
// size and open descriptors after every 20 sessions.
//
//   QT_QPA_PLATFORM=offscreen window_soak_bench
#include "SoakSetup.h"
#include "app/Program.h"
#include "app/Updatemain.h"
#include "frontends/qt/MainWindow.h"
#include "frontends/qt/QtDialogs.h"
#include "frontends/qt/QtLoop.h"
#include "platform/Application.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace {

QtMessageHandler qtMessages = nullptr;

// The offscreen platform warns about size hints at every box it shows.
void WithoutSizeHintNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.contains("propagateSizeHints")) {
        qtMessages(type, context, text);
    }
}

// Plays the operator from a timer: one action per look, each run from the
// loop (not from the timer) so that the session it starts may run nested
// loops while the timer keeps looking.
class Operator {
public:
    Operator(QPushButton& ok, app::TUpdateForm& form, soak::FigureTable& table)
        : ok_(ok), form_(form), table_(table) {
        QObject::connect(&look_, &QTimer::timeout, [this] { Look(); });
        look_.start(5);
    }
    int Sessions() const { return session_; }
    bool Failed() const { return failed_; }

private:
    void Look() {
        if (acting_) {
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (box->isVisible() && box != answered_) {
                answered_ = box;
                Act([this, box] { Answer(*box); });
            }
            return;
        }
        if (!ok_.isEnabled() || form_.SessionRunning()) {
            if (session_ > 0 && started_.elapsed() > SessionBoundMs) {
                failed_ = true;
                look_.stop();
                platform::Application::Instance().Terminate();
            }
            return;
        }
        if (session_ > 0) {
            if (soak::StepOf(session_) != soak::Step::AnswerNo && !failureSeen_) {
                failed_ = true; // a session planned to fail ended without its box
            }
            if (session_ % soak::FiguresEvery == 0) {
                table_.Add(session_, soak::FiguresOf(std::to_string(::getpid())));
            }
        }
        if (session_ == soak::Sessions || failed_) {
            look_.stop();
            platform::Application::Instance().Terminate();
            return;
        }
        ++session_;
        started_.start();
        failureSeen_ = false;
        Act([this] { ok_.click(); });
    }
    void Answer(QMessageBox& box) {
        QAbstractButton* button = box.button(QMessageBox::Ok);
        if (box.button(QMessageBox::Yes) != nullptr) {
            const bool yes = soak::StepOf(session_) == soak::Step::AnswerYesAndFail;
            button = box.button(yes ? QMessageBox::Yes : QMessageBox::No);
        } else {
            failureSeen_ = true;
        }
        if (button != nullptr) {
            button->click();
        }
    }
    // The action runs once the timer's look has returned; while it runs
    // (a whole session, with nested loops) the timer goes on looking.
    template <typename F> void Act(F action) {
        acting_ = true;
        QTimer::singleShot(0, [this, action] {
            acting_ = false;
            action();
        });
    }

    QPushButton& ok_;
    app::TUpdateForm& form_;
    soak::FigureTable& table_;
    static constexpr qint64 SessionBoundMs = 120000;
    QTimer look_;
    QElapsedTimer started_;
    // A guarded pointer: the next box may be built where the last one was.
    QPointer<QMessageBox> answered_;
    int session_ = 0;
    bool failureSeen_ = false;
    bool failed_ = false;
    bool acting_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    soak::Bench bench;
    if (!bench.Ready()) {
        std::fprintf(stderr, "the simulated instrument did not start; see %s\n",
                     bench.File("sim.out").c_str());
        return 1;
    }
    qtMessages = qInstallMessageHandler(WithoutSizeHintNotes);
    QApplication qtApplication(argc, argv);
    app::ProgramOptions options;
    app::StartOptions start;
    std::string error;
    if (!app::ParseProgramOptions({"--dir", bench.File("prog"), "--ports", bench.File("ports"),
                                   "--time-divisor", soak::TimeDivisor},
                                  options, {}, error) ||
        !app::ApplyProgramOptions(options, start, error)) {
        std::fprintf(stderr, "window_soak_bench: %s\n", error.c_str());
        return 1;
    }
    platform::Application& loop = platform::Application::Instance();
    loop.SetBackend(std::make_unique<qtfront::QtLoop>());
    soak::FigureTable table("instrument-update-gui window, offscreen, boxes answered through Qt");
    bool failed = false;
    int sessions = 0;
    {
        qtfront::MainWindow window;
        qtfront::QtDialogs dialogs(&window);
        start.Observer = window.Observer();
        app::TUpdateForm form(dialogs, start);
        window.Bind(form);
        window.show();
        auto* ok = window.findChild<QPushButton*>("OkBitBtn");
        if (ok == nullptr) {
            std::fprintf(stderr, "window_soak_bench: no OK button\n");
            return 1;
        }
        Operator person(*ok, form, table);
        loop.Run();
        failed = person.Failed();
        sessions = person.Sessions();
        window.hide();
        window.Unbind();
    }
    loop.SetBackend(nullptr);
    if (failed || sessions != soak::Sessions) {
        std::fprintf(stderr, "session %d did not end as planned (kept: %s)\n", sessions,
                     bench.File("").c_str());
        bench.Keep();
        return 1;
    }
    table.Summary();
    return 0;
}
