#pragma once

#include "tools/instrument-sim/Simulator.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bsltest {

// A loader frame as the simulated instrument's transcript notes it.
struct LoaderFrame {
    unsigned Number = 0; // as the loader.fault.* keys count frames
    unsigned Baud = 0;   // the loader's speed when the frame came
    unsigned Command = 0;
    unsigned Address = 0; // AL AH
    unsigned Length = 0;  // LL LH
};

// The simulated instrument (tools/instrument-sim) in this process, on a pty of
// its own. What it received is read back from its transcript after Stop.
class SimulatedInstrument {
public:
    // Throws when the profile is bad or no pty can be had. timeDivisor: as
    // the tool's, so that both keep time alike.
    SimulatedInstrument(const std::string& profile, std::string transcriptPath,
                        unsigned timeDivisor);
    ~SimulatedInstrument();
    SimulatedInstrument(const SimulatedInstrument&) = delete;
    SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;

    const std::string& SlavePath() const { return simulator_->SlavePath(); }
    void Stop();

    // After Stop.
    const sim::Instrument& Instrument() const { return simulator_->GetInstrument(); }
    std::uint8_t Flash(std::uint32_t address) const { return Instrument().Memory().At(address); }
    std::vector<LoaderFrame> Frames() const;
    int Count(unsigned command) const;
    // Command lines the firmware took before its loader first started.
    std::vector<std::string> DeviceLines() const;
    std::string Transcript() const;
    // Every byte the instrument received, however the reads split it.
    std::string Received() const;

private:
    std::string transcriptPath_;
    std::unique_ptr<sim::Simulator> simulator_;
    std::thread runner_;
};

} // namespace bsltest
