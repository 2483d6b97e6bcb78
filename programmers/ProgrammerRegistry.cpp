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
constexpr int DeviceLoaderVariant = 2;

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

bool Is(const TSessionKey& key, Phase phase) {
    return key.Step == phase;
}

bool ProgramFile(const TSessionKey& key, int fileClass) {
    return key.FileClass == fileClass &&
           (Is(key, Phase::Firmware) || Is(key, Phase::FirmwareInLoader));
}

// A lab recovery knows the loader by its answer as well as by the entry.
bool Needs5xxLoader(const TSessionKey& key) {
    if (Is(key, Phase::LabRecovery)) {
        return key.ProzTyp == Chip5438 || key.LoaderAnswer == LoaderAnswer5xx;
    }
    return ProgramFile(key, 1) && key.ProzTyp == Chip5438;
}

bool ServesBsl430(const TSessionKey& key) {
    return Is(key, Phase::BootFile) || (ProgramFile(key, 1) && !Needs5xxLoader(key)) ||
           (Is(key, Phase::LabRecovery) && !Needs5xxLoader(key));
}

bool ServesDeviceLoader(const TSessionKey& key) {
    return ProgramFile(key, 4) && key.ProgVariant == DeviceLoaderVariant;
}

bool ServesXmodem(const TSessionKey& key) {
    return ProgramFile(key, 4) && key.ProgVariant != DeviceLoaderVariant;
}

bool ServesBlockTransfer(const TSessionKey& key) {
    return ProgramFile(key, 2);
}

bool ServesBasicLoader(const TSessionKey& key) {
    return Is(key, Phase::Terminal);
}

bool ServesLabTransfer(const TSessionKey& key) {
    return Is(key, Phase::LabFiles);
}

bool ByTool(const TSessionKey& key) {
    return Is(key, Phase::Tool) || Is(key, Phase::MeterRecovery);
}

bool ServesHexLoader(const TSessionKey& key) {
    return ByTool(key) && (key.FileClass == 0 || key.FileClass == 1);
}

bool ServesPic32Loader(const TSessionKey& key) {
    return ByTool(key) && (key.FileClass == 2 || key.FileClass == 3);
}

// Both MSP430 loaders: a recovery and a retry find the loader waiting; the
// firmware is asked for the password only where it can still answer.
TMethodSettings BslSettings(const TSessionKey& key) {
    TBslSettings settings{.LoaderMode =
                              Is(key, Phase::FirmwareInLoader) || Is(key, Phase::LabRecovery),
                          .SyncFirst = !Is(key, Phase::LabRecovery),
                          .Set9600After = key.StartMode == 2};
    if (Is(key, Phase::Firmware)) {
        settings.QueryFirst = key.SensorQuestionMark;
    } else if (Is(key, Phase::BootFile)) {
        settings.QueryFirst = key.Class2Mark || !key.SensorAbsent;
    }
    return settings;
}

TMethodSettings HexLoaderSettings(const TSessionKey& key) {
    return TToolSettings{.Which = Tool::HexLoader, .LowSpeedAfter = key.StartMode == 2};
}

TMethodSettings Pic32LoaderSettings(const TSessionKey&) {
    return TToolSettings{.Which = Tool::Pic32Loader};
}

TMethodSettings XmodemSettings(const TSessionKey& key) {
    return TXmodemSettings{
        .Mode = key.ProgVariant, .Baud = serial::B115200, .DeviceFamily = key.StartMode};
}

constexpr TMethodEntry Registry[] = {
    {Method::Bsl430, "Bsl430", "MSP430 ROM bootstrap loader", &ServesBsl430, &BslSettings,
     &Make<T_BSL430, TBslSettings>},
    {Method::Bsl5xx, "Bsl5xx", "MSP430 5xx/6xx bootstrap loader", &Needs5xxLoader, &BslSettings,
     &Make<T_BSL_54XX_430, TBslSettings>},
    {Method::DeviceLoader, "DeviceLoader", "device loader", &ServesDeviceLoader, nullptr,
     &MakePlain<TEFMV24_Prog>},
    {Method::Xmodem, "Xmodem", "XMODEM bootloader", &ServesXmodem, &XmodemSettings,
     &Make<T_EMFLoader, TXmodemSettings>},
    {Method::BlockTransfer, "BlockTransfer", "block-transfer loader", &ServesBlockTransfer, nullptr,
     &MakePlain<TWinCEProg>},
    {Method::BasicLoader, "BasicLoader", "basic-loader terminal", &ServesBasicLoader, nullptr,
     &MakePlain<TTermProg>},
    {Method::LabTransfer, "LabTransfer", "lab file transfer", &ServesLabTransfer, nullptr,
     &MakePlain<TLabFileTransfer>},
    {Method::HexLoader, "HexLoader", "HEXLoad_8N1.exe or the updater library", &ServesHexLoader,
     &HexLoaderSettings, &Make<TExternalTool, TToolSettings>},
    {Method::Pic32Loader, "Pic32Loader", "PIC32_Serial_Bootloader.exe", &ServesPic32Loader,
     &Pic32LoaderSettings, &Make<TExternalTool, TToolSettings>},
};

TChoice ChoiceOf(const TMethodEntry& entry, const TSessionKey& key) {
    return {&entry, entry.Settings != nullptr ? entry.Settings(key) : TMethodSettings{}};
}

} // namespace

std::unique_ptr<TProgrammerTyp> TChoice::Create(const TProgrammerContext& context) const {
    return Entry != nullptr && Entry->Create != nullptr ? Entry->Create(context, Settings)
                                                        : nullptr;
}

std::span<const TMethodEntry> Methods() {
    return Registry;
}

const TMethodEntry& MethodEntry(Method method) {
    for (const TMethodEntry& entry : Registry) {
        if (entry.Id == method) {
            return entry;
        }
    }
    return Registry[0]; // unreachable: every built-in method has its row
}

TChoice Choose(const TSessionKey& key, std::span<const TMethodEntry> added) {
    for (const TMethodEntry& entry : added) {
        if (entry.Serves != nullptr && entry.Serves(key)) {
            return ChoiceOf(entry, key);
        }
    }
    for (const TMethodEntry& entry : Registry) {
        if (entry.Serves(key)) {
            return ChoiceOf(entry, key);
        }
    }
    return {};
}

} // namespace programmers
