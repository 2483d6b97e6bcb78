#include "app/ProgFileList.h"

namespace app {

std::vector<std::string> ProgFileList(const std::string& list) {
    std::vector<std::string> pieces;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = list.find(',', start);
        std::string piece =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!piece.empty()) {
            pieces.push_back(std::move(piece));
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return pieces;
}

std::string ProgramFileOf(const std::string& list) {
    std::vector<std::string> pieces = ProgFileList(list);
    if (pieces.empty()) {
        return {};
    }
    std::string name = std::move(pieces.front());
    if (!name.empty() && name.back() == '@') {
        name.pop_back();
    }
    return name;
}

} // namespace app
