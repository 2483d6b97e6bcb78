#pragma once

#include "tools/instrument-sim/Command.h"
#include "tools/instrument-sim/FlashMemory.h"
#include "tools/instrument-sim/LineSettings.h"
#include "tools/instrument-sim/Profile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sim {

// What the instrument offers a loader while it runs.
class LoaderContext {
public:
    virtual ~LoaderContext() = default;
    virtual void Send(std::string_view bytes) = 0;
    // As Send, delayMs after the last byte queued (or now).
    virtual void SendAfter(std::uint64_t delayMs, std::string_view bytes) = 0;
    // Forgets what Send and SendAfter queued and has not gone out yet.
    virtual void DropPendingSends() = 0;
    // As SendAfter, the bytes leaving at line rather than where the
    // instrument listens now.
    virtual void SendAfterAt(std::uint64_t delayMs, const LineSettings& line,
                             std::string_view bytes) = 0;
    virtual FlashMemory& Flash() = 0;
    virtual const Profile& GetProfile() const = 0;
    // The loader starts the firmware again (the instrument leaves its loader).
    virtual void LeaveLoader() = 0;
    // A firmware command hands the line to the loader.
    virtual void EnterLoader() = 0;
    // A whole file the instrument received, kept for --files-out.
    virtual void KeepFile(std::string_view name, std::string_view data) = 0;
    // Appends received data to the file last kept under name (or a new one).
    virtual void AppendToFile(std::string_view name, std::string_view data) = 0;
    // The line closes and the simulator ends, as when the cable is pulled.
    virtual void HangUp() = 0;
    virtual void Note(std::string_view text) = 0;
};

// A loader of the simulated processor. One object lives as long as the instrument;
// Enter is called each time the instrument starts it.
class Loader {
public:
    virtual ~Loader() = default;

    // The line the loader listens at now; bytes at any other setting are lost.
    virtual LineSettings Line() const = 0;
    virtual void Enter(LoaderContext&) {}
    virtual void Receive(std::string_view bytes, LoaderContext& ctx) = 0;
    // Device commands while the firmware runs, for loaders driven by them; true
    // when taken (the instrument then gives no reply of its own).
    virtual bool FirmwareCommand(const Command&, LoaderContext&) { return false; }
    // The firmware's line when a loader's command has changed it.
    virtual std::optional<LineSettings> FirmwareLine() const { return std::nullopt; }
    // True while the loader takes nothing from the line (as an instrument
    // holding its CTS): the tool's writes back up.
    virtual bool HoldsLine() const { return false; }

    // A burst of line trouble: the next count frames get the loader's own
    // refusal and have no effect.
    void RefuseNext(unsigned count) { refusals_ = count; }

protected:
    // True, and one refusal used up, while a burst lasts.
    bool TakeRefusal() {
        if (refusals_ == 0)
            return false;
        --refusals_;
        return true;
    }

private:
    unsigned refusals_ = 0;
};

using LoaderFactory = std::unique_ptr<Loader> (*)(const Profile&);

struct LoaderEntry {
    std::string_view name;
    std::string_view description;
    LoaderFactory create;
};

// The registry: one entry per loader; the profile's "loader" key picks one.
std::span<const LoaderEntry> Loaders();
std::unique_ptr<Loader> CreateLoader(std::string_view name, const Profile& profile);

} // namespace sim
