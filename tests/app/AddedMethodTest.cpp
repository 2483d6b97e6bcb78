// A transfer method that lives in this file alone: its programmer, its
// registry row and the instrument's loader for it. A whole session runs
// through it with nothing in app/ that knows it.

#include "FormFixture.h"
#include "app/Messages.h"
#include "programmers/ProgrammerRegistry.h"
#include "programmers/Protocol.h"
#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/Simulator.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned TimeDivisor = 10;
constexpr std::size_t BytesPerLine = 32;

std::string Hex(std::string_view bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

// The loader: erases its flash and says "L>" when entered (also by its entry command while it
// runs), "K" for each "W <hex>" line it stores, "D" for "G", after which the firmware starts
// again. Anything else gets "?", and so do the first loader.refuse "W" lines.
class WordLoader : public sim::Loader {
public:
    explicit WordLoader(const sim::Profile& profile) : line_(profile.line) {
        if (const auto refuse = profile.loaderKeys.find("loader.refuse");
            refuse != profile.loaderKeys.end()) {
            refusals_ = static_cast<unsigned>(std::stoul(refuse->second));
        }
    }
    static std::unique_ptr<sim::Loader> Create(const sim::Profile& profile) {
        return std::make_unique<WordLoader>(profile);
    }
    sim::LineSettings Line() const override { return line_; }
    void Enter(sim::LoaderContext& ctx) override {
        address_ = ctx.GetProfile().flashStart;
        received_.clear();
        ctx.Flash().Erase(address_, ctx.GetProfile().flashSize);
        ctx.Send("L>\r\n");
    }
    void Receive(std::string_view bytes, sim::LoaderContext& ctx) override {
        received_ += bytes;
        for (std::size_t end; (end = received_.find('\r')) != std::string::npos;) {
            const std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            Take(line, ctx);
        }
    }

private:
    void Take(std::string line, sim::LoaderContext& ctx) {
        if (line.starts_with('\n')) {
            line.erase(0, 1); // the rest of a line end the firmware's way
        }
        if (line == "A.1200") {
            Enter(ctx);
            return;
        }
        if (line == "G") {
            ctx.Send("D\r\n");
            ctx.LeaveLoader();
            return;
        }
        std::string data;
        if (!line.starts_with("W ") || !Unhex(line.substr(2), data) || Refuses() ||
            !ctx.Flash().Program(address_, data)) {
            ctx.Send("?\r\n");
            return;
        }
        address_ += static_cast<std::uint32_t>(data.size());
        ctx.Send("K\r\n");
    }
    bool Refuses() {
        if (refusals_ == 0) {
            return false;
        }
        --refusals_;
        return true;
    }
    static bool Unhex(const std::string& text, std::string& out) {
        if (text.empty() || text.size() % 2 != 0) {
            return false;
        }
        for (std::size_t i = 0; i < text.size(); i += 2) {
            unsigned value = 0;
            if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1) {
                return false;
            }
            out.push_back(static_cast<char>(value));
        }
        return true;
    }

    sim::LineSettings line_;
    unsigned refusals_ = 0;
    std::uint32_t address_ = 0;
    std::string received_;
};

// The tool's side: the entry command, then the file in "W" lines, each
// waiting for its "K", then "G" and its "D".
class TWordProgrammer : public programmers::TProgrammerTyp {
public:
    using TProgrammerTyp::TProgrammerTyp;

    static std::unique_ptr<programmers::TProgrammerTyp>
    Create(const programmers::TProgrammerContext& context, const programmers::TMethodSettings&) {
        return std::make_unique<TWordProgrammer>(context);
    }

    programmers::TProgrammerResult Program(const std::string& fileName) override {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) {
            return programmers::TProgrammerResult::Failed(
                programmers::FileFailure(fileName, "cannot be read"));
        }
        data_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        BeginRun(2000);
        if (WriteText("A.1200\r\n")) {
            PumpUntil();
        }
        EndRun(0);
        return RunResult();
    }

protected:
    void Abort() override { Fail("aborted"); }
    void OnWatchdog() override { Fail("word loader: no answer"); }
    bool OnCharsReceived(std::intptr_t) override {
        std::uint8_t buffer[64];
        for (int count; (count = ReadBytes(buffer, sizeof buffer)) > 0;) {
            received_.append(reinterpret_cast<const char*>(buffer),
                             static_cast<std::size_t>(count));
        }
        for (std::size_t end;
             Finished == 0 && (end = received_.find("\r\n")) != std::string::npos;) {
            const std::string line = received_.substr(0, end);
            received_.erase(0, end + 2);
            Answer(line);
        }
        return true;
    }

