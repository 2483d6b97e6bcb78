#include "programmers/Efmv24_unit.h"

#include "programmers/Crc16.h"
#include "serial/V24Parameter.h"

#include <chrono>
#include <cstdio>

namespace programmers {

namespace {

constexpr long BaudSwitchWaitMs = 500;
constexpr long AnnouncedWaitMs = 500;
constexpr long LoaderSettleWaitMs = 2000;
constexpr long EndWaitMs = 500;

constexpr const char* SizeAnnouncementText = "Will receive\r\rprogdata: \r\rof!";
constexpr const char* CloseKey = "QX47";

std::string BaudText(serial::BaudTag baud) {
    return std::to_string(serial::BaudRateOf(baud));
}

} // namespace

namespace efmv24 {

bool BlockErrorNumber(const char* text, long& number) {
    if (text == nullptr) {
        return false;
    }
    while (*text == ' ') {
        ++text;
    }
    bool any = false;
    number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        // Any number this long is no 2; keep it from overflowing.
        if (number < 1000000) {
            number = number * 10 + (*text - '0');
        }
        any = true;
    }
    return any;
}

std::string LoaderTextOf(const char* text) {
    std::string kept;
    for (; text != nullptr && *text != '\0' && kept.size() < LoaderTextMax; ++text) {
        kept.push_back(*text);
    }
    return kept;
}

std::string SizeAnnouncement(std::uint32_t imageLen, const std::string& loaderText) {
    return std::string(protocol::command::DeviceLoaderSizePrefix) + SizeAnnouncementText +
           std::to_string(imageLen) + " bytes," + loaderText + "\r\n";
}

std::string BlockHead(const std::uint8_t* bytes, std::size_t count) {
    char head[48];
    std::snprintf(head, sizeof head, "%s%u,%u,", protocol::command::DeviceLoaderBlockPrefix,
                  static_cast<unsigned>(count),
                  static_cast<unsigned>(Crc16(bytes, count, Crc16InitXmodem)));
    return head;
}

std::string BlockCommand(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string command = BlockHead(bytes, count);
    command.reserve(command.size() + 2 * count + 2);
    for (std::size_t i = 0; i < count; ++i) {
        command.push_back(Digits[bytes[i] >> 4]);
        command.push_back(Digits[bytes[i] & 0x0F]);
    }
    command += "\r\n";
    return command;
}

std::string ClosingCommand(std::uint32_t imageLen, std::uint16_t crc, std::uint32_t stamp) {
    char command[80];
    std::snprintf(command, sizeof command, "%s%s,%u,%u,%lu\r\n",
                  protocol::command::DeviceLoaderClosePrefix, CloseKey,
                  static_cast<unsigned>(imageLen), static_cast<unsigned>(crc),
                  static_cast<unsigned long>(stamp));
    return command;
}

std::uint32_t DateStamp(std::time_t now) {
    using namespace std::chrono;
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    const sys_days today = year{local.tm_year + 1900} /
                           month{static_cast<unsigned>(local.tm_mon + 1)} /
                           day{static_cast<unsigned>(local.tm_mday)};
    const sys_days base = year{2002} / December / day{31};
    const auto days = (today - base).count();
    return days > 0 ? static_cast<std::uint32_t>(days * 86400) : 0;
}

} // namespace efmv24

TEFMV24_Prog::TEFMV24_Prog(const TProgrammerContext& context) : TProgrammerTyp(context) {}

// ---- Blocking run ----------------------------------------------------------

TProgrammerResult TEFMV24_Prog::Program(const std::string& fileName) {
    Host.SetProgressPosition(0);
    // Nothing is sent for a file the loader could not take whole.
    TFailure fileFailure;
    if (!LoadTransferImage(Host, fileName, Image, fileFailure)) {
        return TProgrammerResult::Failed(std::move(fileFailure));
    }
    Host.SetProgressMaximum(static_cast<int>(Image.PaddedLength / ImageBlockSize),
                            ProgressUnit::Blocks);
    Sent = 0;

    BeginRun(efmv24::WatchdogMs);
    Host.ShowTitleState(TitleState::Plain);
    OnOk = &TEFMV24_Prog::BaudUp;
    SendText(protocol::command::DeviceLoaderStart);
    PumpUntil();

    Host.ShowTitleState(TitleState::Plain);
    EndRun(EndWaitMs);
    // A failure after the lowering of the speed still leaves the line at
    // the loader's settings, so any failure restores the saved ones.
    if (BaudChanged != 0 || Failed != 0) {
        Port.LoadLastV24Parameter();
        Host.ShowBaudText(std::to_string(serial::BaudRateOf(Port.GetV24Parameter()->Baudrate)));
    }
    return RunResult();
}

bool TEFMV24_Prog::SendText(const char* text) {
    NoteCommand(text);
    return WriteText(text);
}

void TEFMV24_Prog::NoteCommand(const std::string& text) {
    LastCommand = CommandNamed(text, ",\r\n");
}

// ---- Events ----------------------------------------------------------------

void TEFMV24_Prog::Abort() {
    Fail("aborted");
}

bool TEFMV24_Prog::TakesReply(std::int32_t id) const {
    return TProgrammerTyp::TakesReply(id) || id == protocol::reply::LoaderWantsSize ||
           id == protocol::reply::LoaderBlockError || id == protocol::reply::LoaderAnnounced;
}

