#pragma once

#include "tools/instrument-sim/Loader.h"

#include <cstddef>
#include <string>

namespace sim {

// The loader stand-in for instruments whose loader is not simulated (those an
// external programming tool updates): it gives the profile's probe answer,
// takes the file a tool sends ("FILE <name> <size>" and a line end, then the
// bytes) and keeps it, and starts the firmware on its leave bytes once it
// holds a file. Anything else it ignores, as a loader waiting for its own
// protocol would.
class ProbeLoader : public Loader {
public:
    explicit ProbeLoader(const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext&) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;

    static std::unique_ptr<Loader> Create(const Profile& profile);

private:
    // A file header at the front of pending_; false when more bytes are needed.
    bool TakeFileHeader(LoaderContext& ctx);
    void TakeFileBytes(LoaderContext& ctx);
    void ScanForProbeAndLeave(LoaderContext& ctx);

    LineSettings line_;
    std::string probe_;
    std::string answer_;
    std::string leave_;
    std::string pending_; // received bytes not yet taken
    std::string fileName_;
    std::string fileData_;
    std::size_t fileLeft_ = 0; // bytes of the announced file still to come
    bool receivingFile_ = false;
    bool holdsFile_ = false; // a whole file came since the loader started
};

} // namespace sim
