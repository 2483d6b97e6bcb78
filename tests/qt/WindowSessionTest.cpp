// Whole sessions through the window: the simulated instrument on a pty,
// the Qt loop, real Qt message boxes and a real click on OK.
#include "../e2e/Harness.h"
#include "QtTestSupport.h"
#include "frontends/qt/QtDialogs.h"
#include "platform/Tick.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <optional>
#include <vector>

namespace qttest {
namespace {

std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The demo meter; version and device number as the scenario needs them.
std::string MeterProfile(const std::string& version, const std::string& device) {
    return "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=" + device +
           "\nversion=" + version +
           "\nserial=12345678\npassword=C000\nloader=msp430-rom\nloader.version=1.60\n"
           "loader.chip_id=F149\nflash_start=0x1000\nflash_size=0xF000\non.restart=@300:I.30#\n";
}

// Plays the operator: answers every message box that shows, Yes/No boxes
// with the chosen answer, and keeps what each box said.
class BoxOperator {
public:
    struct Box {
        QString Caption;
        QString Text;
    };
    explicit BoxOperator(QMessageBox::StandardButton answer) : answer_(answer) {
        QObject::connect(&poll_, &QTimer::timeout, [this] { Answer(); });
        poll_.start(10);
    }
    std::vector<Box> Boxes;

private:
    void Answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || box == answered_) {
            return;
        }
        answered_ = box;
        Boxes.push_back({box->windowTitle(), box->text()});
        QAbstractButton* button = box->button(answer_);
        if (button == nullptr) {
            button = box->button(QMessageBox::Ok);
        }
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QMessageBox::StandardButton answer_;
    QTimer poll_;
    QMessageBox* answered_ = nullptr;
};

class WindowSession : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        for (const auto& entry : std::filesystem::directory_iterator(DEMO_FOLDER)) {
            std::filesystem::copy(entry.path(), folder.File(entry.path().filename().string()),
                                  std::filesystem::copy_options::overwrite_existing);
        }
        platform::Application::Instance().SetTimeDivisor(10);
    }
    void TearDown() override {
        WindowFixture::TearDown();
        platform::Application::Instance().SetTimeDivisor(1);
        StopInstrument();
    }
    void StartInstrument(const std::string& profile) {
        const std::string link = ports.File("COM1");
        instrument_.emplace(sim, profile, link);
        ASSERT_TRUE(std::filesystem::exists(link)) << instrument_->Errors();
    }
    void StopInstrument() {
        if (instrument_) {
            instrument_->Stop();
        }
    }
    // Builds the window with Qt's boxes and presses OK with the mouse.
    void StartSession() {
        Build(boxes);
        boxes.SetParent(window.get());
        auto* ok = Find<QPushButton>("OkBitBtn");
        ASSERT_NE(ok, nullptr);
        ASSERT_TRUE(ok->isEnabled());
        QTest::mouseClick(ok, Qt::LeftButton);
    }
    // Runs the loop until done holds or the bound passes.
    bool RunUntil(const std::function<bool()>& done, std::uint32_t boundMs = 120000) {
        platform::Application& loop = platform::Application::Instance();
        const std::uint32_t start = platform::GetTickCount();
        while (!done()) {
            if (platform::GetTickCount() - start > boundMs || loop.Terminated()) {
                return done();
            }
            loop.ProcessMessagesFor(50);
        }
        return true;
    }
    QString Memo() const { return Find<QPlainTextEdit>("UpdateMemo")->toPlainText(); }

    testing_support::TempFolder sim;
    qtfront::QtDialogs boxes;
    std::optional<e2e::Instrument> instrument_;
};

TEST_F(WindowSession, OkRunsAWholeUpdateThatTheWindowFollows) {
    StartInstrument(MeterProfile("1.23", "43110.000"));
    BoxOperator operator_(QMessageBox::No);
    int highestPosition = 0;
    QStringList titles;
    // Connected before the click: the session runs inside it.
    Build(boxes);
    boxes.SetParent(window.get());
    auto* bar = Find<QProgressBar>("WaitProgressBar");
    QObject::connect(bar, &QProgressBar::valueChanged,
                     [&](int value) { highestPosition = std::max(highestPosition, value); });
    QObject::connect(window.get(), &QWidget::windowTitleChanged,
                     [&](const QString& title) { titles.append(title); });
    const std::uint32_t start = platform::GetTickCount();
    QTest::mouseClick(Find<QPushButton>("OkBitBtn"), Qt::LeftButton);
    const QString success = QString::fromUtf8("Download erfolgreich ausgeführt");
    const bool ended =
        RunUntil([&] { return Memo().contains(success) && !form->SessionRunning(); });
    std::printf("[ figures  ] whole session through the window: %u ms, highest bar position %d\n",
                platform::GetTickCount() - start, highestPosition);
    ASSERT_TRUE(ended) << Memo().toStdString();

    EXPECT_TRUE(operator_.Boxes.empty()) << operator_.Boxes.front().Text.toStdString();
    EXPECT_TRUE(Memo().contains("Demo Meter DM 10")) << Memo().toStdString();
    EXPECT_GT(highestPosition, 0);
    EXPECT_TRUE(std::any_of(titles.begin(), titles.end(), [](const QString& title) {
        return title.startsWith("Update [") && title.contains('%');
    })) << titles.join(" | ").toStdString();
    EXPECT_EQ(form->ExitCode(), 0);
    EXPECT_FALSE(Find<QPushButton>("OkBitBtn")->isEnabled());
    StopInstrument();
    EXPECT_EQ(WithoutCr(sim.Read("flash.txt")), WithoutCr(folder.Read("DM10_V200.TXT")));
}

