#pragma once

#include "tools/instrument-sim/Loader.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace sim::fileloader {

// The "loader.*" keys of the file-loader (README, "File loader").
struct FileLoaderConfig {
    unsigned switchAckMs = 2500; // the speed change is acknowledged this late, at the new speed
    // Faults by block frame, counted from 1 over the run (resent blocks count again).
    std::set<unsigned> badBlocks, silentBlocks;
    std::map<unsigned, std::string> replyBlocks; // block -> text of reply 261
    // The start-up program's version as A.2100 reports it; one before 0.106
    // knows only the old header A.1205.
    std::string startupVersion = "1.10";
    // A whole file is confirmed by I.260# or, as some start-up programs do,
    // by the acknowledge A.1202!.
    bool fileEndAck = false;
};

struct FileLoaderConfigResult {
    bool ok = false;
    std::string error; // names the key
    FileLoaderConfig config;
};

FileLoaderConfigResult ParseFileLoaderConfig(const Profile& profile);

// CRC-8 (0x1D, start 0xFF, MSB first) over the block, moved off 0, 'D', ',' and '#'.
std::uint8_t CheckCharOf(std::string_view block);

// The file loader of a class-2 instrument: "A.1300#<baud>" switches the line and
// hands it to the loader, which takes announced files in checked blocks
// ("D.<length>,<check>#data") until the session end and the switch back.
class FileLoader : public Loader {
public:
    FileLoader(FileLoaderConfig config, const Profile& profile);

    static std::unique_ptr<Loader> Create(const Profile& profile);

    LineSettings Line() const override { return line_; }
    void Enter(LoaderContext& ctx) override;
    void Receive(std::string_view bytes, LoaderContext& ctx) override;
    bool FirmwareCommand(const Command& cmd, LoaderContext& ctx) override;

private:
    // One frame or command line off the front of rx_; false when more bytes are needed.
    bool TakeOne(LoaderContext& ctx);
    bool TakeBlock(LoaderContext& ctx);
    void Block(std::string_view data, std::uint8_t check, LoaderContext& ctx);
    void CommandLine(const Command& cmd, LoaderContext& ctx);
    void Header(const Command& cmd, LoaderContext& ctx);
    // False: the start-up program does not know this header.
    bool KnowsHeader(long number) const;
    void FileEnd(LoaderContext& ctx);
    // False for a speed the loader does not know.
    bool SwitchSpeed(const Command& cmd, LoaderContext& ctx);
    void Reply(const std::string& line, LoaderContext& ctx);

    FileLoaderConfig config_;
    LineSettings firmwareLine_;
    LineSettings line_;
    std::string rx_;
    bool fileOpen_ = false;
    std::string name_, data_;
    std::size_t size_ = 0;
    bool sessionEnded_ = false;
    bool left_ = false; // back in the firmware: the rest of the bytes are not ours
    unsigned blocks_ = 0;
};

} // namespace sim::fileloader
