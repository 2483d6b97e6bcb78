#pragma once

#include "../serial/SerialTestSupport.h"
#include "../support/TempFolder.h"
#include "FakeHost.h"
#include "SimulatedInstrument.h"
#include "programmers/ProgrammingJob.h"
#include "serial/Delay.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace bsltest {

// A programmer's world over a pty: the session's port COM1 at 4800 8N2 with
// the simulated instrument on its far end, both at ten times speed.
class InstrumentLine : public ::testing::Test {
protected:
    static constexpr unsigned TimeDivisor = 10;

    InstrumentLine() {
        platform::Application::Instance().Reopen();
        platform::Application::Instance().SetTimeDivisor(TimeDivisor);
        record.DatenBits = serial::D_8;
        record.StopBits = serial::S_2;
        record.Baudrate = serial::B__4800;
        record.KeinNullZeichen = 1;
        com.InitParameter(&record, false);
        host.port = &com;
        host.folder = folder.Path();
    }
    ~InstrumentLine() override {
        com.Close();
        platform::Application::Instance().SetTimeDivisor(1);
    }

    // A fresh instrument on COM1, and the session's port open on it.
    void Connect(const std::string& profile) {
        com.Close();
        instrument.reset();
        std::filesystem::remove(ports.Path() + "/COM1");
        instrument = std::make_unique<SimulatedInstrument>(
            profile, folder.File("instrument" + std::to_string(++instruments) + ".log"), divisor_);
        ports.Link(0, instrument->SlavePath());
        com.Open(host.Handle(), 0, 0, false);
        ASSERT_TRUE(com.IsOpen());
    }
    // For a test whose instrument must answer within a bound of the tool's
    // (at ten times speed a 2-core machine's scheduling would eat it up).
    void AtRealTime() {
        divisor_ = 1;
        platform::Application::Instance().SetTimeDivisor(1);
    }
    // Ends the instrument's run: its flash and what it received can be read.
    SimulatedInstrument& Finish() {
        instrument->Stop();
        return *instrument;
    }
    // Writes a command on the session's line; true once the reply line came.
    bool Answered(const std::string& command, const std::string& reply) {
        host.replyLines.clear();
        if (com.Write(command.c_str(), static_cast<int>(command.size()), false) !=
            static_cast<int>(command.size())) {
            return false;
        }
        return serialtest::PumpUntil(
            [&] {
                return std::find(host.replyLines.begin(), host.replyLines.end(), reply) !=
                       host.replyLines.end();
            },
            10000);
    }

    serialtest::PortDirectory ports;
    testing_support::TempFolder folder;
    std::unique_ptr<SimulatedInstrument> instrument;
    int instruments = 0;
    unsigned divisor_ = TimeDivisor;
    FakeHost host;
    serial::V24ParameterTag record;
    serial::TComPort com{nullptr, "UpdateCom"};
    serial::TDelay delay{nullptr};
    programmers::TProgJob job;
};

} // namespace bsltest
