#pragma once

#include "programmers/Programmerunit.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace programmers {

// The separate programs that program an instrument on the session's port.
// They keep their Windows file names and are started without a shell, so a
// file name reaches them as one argument whatever it holds.
inline constexpr const char* HexLoaderTool = "HEXLoad_8N1.exe";
inline constexpr const char* Pic32Tool = "PIC32_Serial_Bootloader.exe";

enum class Tool { HexLoader, Pic32Loader };

struct TToolSettings {
    Tool Which = Tool::HexLoader;
    bool LowSpeedAfter = false; // the port at 9600 8N2 after a success
};

inline constexpr int MaxToolAttempts = 3;
// A tool still running after this long is taken for hung and ended: the
// largest firmware file takes a tool a few minutes, and a session must not
// wait for good on a tool whose device stays present.
inline constexpr std::uint32_t ToolRunBoundMs = 30 * 60 * 1000;
// The exit code of a tool that found its port held: worth another attempt.
inline constexpr int ToolRetryExitCode = 1;
// The PIC32 tool is told the port as one digit.
inline constexpr int Pic32HighestPort = 9;

// What the tools are given after their path.
std::vector<std::string> HexLoaderArguments(const std::string& file, int comPort, bool keepBaud);
// Empty when the tool cannot be told comPort: another digit would program
// whatever sits on that port.
std::vector<std::string> Pic32Arguments(const std::string& file, int comPort);

// How one attempt of a tool ended: it did not start (errno), or its exit code.
struct TToolRun {
    int StartError = 0;
    int ExitCode = ToolRetryExitCode;
};
// Whether another attempt follows attempts done. The retries are for a port
// another program held a moment: a tool that is not there, or a device that
// went away, does not come back within them.
bool ToolRunsAgain(const TToolRun& run, int attempts, bool deviceGone);

std::string ToolStartCause(const std::string& path, int error);
std::string ToolExitCause(const std::string& path, int exitCode, int attempts);
std::string ToolBoundCause(const std::string& path);

// The hex loader (or, where it loads, the updater library in its place) and
// the PIC32 tool: the session port goes to the tool for its run and comes
// back afterwards through the host.
class TExternalTool : public TProgrammerTyp {
public:
    TExternalTool(const TProgrammerContext& context, const TToolSettings& settings);

    TProgrammerResult Program(const std::string& fileName) override;

protected:
    void Abort() override {}

private:
    TProgrammerResult RunHexLoader(const std::string& fileName);
    TProgrammerResult RunPic32Loader(const std::string& fileName);
    // Up to MaxToolAttempts runs; with ticksToFull the title shows the
    // estimate while the tool runs.
    TProgrammerResult RunAttempts(const std::vector<std::string>& argv,
                                  std::optional<double> ticksToFull, long afterRunMs);
    // The port back from the tool; a port that does not open again fails
    // the step with its own cause, which outweighs what the tool said.
    TProgrammerResult TakePortBack(TProgrammerResult result, bool lowSpeedAfter, long settleMs,
                                   bool settleProcesses);
    // The name as the tool opens it: the entry's name as it stands on disk.
    std::string FileArgument(const std::string& fileName);

    TToolSettings settings_;
};

} // namespace programmers
