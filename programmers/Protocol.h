#pragma once

// The vocabulary of the session: the device commands the tool sends, the
// instrument's reply numbers it acts on, the internal message numbers of the
// event queue and the process exit codes. Everything that speaks to the
// instrument or to a calling script takes its names from here, so that a
// number means the same thing in every file.

#include <cstdint>

namespace protocol {

// Device commands: "A." + number [+ "#" + arguments] + CR LF.
namespace command {
inline constexpr const char* Wake = "A.1111\r\n";               // wake, and exit for most classes
inline constexpr const char* Dialogue = "A.1000\r\n";           // open the command dialogue
inline constexpr const char* WakeService = "A.1131\r\n";        // wake of start mode 4
inline constexpr const char* ExitClass1 = "A.1121\r\n";         // leave the dialogue, class 1
inline constexpr const char* ReadPcbNr = "A.2003\r\n";          // circuit-board number
inline constexpr const char* ReadDeviceNr = "A.2000\r\n";       // device number (model)
inline constexpr const char* ReadVersion = "A.2001\r\n";        // software version(s)
inline constexpr const char* ReadSerialNr = "A.4001\r\n";       // serial number
inline constexpr const char* ReadStartupVersion = "A.2100\r\n"; // start-up program version
inline constexpr const char* EnterBootloader = "A.1200\r\n";    // the default start command
inline constexpr const char* EnterSensorLoader = "A.1230\r\n";  // sensor modes, sensor present
inline constexpr const char* EnterSensorLoaderNoSensor = "A.1231\r\n";
inline constexpr const char* MemoryVariantTaken = "A.1220\r\n"; // answer to reply 208
inline constexpr const char* OldFirmwareStart = "A.1500\r\n";   // 41215 up to version 1.049
inline constexpr const char* BootFileStart = "A.2005\r\n";      // bootloader-file update
inline constexpr const char* SetClockPrefix = "A.1600#";        // + local time
inline constexpr const char* CalibrationPrefix = "A.6162#";     // + air pressure in hPa
// Sent before the wake command at every baud rate of the device search.
inline constexpr const char* WakePreamble = "\r\n\r\n";
// Of another command family: restarts the instrument after programming.
inline constexpr const char* Restart = "U.606\r\n";

// Wake command by start mode 0..5; another mode wakes as mode 0.
inline constexpr const char* WakeByStartMode[6] = {Wake, Dialogue, Wake, Wake, WakeService, Wake};
constexpr const char* WakeForStartMode(int startMode) {
    return WakeByStartMode[startMode >= 0 && startMode <= 5 ? startMode : 0];
}
// Exit command by file class: class 1 leaves with its own command, every
// other class with the wake command.
constexpr const char* ExitForFileClass(int fileClass) {
    return fileClass == 1 ? ExitClass1 : Wake;
}
// The identification queries in the order of the dialogue (QueryStep).
inline constexpr const char* IdentificationQueries[4] = {ReadPcbNr, ReadDeviceNr, ReadVersion,
                                                         ReadSerialNr};
// The bootloader-entry tables of the MSP430 loaders, by programmer variant.
inline constexpr const char* PasswordQuery[3] = {"A.5577\r\n", "A.5555\r\n", "A.5555\r\n"};
inline constexpr const char* LoaderEntry[3] = {"A.5588#QX47\r\n", "A.5566#QX47\r\n",
                                               "A.5567#QX47\r\n"};

// The instrument's own loader, driven by device commands.
inline constexpr const char* DeviceLoaderStart = "A.5004\r\n";
inline constexpr const char* DeviceLoaderBaudPrefix = "A.1301#"; // + baud enumeration
inline constexpr const char* DeviceLoaderRestart = "A.9000\r\n";
inline constexpr const char* DeviceLoaderSizePrefix = "A.1260#";
inline constexpr const char* DeviceLoaderBlockPrefix = "A.1261#";
inline constexpr const char* DeviceLoaderClosePrefix = "A.1262#";
inline constexpr const char* DeviceLoaderStore = "A.1263\r\n";
// The XMODEM bootloader: entry commands by mode, each followed by the line
// that names the bootloader's speed, and what the bootloader takes.
inline constexpr const char* XmodemEntry[3] = {"A.1250#", "A.1255#", "A.1256#"};
inline constexpr const char* XmodemEntrySecondStage = "A.1250#";
inline constexpr const char* XmodemKeepBaudLine = "3\r\n"; // 9600
inline constexpr const char* XmodemFastLine = "7\r\n";     // 115200
inline constexpr const char* XmodemBootloaderStart = "A.2051\r\n";
// Follows every command character from bootloader version 1.06 on.
inline constexpr char XmodemUnlock[7] = {'5', '8', '3', '1', '\r', '\n', '\0'};
} // namespace command

// Reply numbers of the instrument (below 10000).
namespace reply {
inline constexpr std::int32_t DeviceNr = 20, DeviceNrAlt = 200, DeviceNrAlt2 = 2010;
inline constexpr std::int32_t Version = 21, VersionAlt = 201, VersionSensor = 2011;
inline constexpr std::int32_t PcbNr = 23, PcbNrAlt = 203, PcbNrAlt2 = 2013;
inline constexpr std::int32_t SerialNr = 25, SerialNrAlt = 205;
inline constexpr std::int32_t NewFirmwareStoring = 30; // the new firmware runs, stores data
inline constexpr std::int32_t NewFirmwareReady = 31;   // the new firmware runs, done
inline constexpr std::int32_t Password = 80;           // bootloader password (reset vector)
inline constexpr std::int32_t PasswordAlt = 81;
inline constexpr std::int32_t MemoryVariant = 208; // text: the variant character
inline constexpr std::int32_t SensorNotice = 262;
inline constexpr std::int32_t ReadyToProgram = 920;
inline constexpr std::int32_t WaitRequest = 1131; // wait the milliseconds given
inline constexpr std::int32_t NotInUpdateMode = 1132;
// The instrument's own loader.
inline constexpr std::int32_t LoaderWantsSize = 35;   // asks for the size announcement
inline constexpr std::int32_t LoaderBlockError = 263; // text: an error number
inline constexpr std::int32_t LoaderAnnounced = 264;  // after its restart, text: its name
inline constexpr std::int32_t XmodemBootloaderVersion = 251;
inline constexpr std::int32_t XmodemChecksum = 1205; // CRC of the received image, hexadecimal
} // namespace reply

// Internal message numbers of the event queue (10000 and above).
namespace event {
inline constexpr std::int32_t KeyStart = 13;  // evKey: OK, automatic start, retry
inline constexpr std::int32_t KeyEscape = 27; // evKey: abort a transfer
inline constexpr std::int32_t CharsReceived = 10000;
inline constexpr std::int32_t CloseWindow = 10004;
inline constexpr std::int32_t Acknowledge = 10010; // a reply line ending in "!"
// A reply in the "A." or "C." form; its data is the whole line (text).
inline constexpr std::int32_t CommandReply = 10011;
// A reply line ending in "?"; its data is the line (text).
inline constexpr std::int32_t Rejected = 10012;
// The session's port hung up or failed under a read or write of the session;
// the port's FailureText says why. Its data names the session and the port
// (TProgrammerHost::CurrentLineFailure).
inline constexpr std::int32_t LineFailed = 10014;
inline constexpr std::int32_t ProgrammingFailed = 10021;
inline constexpr std::int32_t ToolSucceeded = 10022;
// OK after the line died behind a successful transfer: the step after the
// transfer runs again on the port opened again.
inline constexpr std::int32_t ResumeAfterTransfer = 10026;
inline constexpr std::int32_t StartClass0 = 10023;
inline constexpr std::int32_t BootloaderFileStep = 10024;
inline constexpr std::int32_t TerminalStep = 10025;
inline constexpr std::int32_t ToolStep = 10030;
inline constexpr std::int32_t AcknowledgeAgain = 10040;
inline constexpr std::int32_t BootFrameAnswer = 10042;
inline constexpr std::int32_t StartClass1 = 10043;
inline constexpr std::int32_t BootByteAnswer = 10044;
inline constexpr std::int32_t Recovery = 10045;
inline constexpr std::int32_t RetryClass1 = 10046;
inline constexpr std::int32_t BootFileFailed = 10047;
inline constexpr std::int32_t StartClass2 = 10050;
inline constexpr std::int32_t StartClass3 = 10051;
inline constexpr std::int32_t StartClass4 = 10052;
// The start message of each file class 0..4.
inline constexpr std::int32_t StartByFileClass[5] = {StartClass0, StartClass1, StartClass2,
                                                     StartClass3, StartClass4};
// The retry message of each file class after 10021; class 4 has no retry
// of its own and repeats its start.
inline constexpr std::int32_t RetryByFileClass[5] = {AcknowledgeAgain, RetryClass1, StartClass2,
                                                     AcknowledgeAgain, StartClass4};
} // namespace event

// Process exit codes a calling script reads.
namespace exitcode {
inline constexpr int Success = 0;
inline constexpr int ProgrammingFailed = 1; // also: aborted
inline constexpr int PortUnavailable = 2;   // the fixed serial port could not be opened
inline constexpr int NoInstrument = 3;
inline constexpr int NothingNewer = 4; // with AutoStart
inline constexpr int BadOption = 64;
inline constexpr int FolderMissing = 66;
inline constexpr int ConfigurationMissing = 78; // Update.ini or ProgDevice.ini (sysexits EX_CONFIG)
} // namespace exitcode

// The file transfers: whole files in checked blocks at a raised line speed,
// and the lab instruments' list of files.
namespace command {
inline constexpr const char* SetBaudPrefix = "A.1300#"; // + baud rate in decimal
inline constexpr const char* FileHeader = "A.1201#";    // + name,date,size
inline constexpr const char* FileHeaderOld = "A.1205#"; // start-up programs before 0.106
inline constexpr const char* FileEnd = "A.1202\r\n";
inline constexpr const char* TransferEnd = "A.1203\r\n";
inline constexpr const char* BlockPrefix = "D.";        // + length,check#data
inline constexpr const char* LabFileOpen = "A.12000#";  // + name in lower case
inline constexpr const char* LabFileBlock = "A.12010#"; // + count byte + data
inline constexpr const char* LabFileClose = "A.12030\r\n";
} // namespace command
namespace reply {
inline constexpr std::int32_t FileComplete = 260;
inline constexpr std::int32_t BlockRefused = 261; // text 2: send the block again
inline constexpr long ResendBlock = 2;            // the text of 261 that asks for the block again
} // namespace reply

} // namespace protocol
