#pragma once

#include "../serial/SerialTestSupport.h"
#include "../support/ScriptedDialogs.h"
#include "kernel/Events.h"
#include "kernel/Timer.h"
#include "platform/Application.h"
#include "platform/TimerComponent.h"
#include "programmers/ProgrammerHost.h"
#include "serial/Comport.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace bsltest {

// The main window as a programmer sees it: a real event queue and timer pool,
// the receive notification turned into event 10000, and at the bottom of the
// handler chain a small reply parser standing in for the sequencer's.
class FakeHost : public programmers::TProgrammerHost, public platform::MessageTarget {
public:
    static constexpr std::uint32_t WmCharsReceived = platform::WM_APP + 2000;

    FakeHost();
    ~FakeHost() override;

    kernel::TEventRec ProcessEvents() override;
    kernel::TEvents& EventQueue() override { return events; }
    kernel::TTimerPool& TimerPool() override { return pool; }
    void AddLogLine(const std::string& text) override;
    void ShowLogLine(const std::string& text) override { shownLines.push_back(text); }
    void ShowProgress(int code, std::intptr_t value) override { progress.push_back({code, value}); }
    void ShowBaudText(const std::string& text) override { baudTexts.push_back(text); }
    std::string BootErrorText(int step) override;
    platform::Dialogs& Dialogs() override { return dialogs; }
    int Language() const override { return language; }
    std::string ProgramFolder() const override { return folder; }
    std::string FindDefFile(std::uint32_t chipId) override;
    void Dispatch(platform::Message& message) override;

    platform::HWND Handle() const { return handle_; }
    // The port whose replies the bottom handler parses.
    serial::TComPort* port = nullptr;

    kernel::TEvents events;
    kernel::TTimerPool pool;
    testing_support::ScriptedDialogs dialogs;
    std::vector<std::string> logLines;
    std::vector<std::string> shownLines;
    std::vector<std::pair<int, std::intptr_t>> progress;
    std::vector<std::string> baudTexts;
    std::map<std::uint32_t, std::string> defFiles;
    int language = 0;
    std::string folder;
    std::function<void(const std::string&)> onLog;

private:
    static kernel::TEventRec Sequencer(void* context, kernel::TEvents& events,
                                       kernel::TEventRec event);
    void ParseReplies();

    std::vector<std::unique_ptr<platform::TTimer>> timers_;
    platform::HWND handle_ = 0;
    std::string lineBuffer_;
    std::vector<std::unique_ptr<std::string>> texts_; // alive until the host goes
};

// An MSP430 ROM bootstrap loader on the far end of a pty, behind a firmware
// that answers the few device commands of the loader entry. Written from the
// chip maker's protocol description, sharing nothing with the programmer.
class FakeRomLoader {
public:
    struct Options {
        std::uint16_t chipId = 0xF149;
        std::uint8_t versionMajor = 0x01;
        std::uint8_t versionMinor = 0x40;
        std::uint16_t password = 0xF800; // the reset vector the firmware tells
        std::set<std::uint8_t> refuse;   // commands always answered with 0xA0
        bool corruptRead = false;        // one byte of every read-back differs
    };

    FakeRomLoader(serialtest::Pty& pty, Options options);
    ~FakeRomLoader();
    FakeRomLoader(const FakeRomLoader&) = delete;
    FakeRomLoader& operator=(const FakeRomLoader&) = delete;

    struct Seen {
        std::uint8_t command;
        std::uint32_t baud; // line speed when the frame came
    };
    std::vector<Seen> Frames() const;
    std::vector<std::string> DeviceLines() const;
    std::uint8_t Flash(std::uint32_t address) const;
    std::vector<std::uint32_t> Erased() const;
    int Count(std::uint8_t command) const;
    std::uint32_t StartAddress() const;
    std::size_t BytesReceived() const;

private:
    void Run();
    void OnBytes(const std::string& bytes);
    void OnDeviceByte(char c);
    void OnFrame(const std::vector<std::uint8_t>& frame);
    void Reply(const std::vector<std::uint8_t>& bytes);
    void ReplyData(const std::vector<std::uint8_t>& data);
    static std::uint16_t Checksum(const std::vector<std::uint8_t>& bytes, std::size_t count);

    serialtest::Pty& pty_;
    Options options_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    bool inLoader_ = false;
    bool synced_ = false;
    std::string line_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> flash_;
    std::uint8_t offset_ = 0;
    std::uint32_t loaderBaud_ = 9600;
    std::vector<Seen> frames_;
    std::vector<std::string> deviceLines_;
    std::vector<std::uint32_t> erased_;
    std::uint32_t start_ = 0;
    std::size_t received_ = 0;
};

} // namespace bsltest
