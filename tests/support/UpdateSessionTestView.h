#pragma once

#include "app/UpdateSession.h"

#include <cstdint>
#include <string>

namespace app {

// The tests' way into a session: its events and the steps they drive, and
// its state and report writable, so that a test can stand for what the
// instrument or the pump left there.
class UpdateSessionTestView {
public:
    explicit UpdateSessionTestView(UpdateSession& session) : session_(session) {}

    TSessionState& State() { return session_.Session; }
    SessionReport& Report() { return session_.report_; }
    void PostEvent(std::int32_t id, std::intptr_t data = 0) { session_.PostEvent(id, data); }
    // What event::LineFailed carries for a port table entry of this session.
    std::intptr_t LineFailedData(int tableIndex) const {
        return session_.LineFailedData(tableIndex);
    }

    // --- the steps
    void BeginNewSession() { session_.BeginNewSession(); }
    std::string SearchedPortNames() const { return session_.SearchedPortNames(); }
    // The instrument answered on this port, at the line the port holds.
    void ChooseSessionPort(int tableIndex, int portNumber) {
        session_.ChooseSessionPort(tableIndex, portNumber);
    }
    void OnReplyTimeout() { session_.OnReplyTimeout(); }
    void SessionFailed(std::int32_t id) { session_.SessionFailed(id); }
    bool CheckDevice() { return session_.CheckDevice(); }
    void FinishSession(bool reset) { session_.FinishSession(reset); }
    void AwaitInstrumentAfterProgramming(int boundMs = AfterProgrammingTimeoutMs) {
        session_.AwaitInstrumentAfterProgramming(boundMs);
    }
    void RecoveredInstrumentSilent() { session_.RecoveredInstrumentSilent(); }
    void OnRestartTimeout() { session_.OnRestartTimeout(); }
    std::string WakeCommand() const { return session_.WakeCommand(); }

private:
    UpdateSession& session_;
};

// Found by argument-dependent lookup: a test writes TestView(session).State().
inline UpdateSessionTestView TestView(UpdateSession& session) {
    return UpdateSessionTestView(session);
}

} // namespace app
