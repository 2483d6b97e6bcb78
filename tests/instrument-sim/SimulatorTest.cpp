#include "tools/instrument-sim/Simulator.h"

#include "PtyClient.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace sim {
namespace {

using test::PtyClient;

// Silence is only ever checked for this long; the positive checks wait far longer.
constexpr int kQuietMs = 300;

Profile MakeProfile(const std::string& extra = "") {
    ProfileResult r = ParseProfile("start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                                   "device=43110.000\nversion=1.23,1.10\nserial=12345678\n"
                                   "probe=80\nprobe_answer=90\n" +
                                   extra);
    EXPECT_TRUE(r.ok) << r.error;
    return r.profile;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The simulator on a pty, run by a thread of the test.
class SimulatorOnPty : public testing::Test {
protected:
    void Start(Profile profile, SimOptions options = {}) {
        sim_ = std::make_unique<Simulator>(std::move(profile), std::move(options));
        std::string error;
        ASSERT_TRUE(sim_->OpenPty(error)) << error;
        thread_ = std::thread([this] { end_ = sim_->Run(); });
        client_ = std::make_unique<PtyClient>(sim_->SlavePath());
        ASSERT_TRUE(client_->IsOpen());
        ASSERT_TRUE(client_->SetLine(B4800, true));
    }
    Simulator::End Stop() {
        sim_->RequestStop();
        if (thread_.joinable())
            thread_.join();
        return end_;
    }
    void TearDown() override { Stop(); }

    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<PtyClient> client_;
    std::thread thread_;
    Simulator::End end_ = Simulator::End::Stopped;
};

TEST_F(SimulatorOnPty, AnswersTheIdentificationDialogue) {
    Start(MakeProfile());
    client_->Send("\r\n\r\n");
    EXPECT_EQ(client_->Ask("A.1111\r\n"), "A.1111!\r\n");
    EXPECT_EQ(client_->Ask("A.1000\r\n"), "A.1000!\r\n");
    EXPECT_EQ(client_->Ask("A.2003\r\n"), "I.23#43110.201\r\n");
    EXPECT_EQ(client_->Ask("A.2000\r\n"), "I.20#43110.000\r\n");
    EXPECT_EQ(client_->Ask("A.2001\r\n"), "I.21#1.23,1.10\r\n");
    EXPECT_EQ(client_->Ask("A.4001\r\n"), "I.25#12345678\r\n");
}

TEST_F(SimulatorOnPty, HearsGarbageAtTheWrongSpeedOrWithTooFewStopBits) {
    Start(MakeProfile());
    ASSERT_TRUE(client_->SetLine(B9600, true));
    client_->Send("A.1111\r\n");
    EXPECT_EQ(client_->Read("", kQuietMs), "");
    ASSERT_TRUE(client_->SetLine(B4800, false));
    client_->Send("A.1111\r\n");
    EXPECT_EQ(client_->Read("", kQuietMs), "") << "its receiver tests both stop bits";
    ASSERT_TRUE(client_->SetLine(B4800, true));
    client_->Send("A.1111\r\n");
    EXPECT_EQ(client_->Read("", kQuietMs), "")
        << "the garbage has no line end: this command only ends the garbled line";
    EXPECT_EQ(client_->Ask("A.1111\r\n"), "A.1111!\r\n");
}

TEST_F(SimulatorOnPty, AReplyIsReadAtTheToolsSettingsWhenItArrives) {
    Start(MakeProfile("on.1000=A.1000!|@300:I.99#late\n"));
    client_->Ask("A.1111\r\n");
    ASSERT_EQ(client_->Ask("A.1000\r\n"), "A.1000!\r\n");
    ASSERT_TRUE(client_->SetLine(B9600, true));
    const std::string late = client_->Read("", 1000);
    EXPECT_FALSE(late.empty()) << "garbage, not silence";
    EXPECT_EQ(late.find("late"), std::string::npos) << late;
}

TEST_F(SimulatorOnPty, AReplyTakesItsTimeOnTheLineDividedByTheTimeDivisor) {
    // 407 bytes at 1200 baud, 8N2: 3.73 s; a tenth of it at ten times speed.
    ProfileResult slow = ParseProfile("start_mode=0\nbaud=1200\nstop_bits=2\ndevice=1\n"
                                      "version=1.00\nserial=1\npcb=" +
                                      std::string(400, 'P') + "\n");
    ASSERT_TRUE(slow.ok) << slow.error;
    Start(slow.profile, {"", "", "", 0, 10});
    ASSERT_TRUE(client_->SetLine(B1200, true));
    client_->Ask("A.1111\r\n");
    const auto sent = std::chrono::steady_clock::now();
    const std::string reply = client_->Ask("A.2003\r\n");
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(reply.size(), 407u);
    EXPECT_GE(took, std::chrono::milliseconds(370));
    EXPECT_LT(took, std::chrono::milliseconds(3730));
}

TEST_F(SimulatorOnPty, LoaderListensAtItsOwnLine) {
    Start(MakeProfile());
    client_->Ask("A.1111\r\n");
    EXPECT_EQ(client_->Ask("A.5588#QX47\r\n"), "A.5588\r\n");
    client_->Send("\x80");
    EXPECT_EQ(client_->Read("", kQuietMs), "") << "still at the firmware's line";
    ASSERT_TRUE(client_->SetLine(B9600, false));
    EXPECT_EQ(client_->Ask("\x80", "\x90"), "\x90");
}

TEST_F(SimulatorOnPty, HangupFaultClosesTheLine) {
    Start(MakeProfile("fault.2003=hangup\n"));
    client_->Ask("A.1111\r\n");
    client_->Send("A.2003\r\n");
    EXPECT_EQ(client_->Read("<HUP>"), "<HUP>");
    if (thread_.joinable())
        thread_.join();
    EXPECT_EQ(end_, Simulator::End::Hangup);
}

TEST_F(SimulatorOnPty, TranscriptHasTimedDirectedEscapedLines) {
    std::string path = testing::TempDir() + "/sim-transcript.txt";
    Start(MakeProfile("fault.2000=garble\n"), {path, "", "", 0});
    client_->Ask("A.1111\r\n");
    client_->Ask("A.2000\r\n");
    ASSERT_TRUE(client_->SetLine(B9600, true));
    client_->Send("A.2003\r\n");
    client_->Read("", kQuietMs);
    Stop();

    std::istringstream lines(ReadFile(path));
    std::string line;
    std::vector<std::string> rest;
    while (std::getline(lines, line)) {
        // "SECONDS.MILLIS DIR TEXT"
        std::size_t dot = line.find('.');
        ASSERT_NE(dot, std::string::npos) << line;
        ASSERT_GT(line.size(), dot + 4);
        EXPECT_EQ(line.find_first_not_of("0123456789"), dot) << line;
        EXPECT_EQ(line.substr(dot + 1, 3).find_first_not_of("0123456789"), std::string::npos);
        EXPECT_EQ(line[dot + 4], ' ') << line;
        rest.push_back(line.substr(dot + 5));
    }
    ASSERT_GE(rest.size(), 6u);
    EXPECT_EQ(rest[0], "rx A.1111\\r\\n");
    EXPECT_EQ(rest[1], "-- awake");
    EXPECT_EQ(rest[2], "tx A.1111!\\r\\n");
    EXPECT_EQ(rest[3], "rx A.2000\\r\\n");
    EXPECT_TRUE(rest[4].starts_with("tx \\x1C{")) << rest[4];
    EXPECT_EQ(rest[5], "rx A.2003\\r\\n");
    EXPECT_TRUE(rest[6].starts_with(
        "-- garbled 8 bytes: tool at 9600 baud 2 stop, instrument at 4800 baud 2 stop; heard "))
        << rest[6];
    EXPECT_EQ(rest.back(), "-- end: stopped");
}

TEST_F(SimulatorOnPty, WritesFlashAndLabFilesWhenStopped) {
    std::string dir = testing::TempDir();
    Start(MakeProfile(), {"", dir + "/sim-flash.txt", dir, 0});
    client_->Ask("A.1111\r\n");
    client_->Ask("A.12000#../lab.dat\r\n");
    client_->Ask(std::string("A.12010#") + '\x03' + "xyz");
    client_->Ask("A.12030\r\n");
    client_->Ask("A.12000#cut.dat\r\n");
    client_->Ask(std::string("A.12010#") + '\x01' + "c");
    Stop();
    EXPECT_EQ(ReadFile(dir + "/sim-flash.txt"), "q\n") << "nothing programmed";
    EXPECT_EQ(ReadFile(dir + "/lab.dat"), "xyz") << "kept inside the folder";
    EXPECT_FALSE(std::filesystem::exists(dir + "/cut.dat")) << "never closed, never stored";
}

TEST(Simulator, StopsWhenIdle) {
    Simulator sim(MakeProfile(), {"", "", "", 1});
    std::string error;
    ASSERT_TRUE(sim.OpenPty(error)) << error;
    EXPECT_EQ(sim.Run(), Simulator::End::Idle);
}

} // namespace
} // namespace sim
