#include "tools/instrument-sim/BasicLoader.h"
#include "tools/instrument-sim/Bsl5xxLoader.h"
#include "tools/instrument-sim/DeviceLoader.h"
#include "tools/instrument-sim/FileLoader.h"
#include "tools/instrument-sim/Loader.h"
#include "tools/instrument-sim/ProbeLoader.h"
#include "tools/instrument-sim/RomBslLoader.h"
#include "tools/instrument-sim/XmodemLoader.h"

namespace sim {
namespace {

constexpr LoaderEntry kLoaders[] = {
    {"none", "answers the bootloader probe only", &ProbeLoader::Create},
    {"msp430-rom", "MSP430 ROM bootstrap loader (1.10 .. 2.xx), flash and RAM patch",
     &rombsl::RomBslLoader::Create},
    {"msp430-5xx", "MSP430 5xx/6xx UART bootstrap loader, flash above 64 KB",
     &bsl5xx::Bsl5xxLoader::Create},
    {"device-loader", "the instrument's own loader: device commands with hexadecimal blocks",
     &devloader::DeviceLoader::Create},
    {"xmodem", "character-command bootloader with an XMODEM-CRC upload (A.1250/1255/1256)",
     &xmodem::XmodemLoader::Create},
    {"file-loader", "file loader of class-2 instruments: whole files in CRC-8-checked blocks",
     &fileloader::FileLoader::Create},
    {"basic-loader", "text-talking Basic-Loader at 19200 baud, S-record file",
     &basic::BasicLoader::Create},
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
