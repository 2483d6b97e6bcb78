#include "frontends/qt/QtOwnOptions.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace qtfront {

namespace {

// The options Qt's documentation lists for QCoreApplication, QGuiApplication
// (with the X11 ones) and QApplication.
constexpr std::string_view WithValue[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "qmljsdebugger", "dialogs", "fontengine",
};
constexpr std::string_view Alone[] = {"reverse", "widgetcount"};

bool Listed(std::string_view name, const auto& list) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

} // namespace

std::vector<std::string> WithoutQtOptions(const std::vector<std::string>& args) {
    std::vector<std::string> ours;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            ours.insert(ours.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        std::string_view name = arg;
        if (!name.starts_with('-')) {
            ours.push_back(arg);
            continue;
        }
        name.remove_prefix(name.starts_with("--") ? 2 : 1);
        const std::size_t equals = name.find('=');
        if (equals != std::string_view::npos && Listed(name.substr(0, equals), WithValue)) {
            continue;
        }
        if (Listed(name, WithValue)) {
            ++i; // and its value
            continue;
        }
        if (!Listed(name, Alone)) {
            ours.push_back(arg);
        }
    }
    return ours;
}

} // namespace qtfront