// Whether this process still has the device open.
bool HoldsDevice(const std::string& link) {
    std::error_code error;
    const std::filesystem::path device = std::filesystem::read_symlink(link, error);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        if (std::filesystem::read_symlink(fd.path(), error) == device) {
            return true;
        }
    }
    return false;
}

TEST_F(WindowSession, ClosingDuringATransferShowsTheStopPanelAndLetsGoOfThePort) {
    StartInstrument(MeterProfile("1.23", "43110.000"));
    BoxOperator operator_(QMessageBox::No);
    Build(boxes);
    boxes.SetParent(window.get());
    bool stopShown = false, windowKept = false, portHeld = true;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!window->windowTitle().contains('%')) {
            return;
        }
        closer.stop();
        window->close();
        stopShown = Find<QLabel>("StopPanel")->isVisible();
        windowKept = window->isVisible();
        portHeld = HoldsDevice(ports.File("COM1"));
    });
    closer.start(5);
    ASSERT_TRUE(HoldsDevice(ports.File("COM1")));
    // The session runs inside the click; closing must end it.
    QTest::mouseClick(Find<QPushButton>("OkBitBtn"), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return form->Closed() && !form->SessionRunning(); }, 30000));

    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(windowKept) << "the program hides the window once the loop has ended";
    EXPECT_FALSE(portHeld);
    EXPECT_TRUE(platform::Application::Instance().Terminated());
    EXPECT_FALSE(Memo().contains("erfolgreich"));
    EXPECT_EQ(form->ExitCode(), 1);
}

TEST_F(WindowSession, EqualVersionsAskAndNoEndsTheSession) {
    StartInstrument(MeterProfile("2.00", "43110.000"));
    BoxOperator operator_(QMessageBox::No);
    StartSession();
    auto* ok = Find<QPushButton>("OkBitBtn");
    ASSERT_TRUE(RunUntil([&] { return !operator_.Boxes.empty() && ok->isEnabled(); }));
    ASSERT_EQ(operator_.Boxes.size(), 1u);
    EXPECT_EQ(operator_.Boxes[0].Caption, "Info");
    EXPECT_TRUE(operator_.Boxes[0].Text.contains("Software-Version 2.00 ist schon im"))
        << operator_.Boxes[0].Text.toStdString();
    EXPECT_FALSE(form->SessionRunning());
    EXPECT_FALSE(Memo().contains("erfolgreich"));
    // Ready for the next instrument: the identity fields are empty again.
    EXPECT_TRUE(Find<QLabel>("SerStaticText")->text().isEmpty());
    StopInstrument();
    EXPECT_NE(sim.Read("transcript.log").find("rx A.1121"), std::string::npos)
        << "the instrument was told to leave the update";
    EXPECT_EQ(sim.Read("transcript.log").find("rx A.5577"), std::string::npos)
        << "no loader was started";
}

TEST_F(WindowSession, WrongDeviceShowsTheErrorBoxAndListsTheDevices) {
    StartInstrument(MeterProfile("1.23", "55555.000"));
    BoxOperator operator_(QMessageBox::Ok);
    StartSession();
    ASSERT_TRUE(RunUntil([&] { return !operator_.Boxes.empty() && !form->SessionRunning(); }));
    ASSERT_EQ(operator_.Boxes.size(), 1u);
    EXPECT_EQ(operator_.Boxes[0].Caption, "Fehler");
    EXPECT_EQ(operator_.Boxes[0].Text, QString::fromUtf8("Falsches Gerät angeschlossen !!"));
    EXPECT_TRUE(Memo().contains(QString::fromUtf8("Der Download ist für ein Demo Meter DM 10")))
        << Memo().toStdString();
    EXPECT_EQ(form->ExitCode(), 1);
}

} // namespace
} // namespace qttest