private:
    void Answer(const std::string& line) {
        if (line == "D") {
            Succeed();
        } else if (line == "?") {
            Fail("word loader: refused", line);
        } else if (line == "L>" || line == "K") {
            RestartWatchdog();
            SendNext();
        }
        // The firmware's acknowledge of the entry command is no word of the loader.
    }
    void SendNext() {
        if (sent_ >= data_.size()) {
            WriteText("G\r");
            return;
        }
        const std::size_t count = std::min(BytesPerLine, data_.size() - sent_);
        const std::string line = "W " + Hex(std::string_view(data_).substr(sent_, count)) + "\r";
        sent_ += count;
        WriteText(line.c_str());
    }

    std::string data_;
    std::size_t sent_ = 0;
    std::string received_;
};

bool ServesEveryFirmwareFile(const programmers::TSessionKey& key) {
    return key.Step == programmers::Phase::Firmware;
}

constexpr programmers::TMethodEntry WordRow = {
    programmers::Method::Added, "WordLoader", "word loader",
    &ServesEveryFirmwareFile,   nullptr,      &TWordProgrammer::Create};

// A tool's run whose instrument restarted and reported (Report) before the
// run was over, as it does once the tool has given the port back: the
// report is handed on inside the run, as the reader's arrival is during the
// run's closing wait.
template <std::int32_t Report> class TReportingTool : public programmers::TProgrammerTyp {
public:
    using TProgrammerTyp::TProgrammerTyp;

    static std::unique_ptr<programmers::TProgrammerTyp>
    Create(const programmers::TProgrammerContext& context, const programmers::TMethodSettings&) {
        return std::make_unique<TReportingTool>(context);
    }

    programmers::TProgrammerResult Program(const std::string&) override {
        ++runs;
        Host.EventQueue().PostMsg(Report, 0);
        Host.ProcessEvents();
        return programmers::TProgrammerResult::Success();
    }
    static inline int runs = 0;

protected:
    void Abort() override {}
};

bool ServesTheToolStep(const programmers::TSessionKey& key) {
    return key.Step == programmers::Phase::Tool;
}

constexpr programmers::TMethodEntry ReportingToolRow = {
    programmers::Method::Added,
    "ReportingTool",
    "reporting tool",
    &ServesTheToolStep,
    nullptr,
    &TReportingTool<protocol::reply::NewFirmwareReady>::Create};

// A meter's recovery tool whose meter stored its firmware quickly and
// acknowledged before the run was over.
using TAcknowledgedRecoveryTool = TReportingTool<protocol::event::Acknowledge>;

bool ServesTheMeterRecovery(const programmers::TSessionKey& key) {
    return key.Step == programmers::Phase::MeterRecovery;
}

constexpr programmers::TMethodEntry AcknowledgedRecoveryRow = {programmers::Method::Added,
                                                               "AcknowledgedRecovery",
                                                               "acknowledged recovery",
                                                               &ServesTheMeterRecovery,
                                                               nullptr,
                                                               &TAcknowledgedRecoveryTool::Create};

// The operator: reads how a failed transfer ended the session, presses OK
// once, and ends the program once a session is updated.
struct Operator {
    // The operator's look at the window, after the failure's own handling.
    static constexpr std::int32_t LookAtTheWindow = 0x7E57;

    app::TUpdateForm* form = nullptr;
    bool retried = false;
    int exitCodeAtFailure = -1;
    programmers::TFailure failure;

    static kernel::TEventRec Watch(void* context, kernel::TEvents& events,
                                   kernel::TEventRec event) {
        auto* self = static_cast<Operator*>(context);
        if (event.Kind != kernel::evMessage) {
            return event;
        }
        if (event.Id == protocol::event::ProgrammingFailed && !self->retried) {
            self->retried = true;
            events.PostMsg(LookAtTheWindow, 0);
        } else if (event.Id == LookAtTheWindow) {
            self->exitCodeAtFailure = self->form->ExitCode();
            self->failure = TestView(*self->form).Report().Failure;
            events.PostKey(protocol::event::KeyStart);
            return kernel::TEvents::ClearEvent();
        } else if (self->retried && TestView(*self->form).Report().Outcome == "updated") {
            platform::Application::Instance().Terminate();
        }
        return event;
    }
};

