#pragma once

namespace app {

// Maxima of the wait bar when it counts no transfer blocks, for front-ends
// that tell the counts: a percentage (the Basic-Loader's), and the updater
// library's five stages followed by its percentage.
inline constexpr int PercentBarMax = 100;
inline constexpr int UpdaterBarMax = 105;

} // namespace app
