#pragma once

#include <cstddef>
#include <string>

namespace app {

// Operator texts; each exists in German and English.
enum class Msg {
    DownloadMayLast,
    ProgrammingName,
    StoringNewData,
    ConfirmWithOk,
    DownloadSuccessful,
    DownloadIsForName,
    DeviceVersionNewer,
    NoDeviceFound,
    NoNameFound,
    TransmitErrorSearch,
    WrongDevice,
    NoValidVersion,
    VersionAlreadyInDevice,
    CaptionError,
    CaptionInfo,
    TermFileMissing,
    TermProgrammingName,
    TermAborted,
    TermTransmitError,
    TermPreparing,
    TermSuccessful,
    BootloaderError,
    BootloaderMissing,
    TitleReady,
    SensorSoftwareOverRs232,
    NameFallback,
    ConfigValuesDropped,
    SettingsNotSaved,
    PortsPassedOver,
    ReaderNotStarted,
    DebugMode,
    IgnoreSoftwareVersion,
    OpenAnyFile,
    NoSensorQuestion,
    NoInstrumentRecognised,
    NoAnswerAfterProgramming,
    MethodNotAvailable,
    FirmwareFile,
    FirmwareFileUnreadable,
    ProgrammingAborted,
    CommandRefused,
    DifferenceAt,
    NoResetVector,
    PortNotOpened,
    PortBusy,
    PortNoPermission,
    PortMissing,
    PortOpenFailed,
    PortOwnedByGroup,
    WaitSecondsLeft,
    FirmwareFileTooLarge,
    ImageChecksumMismatch,
    InstrumentNoAnswer,
    XmodemRefused,
    XmodemRestarted,
    XmodemCancelled,
    XmodemStalled,
    PortFailedInSearch,
    NoLoaderAnswered,
    RecoveryWhileSessionRuns,
    RestartReportOutOfTurn,
    UpdaterLeftBehind,
    // external programming tools and the updater library
    NoToolForFileClass,
    ToolNotStarted,
    ToolPortTooHigh,
    UpdaterPathTooLong,
    ToolEndedAtClose,
    ToolFailed,
    // files named by the configuration, found as on Windows
    FileMissing,
    FilesDifferInCaseOnly,
    NotAFile,
    KeyNamesNoFile, // the configuration file that holds the key follows
    Count_
};

// The text in the language (0 German, anything else English), as Latin-1.
const std::string& MessageText(Msg id, int language);
// Capacity of the text's slot in bytes, terminating zero included.
std::size_t MessageWidth(Msg id);

// Fixed texts that the configuration readers show before a language is known.
inline constexpr const char* UpdateIniMissingText =
    "Konfigurationsdatei 1 nicht vorhanden!!Programm wird beendet";
inline constexpr const char* ProgDeviceIniMissingText =
    "Konfigurationsdatei 2 nicht vorhanden!!Programm wird beendet";
inline constexpr const char* ConfigErrorCaption = "Error";

} // namespace app
