#include "app/Messages.h"

#include "platform/Text.h"

#include <array>

namespace app {

namespace {

struct Entry {
    Msg Id;
    std::size_t Width;
    const char* German; // UTF-8 in the source
    const char* English;
};

constexpr Entry Table[] = {
    {Msg::DownloadMayLast, 80, "Der Download kann bis zu X Minuten dauern!\r\n\r\n",
     "The download may last up to X minutes !\r\n\r\n"},
    {Msg::ProgrammingName, 80, "NAME wird programmiert !!\r\n\r\n", "Programming NAME !!\r\n\r\n"},
    {Msg::StoringNewData, 80, "Neue Daten werden gespeichert !!\r\nBitte warten ...\r\n",
     "Store new data !!\r\nPlease wait ...\r\n"},
    {Msg::ConfirmWithOk, 80, "Bestätigen Sie dies danach mit dem Ok-Button!\r\n",
     "Confirm with the Ok-button!\r\n"},
    {Msg::DownloadSuccessful, 300,
     "--------------------\r\nDownload erfolgreich ausgeführt !\r\n\r\nTrennen Sie das NAME von "
     "der Schnittstelle COM X.\r\n\r\nBeenden Sie das Windows-Programm unter Datei/Beenden.",
     "--------------------\r\nDownload successfully completed !\r\n\r\nDisconnect the NAME from "
     "the COM X port.\r\n\r\nExit the Windows program under File/Exit."},
    {Msg::DownloadIsForName, 200,
     "Der Download ist für ein NAME !\r\nSie haben ein falsches Gerät angeschlossen oder verwenden "
     "ein falsches Downloadprogramm.",
     "Download is for an NAME !\r\nWrong device connected or wrong download program used."},
    {Msg::DeviceVersionNewer, 200,
     "Die Software-VersionX in Ihrem Gerät ist aktueller als die, die das Downloadprogramm "
     "anbietet.",
     "The software versionX in your device is more up to date then the download program can "
     "provide."},
    {Msg::NoDeviceFound, 180,
     "Kein Gerät gefunden !!\r\nIst das Gerät auch richtig angeschlossen und eingeschalten "
     "?\rAutomatische Suche wiederholen mit Ok",
     "No device found !!\r\nIs the meter correctly connected an switched on?\rRepeat automatic "
     "search with Ok"},
    {Msg::NoNameFound, 80, "Kein NAME gefunden !!\r\nProgramm wird abgebrochen !!",
     "No NAME found !!\r\nProgram is aborted !!"},
    {Msg::TransmitErrorSearch, 180,
     "Übertragungsfehler !!\r\nIst das Gerät auch richtig angeschlossen und eingeschalten "
     "?\rAutomatische Suche wiederholen mit Ok",
     "Transmit error !!\r\nIs the meter correctly connected an switched on?\rRepeat automatic "
     "search with Ok"},
    {Msg::WrongDevice, 40, "Falsches Gerät angeschlossen !!", "Wrong device connected !!"},
    {Msg::NoValidVersion, 40, "keine gültige Software-Version !!", "No valid software version !!"},
    {Msg::VersionAlreadyInDevice, 140,
     "Die aktuelle Software-VersionX ist schon im Gerät.\r\nWollen Sie trotzdem den Download "
     "fortsetzen ?",
     "The latest software versionX is already in device.\r\nDo you want to continue the download "
     "nevertheless?"},
    {Msg::CaptionError, 12, "Fehler", "Error"},
    {Msg::CaptionInfo, 12, "Info", "Info"},
    {Msg::TermFileMissing, 50, "L3_TermL.A37 konnte nicht geöffnet werden",
     "Unable to open L3_TermL.A37"},
    {Msg::TermProgrammingName, 80, "\r\nNAME wird programmiert !!\r\n\r\n",
     "\r\nProgramming NAME !!\r\n\r\n"},
    {Msg::TermAborted, 300,
     "Programmierung abgebrochen !\r\nTrennen Sie das NAME vom Steckernetzteil und der "
     "Schnittstelle COM X.\r\nBeenden Sie das Windows-Programm unter Datei/Beenden und starten Sie "
     "das Programm erneut für eine Neuprogrammierung.",
     "Programming abort !\r\nDisconnect the NAME from power supply unit and COM X.\r\nClose the "
     "window program with File/Exit and start the program for a new download"},
    {Msg::TermTransmitError, 50, "Fehler in der Datenübertragung !!\r\n", "Transmit error !!\r\n"},
    {Msg::TermPreparing, 70, "--------------------\r\nProgramm wird vorbereitet !!",
     "--------------------\r\nPreparing program !!"},
    {Msg::TermSuccessful, 300,
     "--------------------\r\nProgramm erfolgreich überspielt !\r\n\r\nTrennen Sie das NAME vom "
     "Steckernetzteil und der Schnittstelle COM X.\r\n\r\nStecken Sie danach das Netzteil wieder "
     "an und starten Sie das NAME\r\nBeenden Sie das Windows-Programm unter Datei/Beenden.",
     "--------------------\r\nProgram successfully programmed !\r\n\r\nDisconnect the NAME from "
     "power supply unit and COM X.\r\n\r\nConnect the NAME with the power supply unit and start "
     "the NAME\r\nClose the window program with File/Exit."},
    {Msg::BootloaderError, 80, "Fehler im Bootloader !!  Programmierung wurde abgebrochen.",
     "Error in bootloader !!  Programming abort."},
    {Msg::BootloaderMissing, 80,
     "Bootloader im Zielgerät nicht verfügbar!!  Programmierung wurde abgebrochen.",
     "bootloader in target not available!!  Programming abort."},
    {Msg::TitleReady, 20, "Update [beendet]", "Update [ready]"},
    {Msg::SensorSoftwareOverRs232, 200,
     "Die Software für die Sensoridentifizierung kann über die RS232 Schnittstelle nicht "
     "aktuallisiert werden! (nur über USB)\r\nWollen Sie trotzdem den Download für die "
     "Gerätesoftware fortsetzen ?",
     "The software for sensor identification cannot be actualized via RS232 Interface! (Only via "
     "USB)\r\nDo you want to continue the download for the instruments software nevertheless?"},
    {Msg::NameFallback, 20, "Gerät", "device"},
    // Texts of this implementation, outside the fixed slots.
    {Msg::ConfigValuesDropped, 0,
     "Konfiguration, nicht übernommen: ", "Configuration, not taken: "},
    {Msg::SettingsNotSaved, 0, "Die Einstellungen konnten nicht gespeichert werden, Datei fehlt: ",
     "The settings could not be saved, file missing: "},
    {Msg::PortsPassedOver, 0, "Belegt oder ohne Zugriffsrecht, bei der Suche übergangen: ",
     "In use or without access right, passed over in the search: "},
    {Msg::ReaderNotStarted, 0, "Programm konnte nicht gestartet werden!",
     "Programm konnte nicht gestartet werden!"},
    {Msg::DebugMode, 0, "Debug-Mode", "Debug-Mode"},
    {Msg::IgnoreSoftwareVersion, 0, "Software Vers. ignorieren", "Software Vers. ignorieren"},
    {Msg::OpenAnyFile, 0, "beliebige Datei öffnen", "beliebige Datei öffnen"},
    {Msg::NoSensorQuestion, 0, "kein digitaler Sensor angeschlossen ?\r\n\r\nTrotzdem fortfahren ?",
     "kein digitaler Sensor angeschlossen ?\r\n\r\nTrotzdem fortfahren ?"},
    {Msg::NoInstrumentRecognised, 0,
     "kein Pelmora erkannt!!\rim Pelmora unter Service->Update-Mode aktivieren.",
     "kein Pelmora erkannt!!\rim Pelmora unter Service->Update-Mode aktivieren."},
    {Msg::NoAnswerAfterProgramming, 0,
     "Das Gerät hat sich nach der Programmierung nicht gemeldet: die neue Firmware läuft nicht "
     "oder ist nicht erreichbar.",
     "The instrument did not report after programming: the new firmware does not run or cannot "
     "be reached."},
    {Msg::MethodNotAvailable, 0, "Diese Übertragungsart ist hier nicht verfügbar: ",
     "This transfer method is not available here: "},
    {Msg::FirmwareFile, 0, "Firmware-Datei", "Firmware file"},
    {Msg::FirmwareFileUnreadable, 0, "Die Datei kann nicht gelesen werden.",
     "The file cannot be read."},
    {Msg::ProgrammingAborted, 0, "Programmierung wurde abgebrochen.", "Programming abort."},
    // The refused command follows.
    {Msg::CommandRefused, 0,
     "Das Gerät hat den Befehl abgelehnt: ", "The instrument refused the command: "},
    {Msg::DifferenceAt, 0, "Abweichung bei ", "difference at "},
    {Msg::NoResetVector, 0, "Das Abbild enthält keinen Reset-Vektor (0xFFFE).",
     "The image holds no reset vector (0xFFFE)."},
    // The open-failure box: PORT is the port's name; the device and the
    // reason follow.
    {Msg::PortNotOpened, 0, "PORT konnte nicht geöffnet werden!", "Cannot open PORT!"},
    {Msg::PortBusy, 0, "von einem anderen Programm belegt", "in use by another program"},
    {Msg::PortNoPermission, 0, "keine Zugriffsberechtigung", "permission denied"},
    {Msg::PortMissing, 0, "Gerät nicht vorhanden", "no such device"},
    {Msg::PortOpenFailed, 0, "Fehler beim Öffnen", "open failed"},
    // Follows the lack of permission; GROUP is the device's group.
    {Msg::PortOwnedByGroup, 0, "das Gerät gehört der Gruppe GROUP",
     "the device belongs to group GROUP"},
    // After the wait panel's caption during a long pause; X is the seconds.
    {Msg::WaitSecondsLeft, 0, "(noch X s)", "(X s left)"},
    {Msg::FirmwareFileTooLarge, 0, "Die Datei ist zu groß für den Speicher des Geräts:",
     "The file is too large for the instrument's memory:"},
    // The reported and the expected CRC follow.
    {Msg::ImageChecksumMismatch, 0, "Prüfsumme des Bootloaders falsch (gemeldet / erwartet): ",
     "Bootloader checksum wrong (reported / expected): "},
    {Msg::InstrumentNoAnswer, 0, "Das Gerät antwortet nicht mehr.",
     "The instrument does not answer any more."},
    // The XMODEM upload ends; the packet's number (or EOT) follows.
    {Msg::XmodemRefused, 0, "XMODEM: Der Empfänger weist das Paket immer wieder ab (NAK), Paket ",
     "XMODEM: the receiver keeps refusing the packet (NAK), packet "},
    {Msg::XmodemRestarted, 0,
     "XMODEM: Der Empfänger verlangt immer wieder einen neuen Anfang ('C'), Paket ",
     "XMODEM: the receiver keeps asking for a new start ('C'), packet "},
    {Msg::XmodemCancelled, 0, "XMODEM: Der Empfänger hat die Übertragung abgebrochen (CAN), Paket ",
     "XMODEM: the receiver cancelled the transfer (CAN), packet "},
    {Msg::XmodemStalled, 0, "XMODEM: 10 s ohne Fortschritt, Paket ",
     "XMODEM: no progress for 10 s, packet "},
    // The port's name, device and the cause follow.
    {Msg::PortFailedInSearch, 0, "Schnittstelle ausgefallen, bei der Suche übergangen: ",
     "Port failed, passed over in the search: "},
    // The names of the ports tried follow.
    {Msg::NoLoaderAnswered, 0,
     "Kein Bootloader hat geantwortet. Versucht: ", "No bootloader answered. Tried: "},
    {Msg::RecoveryWhileSessionRuns, 0,
     "Eine Sitzung läuft: Wiederherstellung erst nach ihrem Ende möglich.",
     "A session is running: a recovery can start once it has ended."},
    {Msg::RestartReportOutOfTurn, 0,
     "Meldung einer neuen Firmware außerhalb des Neustarts übergangen.",
     "A report of new firmware outside the restart is ignored."},
    {Msg::UpdaterLeftBehind, 0,
     "Die Updater-Bibliothek kehrt nicht zurück; ihr Aufruf wird beim Beenden zurückgelassen.",
     "The updater library does not return; its call is left behind at the close."},
    {Msg::NoToolForFileClass, 0, "Kein Programmierwerkzeug für die Dateiklasse ",
     "No programming tool for file class "},
    {Msg::ToolNotStarted, 0, "Programmierwerkzeug konnte nicht gestartet werden: ",
     "The programming tool could not be started: "},
    // PORT is the port's name.
    {Msg::ToolPortTooHigh, 0,
     "Das PIC32-Programmierwerkzeug erreicht nur COM1 bis COM9, nicht PORT.",
     "The PIC32 programming tool reaches only COM1 to COM9, not PORT."},
    {Msg::UpdaterPathTooLong, 0,
     "Der Dateiname ist für die Updater-Bibliothek zu lang (höchstens 79 Zeichen): ",
     "The file name is too long for the updater library (79 characters at most): "},
    {Msg::ToolEndedAtClose, 0, "Das Programmierwerkzeug wurde beim Schließen beendet.",
     "The programming tool was ended at close."},
    {Msg::ToolFailed, 0, "Das Programmierwerkzeug meldet einen Fehler, Code ",
     "The programming tool reported a failure, code "},
    {Msg::FileMissing, 0, "Die Datei ist nicht vorhanden.", "The file does not exist."},
    // The names as they stand on disk follow.
    {Msg::FilesDifferInCaseOnly, 0,
     "Mehrere Dateien unterscheiden sich nur in Groß- und Kleinschreibung:",
     "Several files differ only in upper and lower case:"},
    {Msg::NotAFile, 0, "Dort steht ein Ordner oder ein Verweis ins Leere, keine Datei.",
     "A folder or a broken link stands there, not a file."},
    {Msg::KeyNamesNoFile, 0, "Nach diesem Schlüssel steht kein Dateiname in",
     "No file name follows this key in"},
};

constexpr std::size_t Count = static_cast<std::size_t>(Msg::Count_);
static_assert(std::size(Table) == Count, "one entry per message");

constexpr bool InOrder() {
    for (std::size_t i = 0; i < Count; ++i) {
        if (static_cast<std::size_t>(Table[i].Id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InOrder(), "entries in the order of Msg");

// Converted to Latin-1 once, on first use.
const std::array<std::array<std::string, 2>, Count>& Latin1Table() {
    static const auto converted = [] {
        std::array<std::array<std::string, 2>, Count> texts;
        for (std::size_t i = 0; i < Count; ++i) {
            texts[i][0] = platform::Utf8ToLatin1(Table[i].German);
            texts[i][1] = platform::Utf8ToLatin1(Table[i].English);
        }
        return texts;
    }();
    return converted;
}

} // namespace

const std::string& MessageText(Msg id, int language) {
    return Latin1Table()[static_cast<std::size_t>(id)][language == 0 ? 0 : 1];
}

std::size_t MessageWidth(Msg id) {
    return Table[static_cast<std::size_t>(id)].Width;
}

} // namespace app
