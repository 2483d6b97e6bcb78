#include "tools/instrument-sim/Command.h"

namespace sim {

std::optional<Command> ParseCommand(std::string_view line) {
    if (line.size() < 3 || line[1] != '.' || (line[0] != 'A' && line[0] != 'U'))
        return std::nullopt;
    Command cmd;
    cmd.family = line[0];
    cmd.text.assign(line);
    std::size_t i = 2;
    // Nine digits keep the number inside a long on every platform.
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        if (i - 2 >= 9)
            return std::nullopt;
        cmd.number = cmd.number * 10 + (line[i] - '0');
    }
    if (i == 2)
        return std::nullopt;
    if (i < line.size()) {
        if (line[i] != '#')
            return std::nullopt;
        cmd.args.assign(line.substr(i + 1));
    }
    return cmd;
}

} // namespace sim
