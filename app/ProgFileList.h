#pragma once

#include <string>
#include <vector>

namespace app {

// The entries of a ProgFile2 list ("MAIN.TXT@,X.DAT,*.*"), empty ones left out.
std::vector<std::string> ProgFileList(const std::string& list);
// The program file a list names: its first entry, without the "@" that
// keeps the loader's speed.
std::string ProgramFileOf(const std::string& list);

} // namespace app
