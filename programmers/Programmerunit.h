#pragma once

#include "kernel/Events.h"
#include "programmers/ProgrammerHost.h"
#include "programmers/ProgrammerResult.h"
#include "programmers/ProgrammingJob.h"
#include "programmers/Protocol.h"
#include "programmers/ReplyBuffer.h"
#include "programmers/TransferFailure.h"
#include "serial/Comport.h"
#include "serial/Delay.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace programmers {

// A command as a cause names it: up to the first of ends (its line end,
// or the separator before its arguments).
inline std::string CommandNamed(const std::string& command, const char* ends = "\r\n") {
    return command.substr(0, command.find_first_of(ends));
}

// Port purge flags (transmit and receive queue), as ClearBuffer takes them.
inline constexpr unsigned long PurgeTxClear = 4;
inline constexpr unsigned long PurgeRxClear = 8;

// What every programmer is given; it owns none of it.
struct TProgrammerContext {
    TProgrammerHost& Host; // the main window's services
    serial::TComPort& Port;
    serial::TDelay& Delay;
    TProgJob& Job;
};

// Base of the programmers: the collaborators, the blocking run, the event
// handler and the line access they all share.
class TProgrammerTyp {
public:
    explicit TProgrammerTyp(const TProgrammerContext& context);
    virtual ~TProgrammerTyp() = default;
    TProgrammerTyp(const TProgrammerTyp&) = delete;
    TProgrammerTyp& operator=(const TProgrammerTyp&) = delete;

    // Blocks until the transfer has ended.
    virtual TProgrammerResult Program(const std::string& fileName) = 0;

protected:
    // The handler registered on the event queue during the run.
    static kernel::TEventRec EventHandler(void* context, kernel::TEvents& events,
                                          kernel::TEventRec event);
    // True when the event was consumed.
    bool HandleEvent(const kernel::TEventRec& event);

    // Escape, or the loop was told to end: the run ends as aborted (the
    // cause is noted before).
    virtual void Abort() = 0;
    // Message 10000; false passes it on to the sequencer's reply parser.
    virtual bool OnCharsReceived(std::intptr_t /*port*/) { return false; }
    // Keys besides Escape that this programmer keeps from the sequencer.
    virtual bool TakesKey(std::int32_t /*id*/) const { return false; }
    // Escape ends the run as a failure; a programmer that leaves every key
    // but OK to the session says no.
    virtual bool AbortsOnEscape() const { return true; }
    // Which numbered device replies this programmer takes (10010..10012 and
    // the reply numbers of its family).
    virtual bool TakesReply(std::int32_t id) const;
    virtual void OnReply(std::int32_t /*id*/, std::intptr_t /*data*/) {}
    virtual void OnWatchdog() {}
    // A timer slot besides the watchdog's; true when it was this programmer's.
    virtual bool OnTimer(int /*slot*/) { return false; }
    // The line failed under a write or read; the run is already marked failed.
    virtual void OnLineFailure() {}

    // Blocking run, steps 2 to 4: handler in front of the sequencer, line
    // settings saved, watchdog armed, done and error flags cleared.
    void BeginRun(std::uint32_t watchdogMs);
    // Step 6: events and window messages until Finished is set.
    void PumpUntil();
    // Between passes of the pump: waits for the next window message or timer.
    virtual void AwaitWork();
    // Step 7: wait, progress back to 0, handler and watchdog gone.
    void EndRun(long waitMs);

    void Wait(long ms);
    // A wait the operator sees counting down (the instrument must stay connected).
    void CountdownWait(long ms);
    void StartWatchdog(std::uint32_t ms);
    void StopWatchdog();
    void RestartWatchdog();
    // Device commands go through here so that each one is in the log.
    // false: the line failed and the run ends (see LineFailed).
    bool WriteText(const char* text);
    bool WriteBytes(const std::uint8_t* data, std::size_t count);
    // The bytes that have arrived, 0 when none; -1 when the line failed.
    int ReadBytes(std::uint8_t* buffer, std::size_t count);
    // Adds what has arrived to the buffer; false when nothing came or the
    // line failed. Called until false after every notification: the port
    // notifies again only once its input has been read.
    bool ReadInto(TReplyBuffer& buffer);
    // Ends the run at once as a failure; the log and the cause name the
    // port, its device and the reason. After Succeed the run stays a
    // success and hands the cause on (TProgrammerResult::LineDiedAfter).
    void LineFailed();
    // Ends the run as a failure. The first cause given is kept: the later
    // ones are what the first one set off.
    void Fail(std::string cause, std::string detail = {});
    void Fail(TFailure failure);
    // The watchdog's cause: "<what> within <its interval> ms".
    std::string Silence(const std::string& what) const;
    // What the run ended with: Program's result.
    TProgrammerResult RunResult() const;
    // Ends the run as a success: the watchdog stops and replies go on to
    // the session.
    void Succeed();

    TProgrammerHost& Host;
    serial::TComPort& Port;
    serial::TDelay& Delay;
    TProgJob& Job;

    std::uint8_t Failed = 0;
    std::uint8_t Finished = 0;
    int WatchdogSlot = 0;
    std::uint32_t WatchdogIntervalMs = 0;
    TFailure Failure;

private:
    void AbortRun(const char* cause);

    bool AbortedRun = false;
    TFailure lineDiedAfter_;
};

// The line that event 10011 carries: the number after its "A." or "C."
// prefix, -1 when there is none.
std::int32_t CommandReplyNumber(const char* line);
// True when the line ends in "!": it posted an acknowledge (10010) as well.
bool ReplyLineAcknowledges(const char* line);

// The error box for a firmware file that cannot be taken, naming the file
// and the reason; the log keeps it too.
void ShowFileErrorBox(TProgrammerHost& host, const std::string& path, const std::string& reason);
// The failure such a file ends a run with.
TFailure FileFailure(const std::string& path, const std::string& reason);

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