void TEFMV24_Prog::OnReply(std::int32_t id, std::intptr_t data) {
    const char* text = reinterpret_cast<const char*>(data);
    switch (id) {
    case protocol::event::Acknowledge:
        RestartWatchdog();
        if (Busy) {
            ++WaitingAcks;
            return;
        }
        if (OnOk != nullptr) {
            (this->*OnOk)();
        }
        Host.AdvanceProgress(1);
        break;
    case protocol::event::Rejected:
        // Nothing sets it: a refusal ends the run through the watchdog.
        if (OnRefusal != nullptr) {
            (this->*OnRefusal)();
        }
        break;
    case protocol::reply::LoaderWantsSize:
        RestartWatchdog();
        Announce();
        break;
    case protocol::reply::LoaderBlockError:
        BlockError(text);
        break;
    case protocol::reply::LoaderAnnounced:
        RestartWatchdog();
        LoaderAnnounced(text);
        break;
    default:
        break;
    }
    RunWaitingAcks();
}

void TEFMV24_Prog::OnWatchdog() {
    Host.AddLogLine("device loader: no reply");
    Fail(Silence("device loader: no reply to " + LastCommand));
}

void TEFMV24_Prog::Pause(long ms) {
    const bool outer = Busy;
    Busy = true;
    Wait(ms);
    Busy = outer;
}

void TEFMV24_Prog::RunWaitingAcks() {
    while (!Busy && WaitingAcks > 0 && Finished == 0) {
        --WaitingAcks;
        if (OnOk != nullptr) {
            (this->*OnOk)();
        }
        Host.AdvanceProgress(1);
    }
}

void TEFMV24_Prog::SendBaudCommand(int baud) {
    char command[32];
    std::snprintf(command, sizeof command, "%s%lu\r\n", protocol::command::DeviceLoaderBaudPrefix,
                  static_cast<unsigned long>(baud));
    SendText(command);
}

// ---- The chain ---------------------------------------------------------------

void TEFMV24_Prog::BaudUp() {
    const serial::BaudTag baud = Job.KeepBaud[0] != 0 ? serial::B__9600 : serial::B115200;
    OnOk = nullptr;
    SendBaudCommand(baud);
    Pause(BaudSwitchWaitMs);
    if (Finished != 0) {
        return;
    }
    Port.ChangeV24Parameter(baud, serial::S_2, serial::NoParity, false);
    Host.ShowBaudText(BaudText(baud));
    BaudChanged = 1;
    OnOk = &TEFMV24_Prog::Restart;
}

void TEFMV24_Prog::Restart() {
    OnOk = nullptr; // reply 264 goes on
    SendText(protocol::command::DeviceLoaderRestart);
}

void TEFMV24_Prog::LoaderAnnounced(const char* text) {
    LoaderText_ = efmv24::LoaderTextOf(text);
    Pause(AnnouncedWaitMs);
    if (Finished != 0) {
        return;
    }
    Port.ChangeBaudrate(serial::B__9600);
    Host.ShowBaudText(BaudText(serial::B__9600));
    Pause(LoaderSettleWaitMs);
    if (Finished != 0) {
        return;
    }
    SendText(protocol::command::Dialogue);
}

void TEFMV24_Prog::Announce() {
    OnOk = &TEFMV24_Prog::Block;
    SendText(efmv24::SizeAnnouncement(Image.PaddedLength, LoaderText_).c_str());
}

void TEFMV24_Prog::Block() {
    const std::uint32_t first = Sent;
    Sent += ImageBlockSize;
    if (Sent >= Image.PaddedLength) {
        Sent = Image.PaddedLength;
        OnOk = &TEFMV24_Prog::Close;
    } else {
        OnOk = &TEFMV24_Prog::Block;
    }
    const std::uint8_t* bytes = Image.Bytes.data() + first;
    const std::size_t count = Sent - first;
    // The hexadecimal text would swamp the log.
    Host.AddLogLine(efmv24::BlockHead(bytes, count));
    NoteCommand(efmv24::BlockHead(bytes, count));
    RepeatBuffer = efmv24::BlockCommand(bytes, count);
    WriteBytes(reinterpret_cast<const std::uint8_t*>(RepeatBuffer.data()), RepeatBuffer.size());
}

void TEFMV24_Prog::BlockError(const char* text) {
    long number = 0;
    if (efmv24::BlockErrorNumber(text, number) && number == efmv24::RepeatBlock &&
        !RepeatBuffer.empty()) {
        Host.AddLogLine("block repeated");
        WriteBytes(reinterpret_cast<const std::uint8_t*>(RepeatBuffer.data()), RepeatBuffer.size());
        return;
    }
    Host.AddLogLine("device loader: block error " + efmv24::LoaderTextOf(text));
    Fail("device loader: block error after " + LastCommand, efmv24::LoaderTextOf(text));
}

void TEFMV24_Prog::Close() {
    OnOk = &TEFMV24_Prog::Store;
    SendText(efmv24::ClosingCommand(Image.PaddedLength, ImageCrc(Image),
                                    efmv24::DateStamp(std::time(nullptr)))
                 .c_str());
    StopWatchdog();
    StartWatchdog(efmv24::StoreWatchdogMs);
}

void TEFMV24_Prog::Store() {
    OnOk = &TEFMV24_Prog::BaudDown;
    SendText(protocol::command::DeviceLoaderStore);
}

void TEFMV24_Prog::BaudDown() {
    OnOk = nullptr;
    SendBaudCommand(serial::B__9600);
    Pause(BaudSwitchWaitMs);
    if (Finished != 0) {
        return;
    }
    Port.ChangeBaudrate(serial::B__9600);
    Host.ShowBaudText(BaudText(serial::B__9600));
    BaudChanged = 0;
    OnOk = &TEFMV24_Prog::Finish;
}

void TEFMV24_Prog::Finish() {
    OnOk = nullptr;
    Succeed();
}

} // namespace programmers
