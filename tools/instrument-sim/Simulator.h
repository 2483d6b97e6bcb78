#pragma once

#include "tools/instrument-sim/Instrument.h"
#include "tools/instrument-sim/Line.h"
#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/Profile.h"
#include "tools/instrument-sim/Transcript.h"
#include "tools/instrument-sim/Wire.h"

#include <memory>
#include <string>

namespace sim {

struct SimOptions {
    std::string transcriptPath;
    std::string flashOutPath;      // written when the loader ends and when the run ends
    std::string filesOutDir;       // lab transfer files, written when the run ends
    unsigned exitAfterIdleSec = 0; // 0: run until stopped (real seconds)
    // The instrument's clock runs this many times fast: every delay, every
    // loader time and the replies' time on the line are divided by it.
    unsigned timeDivisor = 1;
    // The loader in place of the one the profile names: a caller's own.
    LoaderFactory loader = nullptr;
};

// Puts an Instrument on a line and runs it until stopped.
class Simulator {
public:
    enum class End { Stopped, Idle, Hangup, LineClosed };

    Simulator(Profile profile, SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // One of these before Run.
    bool OpenPty(std::string& error);
    bool OpenDevice(const std::string& path, std::string& error);
    const std::string& SlavePath() const { return pty_.slavePath; }

    End Run();
    // From any thread or a signal handler.
    void RequestStop();
    // The instrument's power switch; from any thread or a signal handler.
    void RequestSwitchOn();

    const Instrument& GetInstrument() const { return *instrument_; }

private:
    bool Start(std::string& error);
    // Replies the instrument gives at now: on a pty they go on the wire, a
    // device paces them itself.
    void SendReplies(Wire::Micros now);
    // A reply at the tool's end, read as the tool's settings read it.
    void Arrive(const Reply& reply);
    // Bytes the tool wrote, to the instrument.
    void HandOver(std::string_view bytes, Instrument::Millis now);
    void WriteOut(const std::string& bytes);
    void SaveFlash();
    // At the end, what a held line still holds reaches the instrument.
    void DrainHeldLine();
    void SaveLabFiles();
    void CloseLine();
    // Requests of the signal handlers; true when one asks to stop.
    bool TakeRequests();
    static constexpr char kStopRequest = 1;
    static constexpr char kSwitchOnRequest = 2;

    Profile profile_;
    SimOptions options_;
    Transcript transcript_;
    std::unique_ptr<Instrument> instrument_;
    Wire wire_;
    PtyPair pty_;
    int fd_ = -1;
    bool isPty_ = false;
    LineSettings applied_{0, 0};
    int stopPipe_[2] = {-1, -1};
};

const char* EndText(Simulator::End end);

} // namespace sim