class AddedMethod : public testing_support::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        for (const auto& entry : std::filesystem::directory_iterator(DEMO_FOLDER)) {
            std::filesystem::copy(entry.path(), folder.File(entry.path().filename().string()),
                                  std::filesystem::copy_options::recursive);
        }
        folder.Write("Update.ini", "Language=0\r\nAutoStart=YES\r\nDebugInfo=YES\r\n");
        std::string devices = folder.Read("ProgDevice.ini");
        Swap(devices, "ProgFile2=DM10_V200.TXT", "ProgFile2=DM10_V200.BIN");
        Swap(devices, "SWKenn2=56 45 52 3A", "SWKenn2=VER:");
        folder.Write("ProgDevice.ini", devices);
        std::filesystem::remove(folder.File("DM10_V200.TXT"));
        firmware =
            std::string(300, '\x5A') + "VER:2.00" + std::string(1, '\0') + std::string(200, '\xA5');
        folder.Write("DM10_V200.BIN", firmware);
        platform::Application::Instance().SetTimeDivisor(TimeDivisor);
    }
    void TearDown() override {
        platform::Application::Instance().SetTimeDivisor(1);
        FormFixture::TearDown();
    }
    static void Swap(std::string& text, const std::string& what, const std::string& with) {
        const std::size_t at = text.find(what);
        ASSERT_NE(at, std::string::npos) << what;
        text.replace(at, what.size(), with);
    }

    // One session against an instrument whose loader is the word loader,
    // with loaderLines in its profile: automatic, or started by the operator
    // (operatorAtTheWindow), who also presses OK after a failure. The loop is
    // ended from outside should the session hang.
    void RunSession(std::vector<programmers::TMethodEntry> added,
                    const std::string& loaderLines = {}, Operator* operatorAtTheWindow = nullptr) {
        sim::ProfileResult profile = sim::ParseProfile(
            "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\ndevice=43110.000\n"
            "version=1.23\nserial=12345678\nloader=word\nflash_start=0\n"
            "flash_size=0x1000\non.restart=@1000:I.30#\n" +
            loaderLines);
        ASSERT_TRUE(profile.ok) << profile.error;
        sim::SimOptions options;
        options.transcriptPath = folder.File("transcript.txt");
        options.timeDivisor = TimeDivisor;
        options.loader = &WordLoader::Create;
        sim::Simulator simulator(profile.profile, options);
        std::string error;
        ASSERT_TRUE(simulator.OpenPty(error)) << error;
        std::filesystem::create_symlink(simulator.SlavePath(), ports.File("COM1"));
        std::thread instrument([&simulator] { simulator.Run(); });

        app::StartOptions start;
        start.ProgramFolder = folder.Path();
        start.AddedMethods = std::move(added);
        if (operatorAtTheWindow != nullptr) {
            folder.Write("Update.ini", "Language=0\r\nDebugInfo=YES\r\n");
        }
        form = std::make_unique<app::TUpdateForm>(dialogs, start);
        if (operatorAtTheWindow != nullptr) {
            operatorAtTheWindow->form = form.get();
            TestView(*form).EventQueue().AddHandler(&Operator::Watch, operatorAtTheWindow);
            form->OkBitBtn->Click();
        }
        std::atomic<bool> ended = false;
        std::thread guard([&ended] {
            for (int i = 0; i < 600 && !ended; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (!ended) {
                platform::Application::Instance().Terminate();
            }
        });
        platform::Application::Instance().Run();
        if (operatorAtTheWindow != nullptr) {
            TestView(*form).EventQueue().RemoveHandler(&Operator::Watch, operatorAtTheWindow);
        }
        ended = true;
        guard.join();
        simulator.RequestStop();
        instrument.join();
        for (std::uint32_t i = 0; i < firmware.size(); ++i) {
            flash.push_back(static_cast<char>(simulator.GetInstrument().Memory().At(i)));
        }
    }
    std::string Log() const {
        std::string text;
        for (const std::string& line : MemoLines()) {
            text += line + "\n";
        }
        return text;
    }

    std::string firmware;
    std::string flash;
};

TEST_F(AddedMethod, ASessionRunsThroughARowPutInFrontAndEndsUpdated) {
    RunSession({WordRow});
    EXPECT_EQ(form->ExitCode(), 0) << Log();
    EXPECT_EQ(TestView(*form).Report().Method, "WordLoader");
    EXPECT_EQ(TestView(*form).Report().Outcome, "updated") << Log();
    EXPECT_EQ(Hex(flash), Hex(firmware));
}

TEST_F(AddedMethod, ARefusalFailsTheSessionWithTheMethodsCause) {
    RunSession({WordRow}, "loader.refuse=1\n");
    EXPECT_EQ(form->ExitCode(), 1) << Log();
    EXPECT_EQ(TestView(*form).Report().Outcome, "failed");
    EXPECT_EQ(TestView(*form).Report().Failure.Cause, "word loader: refused");
    EXPECT_EQ(TestView(*form).Report().Failure.Detail, "?");
}

