#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/ProbeLoader.h"

namespace sim {
namespace {

constexpr LoaderEntry kLoaders[] = {
    {"none", "answers the bootloader probe only", &ProbeLoader::Create},
};

} // namespace

std::span<const LoaderEntry> Loaders() {
    return kLoaders;
}

std::unique_ptr<Loader> CreateLoader(std::string_view name, const Profile& profile) {
    for (const LoaderEntry& e : kLoaders) {
        if (e.name == name)
            return e.create(profile);
    }
    return nullptr;
}

} // namespace sim
