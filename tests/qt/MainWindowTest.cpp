#include "QtTestSupport.h"
#include "frontends/qt/QtDialogs.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace qttest {
namespace {

QString Text(const std::string& latin1) {
    return qtfront::FromLatin1(latin1);
}

TEST_F(WindowFixture, ShowsTheStartTextWithItsUmlautsAndTheDesignState) {
    app::TUpdateForm& model = Build(dialogs);
    const QString memo = Find<QPlainTextEdit>("UpdateMemo")->toPlainText();
    ASSERT_FALSE(model.UpdateMemo->Lines().empty());
    EXPECT_EQ(memo, Text(model.UpdateMemo->Lines().front()));
    EXPECT_TRUE(memo.contains(QString::fromUtf8("für"))) << memo.toStdString();
    EXPECT_EQ(window->windowTitle(), "Download :");
    EXPECT_EQ(Find<QGroupBox>("UpdateGroupBox")->title(), QString::fromUtf8("Gerät"));
    EXPECT_TRUE(Find<QLabel>("InfoStaticText")->isHidden());
    EXPECT_TRUE(Find<QLabel>("WaitPanel")->isHidden());
    EXPECT_TRUE(Find<QAction>("TGZ70Programming")->isVisible() ==
                model.TGZ70Programming->Visible());
    EXPECT_FALSE(Find<QAction>("LoadProgFile")->isVisible());
    EXPECT_TRUE(Find<QAction>("Deutsch")->isChecked());
    EXPECT_FALSE(Find<QAction>("Englisch")->isChecked());
    EXPECT_EQ(Find<QAction>("Bearbeiten")->text(), "&Datei");
    // Panel widths as the form has them; the last one takes the rest.
    const int widths[] = {200, 50, 50, 120};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Find<QLabel>(("UpdateStatusBar.Panels" + std::to_string(i)).c_str())->width(),
                  widths[i]);
    }
}

