#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// A device command as the instrument's firmware receives it: "A.1600#12345".
struct Command {
    char family = 'A'; // 'A' device commands, 'U' the reset of another family
    long number = 0;
    std::string args; // after "#", raw (the lab data block carries binary bytes)
    std::string text; // the whole command without its line end
};

// Nullopt for anything that is not a command (empty lines, noise, bad numbers).
std::optional<Command> ParseCommand(std::string_view line);

} // namespace sim
