#pragma once

#include "tools/instrument-sim/Loader.h"

#include <string>

namespace sim {

// The loader stand-in for instruments whose loader is not simulated: it gives the
// profile's probe answer, starts the firmware on its leave bytes (what an
// external programming tool sends when it is done) and otherwise keeps quiet.
class ProbeLoader : public Loader {
public:
    explicit ProbeLoader(const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext&) override { pending_.clear(); }
    void Receive(std::string_view bytes, LoaderContext& ctx) override;

    static std::unique_ptr<Loader> Create(const Profile& profile);

private:
    LineSettings line_;
    std::string probe_;
    std::string answer_;
    std::string leave_;
    std::string pending_; // tail of the received bytes, shorter than the probe
};

} // namespace sim