// OK after the failure runs the added method again, not a built-in one: the
// loader, entered afresh, takes the whole file.
TEST_F(AddedMethod, OkAfterARefusalRetriesThroughTheSameRow) {
    Operator atTheWindow;
    RunSession({WordRow}, "loader.refuse=1\n", &atTheWindow);
    ASSERT_TRUE(atTheWindow.retried) << Log();
    EXPECT_EQ(atTheWindow.exitCodeAtFailure, 1);
    EXPECT_EQ(atTheWindow.failure.Cause, "word loader: refused");
    EXPECT_EQ(TestView(*form).Report().Retries, 1);
    EXPECT_EQ(TestView(*form).Report().Method, "WordLoader");
    EXPECT_EQ(TestView(*form).Report().Outcome, "updated") << Log();
    EXPECT_EQ(form->ExitCode(), 0);
    EXPECT_EQ(Hex(flash), Hex(firmware));
}

// What the instrument reported during a tool's run waits for the restart
// step after the tool: handed on at once it would come before that step,
// be passed over, and the session would wait for a report that had come.
TEST_F(AddedMethod, AReportThatCameDuringAToolsRunEndsTheRestartStepAfterIt) {
    // The demo's firmware under a name a tool takes (the file class of .HEX).
    std::string devices = folder.Read("ProgDevice.ini");
    Swap(devices, "ProgFile2=DM10_V200.BIN", "ProgFile2=DM10_V200.HEX");
    Swap(devices, "SWKenn2=VER:", "SWKenn2=56 45 52 3A");
    folder.Write("ProgDevice.ini", devices);
    std::filesystem::copy_file(std::string(DEMO_FOLDER) + "/DM10_V200.TXT",
                               folder.File("DM10_V200.HEX"));
    RunSession({ReportingToolRow});
    // No tool of its own in the folder: only the row's run can end updated.
    EXPECT_EQ(form->ExitCode(), 0) << Log();
    EXPECT_EQ(Log().find(app::MessageText(app::Msg::RestartReportOutOfTurn, 0)), std::string::npos)
        << Log();
}

// No restart wait follows a meter's recovery tool: the meter's acknowledge
// that came during the run ends the recovery and starts the search for the
// recovered meter within the storing wait, which still runs out.
TEST_F(AddedMethod, AMetersAcknowledgeDuringItsRecoveryToolStartsTheSearchInTheStoringWait) {
    // A meter's file beside the row's firmware makes its menu item.
    std::string devices = folder.Read("ProgDevice.ini");
    Swap(devices, "ProgFile2=DM10_V200.BIN", "ProgFile2=DM10.MOT");
    Swap(devices, "ProgDefFile=", "ProgDefFile=DM10_REC.MOT");
    folder.Write("ProgDevice.ini", devices);
    folder.Write("DM10.MOT", firmware);
    folder.Write("DM10_REC.MOT", "S00600004844521B\r\nS9030000FC\r\n");
    folder.Write("Update.ini", "Language=0\r\nCom=1\r\n");
    // A line on COM1 where nobody answers.
    const int line = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(line, 0);
    ASSERT_EQ(::grantpt(line), 0);
    const std::unique_ptr<int, void (*)(int*)> closeLine(new int(line), [](int* fd) {
        ::close(*fd);
        delete fd;
    });
    ASSERT_EQ(::unlockpt(line), 0);
    std::filesystem::create_symlink(::ptsname(line), ports.File("COM1"));
    app::StartOptions start;
    start.ProgramFolder = folder.Path();
    start.AddedMethods = {AcknowledgedRecoveryRow};
    form = std::make_unique<app::TUpdateForm>(dialogs, start);
    // A meter in its loader tells no version: the operator goes on.
    dialogs.Answers = {platform::IDYES};

    // The session generation at each step of the storing wait.
    std::vector<std::pair<long, std::uint32_t>> storing;
    const auto shown = form->wait->OnCountdown;
    form->wait->OnCountdown = [&](long secondsLeft) {
        shown(secondsLeft);
        storing.emplace_back(secondsLeft, TestView(*form).SessionState().Generation);
        // An empty line from the meter as the wait begins: the window
        // handles what is queued, as on any word from the line.
        if (storing.size() == 1) {
            ASSERT_EQ(::write(line, "\r\n", 2), 2);
        }
    };
    TAcknowledgedRecoveryTool::runs = 0;
    ASSERT_TRUE(form->DevMultiZ70->Enabled());
    form->DevMultiZ70->Click();

    ASSERT_EQ(TAcknowledgedRecoveryTool::runs, 1) << Log();
    ASSERT_GE(storing.size(), 2u) << Log();
    EXPECT_EQ(storing.back().first, 0);
    EXPECT_GT(storing.back().second, storing.front().second)
        << "the search began within the storing wait\n"
        << Log();
    EXPECT_EQ(TestView(*form).SessionState().RecoveredBy, app::RetryableStep::MeterRecovery);
}

} // namespace
