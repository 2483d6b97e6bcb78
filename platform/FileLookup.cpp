#include "platform/FileLookup.h"

#include "platform/Files.h"
#include "platform/Text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

// Latin-1 lower case: A-Z and the letters from 0xC0 to 0xDE but the sign
// 0xD7 (the multiplication sign) sit 0x20 below their small letters.
unsigned char FoldCase(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<unsigned char>(c + 0x20);
    }
    return c;
}

bool EntryExists(const std::string& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

FoundFile Take(const std::string& folder, const std::string& name) {
    FoundFile found;
    found.Name = name;
    found.Path = JoinPath(folder, name);
    std::error_code error;
    found.What = fs::is_regular_file(found.Path, error) ? FoundFile::Result::Found
                                                        : FoundFile::Result::NotAFile;
    return found;
}

} // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(static_cast<unsigned char>(x)) ==
                      FoldCase(static_cast<unsigned char>(y));
           });
}

FoundFile LocateFile(const std::string& folder, const std::string& name) {
    std::string where = folder;
    std::string wanted = name;
    if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) {
        const std::string part = name.substr(0, slash + 1);
        where = name.front() == '/' ? part : JoinPath(folder, part);
        wanted = name.substr(slash + 1);
    }
    if (wanted.empty() || wanted == "." || wanted == "..") {
        return {};
    }
    for (const std::string& exact : {wanted, Latin1ToUtf8(wanted)}) {
        if (EntryExists(JoinPath(where, exact))) {
            return Take(where, exact);
        }
    }
    std::vector<std::string> matches;
    std::error_code error;
    for (fs::directory_iterator it(where.empty() ? "." : where, error), end; !error && it != end;
         it.increment(error)) {
        std::string entry = it->path().filename().string();
        if (SameNameIgnoringCase(Utf8ToLatin1(entry), wanted)) {
            matches.push_back(std::move(entry));
        }
    }
    if (matches.size() == 1) {
        return Take(where, matches.front());
    }
    FoundFile result;
    if (matches.size() > 1) {
        std::sort(matches.begin(), matches.end());
        result.What = FoundFile::Result::Ambiguous;
        result.Matches = std::move(matches);
    }
    return result;
}

} // namespace platform
