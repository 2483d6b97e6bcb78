#pragma once

#include "tools/instrument-sim/LineSettings.h"

#include <string>

namespace sim {

// The instrument's end of a pseudo-terminal. The simulator keeps the slave open
// itself: without an opener the master polls POLLHUP without end, and a raw slave
// keeps the line discipline from echoing replies back as commands.
struct PtyPair {
    int master = -1;
    int heldSlave = -1;
    std::string slavePath;
};

bool OpenPty(PtyPair& pty, std::string& error);
void ClosePty(PtyPair& pty);

// Opens a serial device (or a pty slave) for the instrument's side, non-blocking.
bool OpenLineDevice(const std::string& path, int& fd, std::string& error);

// A pty master reads the slave's settings, which are the tool's.
bool ReadLineSettings(int fd, LineSettings& line);
// Raw 8 data bits at the given speed and stop bits.
bool ApplyLineSettings(int fd, const LineSettings& line, std::string& error);

// A symbolic link at linkPath to target; an old link there is replaced, anything
// else is left alone and reported.
bool MakeLink(const std::string& linkPath, const std::string& target, std::string& error);
// Removes the link only while it still points at target.
void RemoveLink(const std::string& linkPath, const std::string& target);

} // namespace sim
