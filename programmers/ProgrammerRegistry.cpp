#include "programmers/ProgrammerRegistry.h"

#include "programmers/Bsl_54xx_unit.h"
#include "programmers/Bsl_unit.h"
#include "programmers/Efmv24_unit.h"
#include "programmers/LabFileTransfer.h"
#include "programmers/TermProg.h"
#include "programmers/Wince_unit.h"

namespace programmers {

namespace {

constexpr std::uint32_t Chip5438 = 0x5438; // the 5xx/6xx families

template <class Programmer, class Settings>
std::unique_ptr<TProgrammerTyp> Make(const TProgrammerContext& context,
                                     const TMethodSettings& settings) {
    const Settings* own = std::get_if<Settings>(&settings);
    return std::make_unique<Programmer>(context, own != nullptr ? *own : Settings{});
}

// Methods without options of their own.
template <class Programmer>
std::unique_ptr<TProgrammerTyp> MakePlain(const TProgrammerContext& context,
                                          const TMethodSettings&) {
    return std::make_unique<Programmer>(context);
}

constexpr TMethodEntry Registry[] = {
    {Method::Bsl430, "Bsl430", "MSP430 ROM bootstrap loader", &Make<T_BSL430, TBslSettings>},
    {Method::Bsl5xx, "Bsl5xx", "MSP430 5xx/6xx bootstrap loader",
     &Make<T_BSL_54XX_430, TBslSettings>},
    {Method::DeviceLoader, "DeviceLoader", "device loader", &MakePlain<TEFMV24_Prog>},
    {Method::Xmodem, "Xmodem", "XMODEM bootloader", &Make<T_EMFLoader, TXmodemSettings>},
    {Method::BlockTransfer, "BlockTransfer", "block-transfer loader", &MakePlain<TWinCEProg>},
    {Method::BasicLoader, "BasicLoader", "basic-loader terminal", &MakePlain<TTermProg>},
    {Method::LabTransfer, "LabTransfer", "lab file transfer", &MakePlain<TLabFileTransfer>},
    // Run by the session itself (app/RecoveryFlows.cpp, app/ExternalTools.cpp):
    // these take the session port away from the programmers' host.
    {Method::Recovery, "Recovery", "bootloader recovery flow (session)", nullptr},
    {Method::HexLoader, "HexLoader", "HEXLoad_8N1.exe or the updater library (session)", nullptr},
    {Method::Pic32Loader, "Pic32Loader", "PIC32_Serial_Bootloader.exe (session)", nullptr},
};

} // namespace

std::span<const TMethodEntry> Methods() {
    return Registry;
}

const TMethodEntry& MethodEntry(Method method) {
    for (const TMethodEntry& entry : Registry) {
        if (entry.Id == method) {
            return entry;
        }
    }
    return Registry[0]; // unreachable: every method has its row
}

std::unique_ptr<TProgrammerTyp> CreateProgrammer(Method method, const TProgrammerContext& context,
                                                 const TMethodSettings& settings) {
    const TMethodEntry& entry = MethodEntry(method);
    return entry.Create != nullptr ? entry.Create(context, settings) : nullptr;
}

Method MethodForChip(std::uint32_t prozTyp) {
    return prozTyp == Chip5438 ? Method::Bsl5xx : Method::Bsl430;
}

} // namespace programmers
