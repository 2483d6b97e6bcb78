#pragma once

#include <string>
#include <vector>

// Where start-up finds its configuration files.

namespace app {

inline constexpr const char* UpdateIniName = "Update.ini";

// "%PUBLIC%" expanded; false when it cannot be.
bool PublicFolder(std::string& folder);

// The current directory's path moved from under the programs folder to
// under the public folder (created when missing); empty when the current
// directory does not lie under the programs folder.
std::string MirroredConfigFolder();

// fileName in folder (empty: the current directory), found as a Windows file
// system finds it; the plain joined path when it is not there.
std::string ConfigFilePath(const std::string& folder, const std::string& fileName);

// The folders start-up looks for Update.ini in, in order: the mirrored
// folder when there is one, then the current directory.
std::vector<std::string> UpdateIniFolders();
bool UpdateIniPresent(const std::string& fileName = UpdateIniName);

// For the box of a configuration file that was not taken: the names of the
// files in folders that differ from fileName in case only, after a line
// break; empty when there are none.
std::string CaseClashNote(const std::vector<std::string>& folders, const std::string& fileName,
                          int language);

} // namespace app
