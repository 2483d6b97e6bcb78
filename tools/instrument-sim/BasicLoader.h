#pragma once

#include "tools/instrument-sim/Loader.h"

#include <string>

namespace sim::basic {

// Name of the kept S-record text for --files-out.
inline constexpr std::string_view kKeptFile = "basic-loader.srec";

struct BasicConfig {
    unsigned startDelayMs = 1000; // from entering to the first announcement
    unsigned defectAt = 0;        // record reported defective although it is sound
    unsigned abortAt = 0;         // after this record the loader breaks off silently
    unsigned holdAt = 0;          // after this record the line is held
    bool silent = false;          // no announcement at all
};

// The text-talking Basic-Loader: it announces itself at 19200 baud, takes an
// S-record file line by line, checks each record and reports the end.
class BasicLoader : public Loader {
public:
    BasicLoader(BasicConfig config, const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext& ctx) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;
    bool HoldsLine() const override { return state_ == State::Held; }

    static std::unique_ptr<Loader> Create(const Profile& profile);

private:
    enum class State { Records, Done, Broken, Held };

    void TakeRecord(std::string_view line, LoaderContext& ctx);

    BasicConfig config_;
    LineSettings line_;
    State state_ = State::Records;
    std::string pending_; // a record line not yet complete
    unsigned records_ = 0;
};

// An S-record line without its line end: true when its type, length and
// checksum are sound.
bool SoundRecord(std::string_view line);
// S7, S8 or S9: the file ends here.
bool EndRecord(std::string_view line);
// The data of a sound S0 record as text; bytes that are not printable as '.'.
std::string HeaderText(std::string_view line);

} // namespace sim::basic
