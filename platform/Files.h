#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Replaces %NAME% by the environment variable NAME. PUBLIC and ProgramFiles
// have Linux defaults when unset: $XDG_DATA_HOME/update-public (else
// ~/.local/share/update-public) and /opt. Unknown or unset names stay as
// they are, as on Windows.
std::string ExpandEnvironmentStrings(const std::string& text);

std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Names (not paths) of the regular files in folder that match a Windows
// pattern with * and ?, compared without regard to case: "*.txt" lists
// FW.TXT. The pattern is Latin-1 and the names on disk UTF-8, compared as
// LocateFile compares them. Sorted by name, so that listings do not depend
// on the file system.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern);
// Both Latin-1; letters compared by UpperLatin1.
bool WildcardMatch(const std::string& pattern, const std::string& name);

bool ReadWholeFile(const std::string& path, std::string& content);
bool WriteWholeFile(const std::string& path, const std::string& content);
// The file's last change as a packed local date and time, as instruments
// take it: years since 1980, month, day, hours, minutes, seconds / 2 from the
// highest bits down. 0 when it cannot be read.
std::uint32_t FileAge(const std::string& path);

// A file as a list of lines: CR LF, LF and lone CR all end a line, and a
// final line break adds no empty line.
bool LoadLines(const std::string& path, std::vector<std::string>& lines);
// Writes each line followed by CR LF, as the files are shared with Windows.
bool SaveLines(const std::string& path, const std::vector<std::string>& lines);
std::vector<std::string> SplitLines(const std::string& content);

// Folder of the running executable.
std::string ExecutableFolder();
std::string JoinPath(const std::string& folder, const std::string& name);

} // namespace platform
