#pragma once

#include "kernel/Events.h"
#include "programmers/ProgrammerHost.h"
#include "programmers/ProgrammingJob.h"
#include "serial/Comport.h"
#include "serial/Delay.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace programmers {

// Events every programmer knows.
inline constexpr std::int32_t KeyEscape = 27;
inline constexpr std::int32_t MsgCharsReceived = 10000;
inline constexpr std::int32_t MsgAcknowledge = 10010; // the previous command ended well
inline constexpr std::int32_t MsgReplyA = 10011;      // a reply in the "A." or "C." form
inline constexpr std::int32_t MsgRefused = 10012;     // the instrument refused the command

// Port purge flags (transmit and receive queue), as ClearBuffer takes them.
inline constexpr unsigned long PurgeTxClear = 4;
inline constexpr unsigned long PurgeRxClear = 8;

// Base of the programmers: the collaborators, the blocking run and the event
// handler they all share. The programmer owns none of the collaborators.
class TProgrammerTyp {
public:
    TProgrammerTyp() = default;
    virtual ~TProgrammerTyp() = default;
    TProgrammerTyp(const TProgrammerTyp&) = delete;
    TProgrammerTyp& operator=(const TProgrammerTyp&) = delete;

    std::int32_t ProgTyp = 0;
    TProgJob* Job = nullptr;
    serial::TComPort* Port = nullptr;
    serial::TDelay* DelayComp = nullptr;
    TProgrammerHost* Host = nullptr; // the main window

protected:
    // The handler registered on the event queue during the run.
    static kernel::TEventRec EventHandler(void* context, kernel::TEvents& events,
                                          kernel::TEventRec event);
    // True when the event was consumed.
    bool HandleEvent(const kernel::TEventRec& event);

    // Escape, or the loop was told to end: the run ends as a failure.
    virtual void Abort() = 0;
    // Message 10000; false passes it on to the sequencer's reply parser.
    virtual bool OnCharsReceived(std::intptr_t /*port*/) { return false; }
    // Which numbered device replies this programmer takes (10010..10012 and
    // the reply numbers of its family).
    virtual bool TakesReply(std::int32_t id) const;
    virtual void OnReply(std::int32_t /*id*/, std::intptr_t /*data*/) {}
    virtual void OnWatchdog() {}

    // Blocking run, steps 2 to 4: handler in front of the sequencer, line
    // settings saved, watchdog armed.
    void BeginRun(std::uint32_t watchdogMs);
    // Step 6: events and window messages until finished is set.
    void PumpUntil(const std::uint8_t& finished);
    // Step 7: wait, progress back to 0, handler and watchdog gone.
    void EndRun(long waitMs);

    void Wait(long ms);
    void StartWatchdog(std::uint32_t ms);
    void StopWatchdog();
    void RestartWatchdog();
    // Device commands go through here so that each one is in the log.
    bool WriteText(const char* text);
    bool WriteBytes(const std::uint8_t* data, std::size_t count);

    int WatchdogSlot = 0;
};

// The retry guard of the loader step machines: the continuations last run
// for retries. A step may run again while some entry does not hold it yet;
// the history is never cleared during a transfer, so a refusal of another
// step gives back only the first entry.
template <class Step, std::size_t Entries> class TRetryHistory {
public:
    // True: run the step; false: the step has used its retries.
    bool Admit(Step step) {
        for (Step& entry : entries_) {
            if (entry != step) {
                entry = step;
                return true;
            }
        }
        return false;
    }
    const std::array<Step, Entries>& History() const { return entries_; }

private:
    std::array<Step, Entries> entries_{};
};

} // namespace programmers
