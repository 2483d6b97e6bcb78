#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A file named by a configuration that was written where case does not
// count: folders are copied over from Windows machines as they are.
struct FoundFile {
    enum class Result {
        Found,     // Path and Name hold the file
        Missing,   // no entry of that name in any case
        Ambiguous, // no exact entry, and several that differ from the name in case only
        NotAFile,  // the entry is a folder, or a link that leads to no file
    };
    Result What = Result::Missing;
    std::string Path;                 // Found, NotAFile: the folder joined with Name
    std::string Name;                 // Found, NotAFile: the entry's name as it stands on disk
    std::vector<std::string> Matches; // Ambiguous: the entries' names as on disk, sorted
    bool Found() const { return What == Result::Found; }
};

// Finds name in folder (empty: the current directory) as a Windows file
// system does: the entry of exactly that name first, else the single entry
// whose name equals it when case is ignored. The name is Latin-1, as the
// configuration holds it, and names on disk are UTF-8: both are compared as
// the system holds its texts (Latin-1; other characters as '?'), ignoring
// the case of ASCII and Latin-1 letters. Of a name with a folder part, only
// the last part is looked up this way.
FoundFile LocateFile(const std::string& folder, const std::string& name);

// True when two Latin-1 names differ at most in the case of their letters.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

} // namespace platform