TEST_F(WindowFixture, ServiceKeysShowTheirModeAndReachTheForm) {
    qtfront::QtDialogs qtDialogs;
    app::TUpdateForm& model = Build(qtDialogs);
    auto* info = Find<QLabel>("InfoStaticText");
    QTest::keyRelease(window.get(), Qt::Key_F1, Qt::ControlModifier);
    EXPECT_FALSE(info->isHidden());
    EXPECT_EQ(info->text(), "Debug-Mode");
    EXPECT_TRUE(TestView(model).Config().DebugInfo);
    QTest::keyRelease(window.get(), Qt::Key_F1, Qt::ControlModifier);
    EXPECT_TRUE(info->isHidden());

    QTest::keyRelease(window.get(), Qt::Key_F12, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(Find<QAction>("LoadProgFile")->isVisible());
    EXPECT_FALSE(info->isHidden());
    // Without Ctrl, F1 is only a key.
    QTest::keyRelease(window.get(), Qt::Key_F1);
    EXPECT_FALSE(TestView(model).Config().DebugInfo);
    // Ctrl let go before the key still counts, as it was down when it was pressed.
    QTest::keyPress(window.get(), Qt::Key_F1, Qt::ControlModifier);
    QTest::keyRelease(window.get(), Qt::Key_F1);
    EXPECT_TRUE(TestView(model).Config().DebugInfo);

    QString settingsTitle;
    WhenModalShows<QDialog>([&](QDialog& view) {
        settingsTitle = view.windowTitle();
        view.reject();
    });
    QTest::keyRelease(window.get(), Qt::Key_F11, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(settingsTitle, "Einstellungen");

    // Ctrl+Shift stands in for Ctrl+Alt, which desktops keep for themselves.
    QTest::keyRelease(window.get(), Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(TestView(model).AnyFileMode());
    EXPECT_FALSE(Find<QAction>("LoadProgFile")->isVisible());
}

TEST_F(WindowFixture, LanguageSwitchRetranslatesEveryCaptionAndTheMemo) {
    app::TUpdateForm& model = Build(dialogs);
    const std::string germanStart = model.UpdateMemo->Lines().front();
    Find<QAction>("Englisch")->trigger();

    EXPECT_TRUE(Find<QAction>("Englisch")->isChecked());
    EXPECT_FALSE(Find<QAction>("Deutsch")->isChecked());
    EXPECT_EQ(Find<QAction>("Bearbeiten")->text(), "&File");
    EXPECT_EQ(Find<QGroupBox>("UpdateGroupBox")->title(), "Device");
    EXPECT_EQ(Find<QLabel>("SerLabel")->text(), "Serial number:");
    EXPECT_NE(model.UpdateMemo->Lines().front(), germanStart);
    EXPECT_EQ(Find<QPlainTextEdit>("UpdateMemo")->toPlainText(),
              Text(model.UpdateMemo->Lines().front()));
    // Whatever the language file says, every widget shows its model's caption.
    for (platform::TComponent* component : model.Components()) {
        auto* control = dynamic_cast<platform::TControl*>(component);
        if (control == nullptr) {
            continue;
        }
        const QString name = QString::fromStdString(control->Name());
        if (auto* action = window->findChild<QAction*>(name)) {
            EXPECT_EQ(action->text(), Text(control->Caption())) << control->Name();
        } else if (auto* label = window->findChild<QLabel*>(name)) {
            EXPECT_EQ(label->text(), Text(control->Caption())) << control->Name();
        } else if (auto* button = window->findChild<QPushButton*>(name)) {
            EXPECT_EQ(button->text(), Text(control->Caption())) << control->Name();
        }
    }
}

TEST_F(WindowFixture, ProgressReachesBarStatusPanelAndWindowTitle) {
    app::TUpdateForm& model = Build(dialogs);
    TestView(model).SetProgressMaximum(200, programmers::ProgressUnit::Blocks);
    TestView(model).AdvanceProgress(50);
    EXPECT_EQ(Find<QProgressBar>("WaitProgressBar")->maximum(), 200);
    EXPECT_EQ(Find<QProgressBar>("WaitProgressBar")->value(), 50);
    EXPECT_TRUE(Find<QLabel>("UpdateStatusBar.Panels4")->text().contains("25.0"));
    EXPECT_TRUE(window->windowTitle().startsWith("Update ["));
    TestView(model).ShowTitleState(programmers::TitleState::Ended);
    EXPECT_EQ(window->windowTitle(), "Update [beendet]");
}

TEST_F(WindowFixture, MenuClicksGoToTheirHandlersAndClosingEndsTheLoop) {
    app::TUpdateForm& model = Build(dialogs);
    Find<QAction>("SWVersion")->trigger();
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Caption, "Info");
    // A disabled item does nothing.
    Find<QAction>("DevMultiZ70")->trigger();
    window->close();
    EXPECT_TRUE(model.Closed());
    EXPECT_TRUE(platform::Application::Instance().Terminated());
}

TEST_F(WindowFixture, QuestionBoxShowsCaptionTextAndIconAndReturnsTheAnswer) {
    Build(dialogs);
    qtfront::QtDialogs boxes(window.get());
    QString shownText, shownCaption;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    WhenModalShows<QMessageBox>([&](QMessageBox& box) {
        shownText = box.text();
        shownCaption = box.windowTitle();
        shownIcon = box.icon();
        box.button(QMessageBox::Yes)->click();
    });
    const int answer = boxes.MessageBox("Wollen Sie trotzdem fortsetzen ?\r\nJa/Nein", "Fehler",
                                        platform::MB_YESNO | platform::MB_ICONQUESTION);
    EXPECT_EQ(answer, platform::IDYES);
    EXPECT_EQ(shownText, "Wollen Sie trotzdem fortsetzen ?\nJa/Nein");
    EXPECT_EQ(shownCaption, "Fehler");
    EXPECT_EQ(shownIcon, QMessageBox::Question);

    WhenModalShows<QMessageBox>([](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); });
    EXPECT_EQ(boxes.MessageBox("\xdc"
                               "bertragungsfehler",
                               "Fehler", platform::MB_OK | platform::MB_ICONERROR),
              platform::IDOK);
}

TEST_F(WindowFixture, BoxesKeepTheCoreLoopRunning) {
    Build(dialogs);
    qtfront::QtDialogs boxes(window.get());
    // A timer of the core answers the box; were the core loop stopped, the
    // fallback would answer Yes.
    platform::TTimer timer(nullptr, "probe");
    timer.SetInterval(20);
    timer.OnTimer = [](platform::TTimer& self) {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            self.SetEnabled(false);
            box->button(QMessageBox::No)->click();
        }
    };
    timer.SetEnabled(true);
    WhenModalShows<QMessageBox>([](QMessageBox& box) {
        QTimer::singleShot(10000, &box, [&box] { box.button(QMessageBox::Yes)->click(); });
    });
    EXPECT_EQ(boxes.MessageBox("?", "Info", platform::MB_YESNO), platform::IDNO);
}

} // namespace
} // namespace qttest
