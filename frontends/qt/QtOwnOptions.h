#pragma once

#include <string>
#include <vector>

namespace qtfront {

// args without the options QApplication takes for itself (-platform NAME,
// -style=NAME, -reverse, ..., also written with two dashes), so that ours
// can be read before Qt starts: Qt without a display ends the program, and
// --help or --version must not need one.
std::vector<std::string> WithoutQtOptions(const std::vector<std::string>& args);

} // namespace qtfront
