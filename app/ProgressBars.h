#pragma once

namespace app {

// The wait bar while the updater library runs: its five stages followed by
// its percentage.
inline constexpr int UpdaterBarMax = 105;

} // namespace app
