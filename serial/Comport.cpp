#include "serial/Comport.h"

#include "platform/PortMap.h"
#include "platform/TermiosDevice.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace serial {

using platform::SerialResult;

namespace {

constexpr char XON = 0x11;
constexpr char XOFF = 0x13;
constexpr std::uint32_t ReadIntervalMs = 20;

std::uint8_t StopBitsOf(std::int32_t stopBits) {
    switch (stopBits) {
    case S1_5:
        return platform::ONE5STOPBITS;
    case S_2:
        return platform::TWOSTOPBITS;
    default:
        return platform::ONESTOPBIT;
    }
}

std::uint8_t ParityOf(std::int32_t parity) {
    if (parity < NoParity || parity > Space) {
        return platform::NOPARITY;
    }
    return static_cast<std::uint8_t>(parity);
}

void ApplyHandshake(DCB& dcb, std::int32_t handshake) {
    switch (handshake) {
    case RTS_CTS:
        dcb.fOutxCtsFlow = true;
        dcb.fRtsControl = platform::RTS_CONTROL_HANDSHAKE;
        break;
    case XonXoff:
    case ZNQ_XonXoff:
        dcb.fOutX = true;
        break;
    default:
        break;
    }
}

// Negative values other than the "leave it" marker count as 0.
std::uint32_t Milliseconds(long value) {
    return value < 0 ? 0 : static_cast<std::uint32_t>(value);
}

std::unique_ptr<platform::SerialDevice> MakeTermiosDevice() {
    return std::make_unique<platform::TermiosDevice>();
}

// The device a port stands for, named also when it is missing: the link of
// the port-map folder, whose target went away or never was.
std::string TriedPath(int index) {
    std::string path = platform::PortDevicePath(index);
    std::string directory = platform::PortMapDirectory();
    if (path.empty() && !directory.empty()) {
        path = directory + "/" + TComPort::PortName(index);
    }
    return path;
}

} // namespace

DCB BuildDcb(const V24ParameterTag& record) {
    DCB dcb{};
    dcb.DCBlength = 28;
    dcb.BaudRate = BaudRateOf(record.Baudrate);
    dcb.ByteSize = record.DatenBits == D_7 ? 7 : 8;
    dcb.Parity = ParityOf(record.Paritaet);
    dcb.StopBits = StopBitsOf(record.StopBits);
    dcb.fBinary = true;
    dcb.fNull = record.KeinNullZeichen != 0;
    dcb.fRtsControl = platform::RTS_CONTROL_ENABLE;
    dcb.fDtrControl = platform::DTR_CONTROL_DISABLE;
    dcb.XonChar = XON;
    dcb.XoffChar = XOFF;
    ApplyHandshake(dcb, record.Handshake);
    return dcb;
}

COMMTIMEOUTS BuildTimeouts(const V24ParameterTag& record) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = ReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = Milliseconds(record.RXTimeOutproChar);
    timeouts.ReadTotalTimeoutConstant = Milliseconds(record.RXTimeOut);
    if (record.RXTimeOut == 0 && record.RXTimeOutproChar == 0) {
        timeouts.ReadTotalTimeoutConstant = 1;
    }
    timeouts.WriteTotalTimeoutMultiplier = Milliseconds(record.TXTimeOutproChar);
    timeouts.WriteTotalTimeoutConstant = Milliseconds(record.TXTimeOut);
    return timeouts;
}

TComPort::TComPort(platform::TComponent* owner, std::string name, DeviceFactory factory)
    : platform::TComponent(owner, std::move(name)),
      factory_(factory ? std::move(factory) : DeviceFactory(MakeTermiosDevice)),
      staging_(TransmitBufferSize) {
    Check_AllV24();
}

TComPort::~TComPort() {
    Close();
}

void TComPort::SetDeviceFactory(DeviceFactory factory) {
    factory_ = factory ? std::move(factory) : DeviceFactory(MakeTermiosDevice);
}

void TComPort::SetV24Dlg(const TDlgParameter* flags) {
    if (flags != nullptr) {
        dialogFlags_ = *flags;
    }
}

void TComPort::SetV24(const TV24Parameter* parameter) {
    if (parameter != nullptr) {
        v24_.Record = parameter->Record;
    }
}

void TComPort::InitParameter(const V24ParameterTag* record, bool autoSearch) {
    if (record != nullptr) {
        v24_.Assign(*record);
    }
    autoSearch_ = autoSearch;
}

V24ParameterTag* TComPort::GetV24Parameter() {
    v24_.SetStream(streamOn_);
    v24_.DropFileName();
    return &v24_.Record;
}

SerialResult TComPort::OpenDevice(platform::SerialDevice& device, int index, int& error) {
    error = 0;
    std::string path = platform::PortDevicePath(index);
    if (path.empty()) {
        return SerialResult::NotFound;
    }
    SerialResult result = device.Open(path);
    if (result != SerialResult::Ok) {
        error = device.LastError();
    }
    return result;
}

std::string TComPort::PortName(int index) {
    return "COM" + std::to_string(index + 1);
}

// After NoteOpenFailure: the box names the device and errno the log names,
// the one that was open on a reopen.
void TComPort::ReportOpenFailure(int index, SerialResult result, bool show) {
    openFailure_ = {index, devicePath_, result, failure_.Error};
    if (show && onOpenFailure_) {
        onOpenFailure_(openFailure_);
    }
}

bool TComPort::DeviceGone() const {
    struct stat status {};
    return !openedPath_.empty() && ::stat(openedPath_.c_str(), &status) != 0 && errno == ENOENT;
}

// A device this port had open and that is gone now went away with its line,
// as a pulled adapter does: the reopen tells that as a hang-up. A port that
// never opened is only missing, however often it is tried.
void TComPort::NoteOpenFailure(int index, SerialResult result, int error) {
    const bool reopen = index == openedIndex_ && !openedPath_.empty();
    const bool gone = reopen && result == SerialResult::NotFound && DeviceGone();
    portIndex_ = index;
    devicePath_ = reopen ? openedPath_ : TriedPath(index);
    failure_ = {reopen ? "reopen" : "open",
                gone ? "hung up, the device is gone" : platform::SerialResultText(result),
                gone ? ENOENT : error, gone ? SerialResult::HungUp : result};
}

HANDLE TComPort::Open(platform::HWND window, unsigned long threadId, int port, bool showError) {
    if (open_) {
        return device_.get();
    }
    v24_.SetFile(configPath_ + datei_, streamOn_);
    v24_.Load();
    V24ParameterTag working = v24_.Record;
    int index = port == -1 ? working.Schnittstelle : port;
    if (autoSearch_) {
        index = 0;
    }
    window_ = window;
    threadId_ = threadId;

    std::unique_ptr<platform::SerialDevice> device = factory_();
    int error = 0;
    SerialResult result = OpenDevice(*device, index, error);
    // Entry 0 of the device list is where the search began, or a port below it.
    for (int attempt = 1; result != SerialResult::Ok && autoSearch_ && attempt < deviceCount_;
         ++attempt) {
        index = deviceList_[static_cast<std::size_t>(attempt)];
        result = OpenDevice(*device, index, error);
    }
    if (result != SerialResult::Ok) {
        lastResult_ = result;
        NoteOpenFailure(index, result, error);
        ReportOpenFailure(index, result, showError);
        return INVALID_HANDLE_VALUE;
    }

    working.Schnittstelle = index;
    v24_.Assign(working);
    device_ = std::move(device);
    portIndex_ = index;
    devicePath_ = platform::PortDevicePath(index);
    openedIndex_ = index;
    openedPath_ = devicePath_;
    failure_ = {};
    open_ = true;

    readThread_.reset();
    writeThread_.reset();
    if (window != 0) {
        readThread_ = std::make_unique<TV24Read_Thread>(true, window, device_.get(), index);
    } else {
        readThread_ = std::make_unique<TV24Read_Thread_ID>(true, threadId, device_.get(), index);
    }
    writeThread_ = std::make_unique<TV24Write_Thread>(false, window, device_.get(), index);

    device_->SetupComm(empfangspuffer_, sendepuffer_);
    device_->GetState(previousDcb_);
    lastResult_ = device_->SetState(BuildDcb(working));
    device_->GetTimeouts(previousTimeouts_);
    device_->SetTimeouts(BuildTimeouts(working));

    keinString_ = working.KeinString != 0;
    handshake_ = static_cast<HandshakeTag>(working.Handshake);
    notifyDelay_ = Milliseconds(working.RXNotification);
    readThread_->SetNotifyDelay(static_cast<std::uint32_t>(notifyDelay_));
    readThread_->Resume();
    return device_.get();
}

void TComPort::Close() {
    if (!open_ || !device_) {
        return;
    }
    readThread_->Terminate();
    // Ends the watch's wait now instead of within its second, and a write
    // that has no time limit of its own.
    device_->CancelIo();
    readThread_->WaitFor();
    writeThread_->Terminate();
    writeThread_->WaitFor();

    previousDcb_.fNull = false;
    ApplyState(previousDcb_, Undrained::ApplyAnyway);
    device_->SetTimeouts(previousTimeouts_);
    device_->Close();
    open_ = false;
    readThread_->SetAktiv(false);
    readThread_.reset();
    writeThread_.reset();
    device_.reset();
}

std::string TComPort::FailureText() const {
    std::string text = portIndex_ < 0 ? std::string("serial port")
                                      : PortName(portIndex_) + " (" + devicePath_ + ")";
    if (failure_.Reason.empty()) {
        return text + ": no failure";
    }
    text += std::string(": ") + failure_.Operation + ": " + failure_.Reason;
    std::string name = platform::ErrorName(failure_.Error);
    return name.empty() ? text : text + " (" + name + ")";
}

int TComPort::Read(char* buffer, unsigned long count) {
    if (!open_) {
        failure_ = {"read", "port closed", 0, SerialResult::Closed};
        return V24_PORT_CLOSED;
    }
    if (buffer == nullptr) {
        return 0;
    }
    readThread_->SetAktiv(false);
    std::size_t got = 0;
    SerialResult result = device_->Read(buffer, std::min<unsigned long>(count, INT_MAX - 1), got);
    if (!keinString_) {
        buffer[got] = '\0';
    }
    if (result == SerialResult::HungUp || result == SerialResult::Failed) {
        failure_ = {"read", platform::SerialResultText(result), device_->LastError(), result};
        return V24_LINE_FAILED;
    }
    return static_cast<int>(got);
}

int TComPort::Write(const char* data, int count, bool async) {
    if (!open_) {
        failure_ = {"write", "port closed", 0, SerialResult::Closed};
        return V24_PORT_CLOSED;
    }
    if (data == nullptr || count < -1) {
        return 0;
    }
    std::size_t length = count == -1 ? std::strlen(data) : static_cast<std::size_t>(count);
    std::size_t framing = handshake_ == ZNQ_XonXoff ? 2 : 0;
    if (length + framing > staging_.size()) {
        failure_ = {"write", "block too long", 0, SerialResult::Rejected};
        return 0;
    }
    char* out = staging_.data();
    if (framing != 0) {
        *out++ = XOFF;
    }
    std::memcpy(out, data, length);
    if (framing != 0) {
        out[length] = XON;
    }
    int result = writeThread_->Submit(staging_.data(), static_cast<int>(length + framing), async);
    if (result < 0 || (result == 0 && length + framing > 0)) {
        NoteWriteFailure(result);
    } else {
        bytesWritten_ += static_cast<std::uint64_t>(result);
    }
    return result;
}

void TComPort::NoteWriteFailure(int result) {
    switch (result) {
    case V24_LINE_FAILED: {
        TLineFailure line = writeThread_->Failure();
        failure_ = {"write", platform::SerialResultText(line.Result), line.Error, line.Result};
        break;
    }
    case V24_TX_BUSY:
        failure_ = {"write", "busy with an earlier block", 0, SerialResult::Failed};
        break;
    case V24_SHORT_WRITE:
        failure_ = {"write", "short write", 0, SerialResult::Failed};
        break;
    default:
        failure_ = {"write", "refused", 0, SerialResult::Rejected};
        break;
    }
}

int TComPort::GetWriteStatus() {
    if (!open_) {
        return 0;
    }
    writeThread_->ClearError();
    return 1;
}

void TComPort::TXSuspend() {
    if (open_) {
        writeThread_->Suspend();
    }
}

bool TComPort::ClearBuffer(unsigned long flags) {
    return open_ && device_->Purge(static_cast<unsigned>(flags)) == SerialResult::Ok;
}

bool TComPort::DrainOutput() {
    if (!writeThread_->WaitIdle()) {
        lastResult_ = SerialResult::TimedOut;
        failure_ = {"line change", "a block is still being written", ETIMEDOUT,
                    SerialResult::TimedOut};
        return false;
    }
    SerialResult drained = device_->Drain();
    if (drained != SerialResult::Ok) {
        lastResult_ = drained;
        failure_ = {"line change",
                    std::string("output not drained: ") + platform::SerialResultText(drained),
                    device_->LastError(), drained};
        return false;
    }
    return true;
}

bool TComPort::ApplyState(const DCB& dcb, Undrained undrained) {
    const bool drained = DrainOutput();
    if (!drained && undrained == Undrained::Refuse) {
        return false;
    }
    const SerialResult applied = device_->SetState(dcb);
    if (drained || applied != SerialResult::Ok) {
        lastResult_ = applied;
    }
    return drained && applied == SerialResult::Ok;
}

bool TComPort::ChangeV24Parameter(BaudTag baud, StopBitTag stopBits, ParitaetTag parity,
                                  bool keinNullZeichen) {
    DCB dcb = LoadV24Parameter();
    if (!open_) {
        return false;
    }
    dcb.BaudRate = BaudRateOf(baud);
    dcb.StopBits = StopBitsOf(stopBits);
    dcb.Parity = ParityOf(parity);
    dcb.fNull = keinNullZeichen;
    if (!ApplyState(dcb)) {
        return false;
    }
    v24_.Record.Baudrate = baud;
    v24_.Record.StopBits = stopBits;
    v24_.Record.Paritaet = parity;
    v24_.Record.KeinNullZeichen = keinNullZeichen ? 1 : 0;
    return true;
}

bool TComPort::ChangeBaudrate(BaudTag baud) {
    DCB dcb = LoadV24Parameter();
    if (!open_) {
        return false;
    }
    dcb.BaudRate = BaudRateOf(baud);
    return ApplyState(dcb);
}

bool TComPort::ChangeHandShake(HandshakeTag handshake) {
    handshake_ = handshake;
    DCB dcb = LoadV24Parameter();
    if (!open_) {
        return false;
    }
    dcb.fOutX = false;
    dcb.fOutxCtsFlow = false;
    dcb.fRtsControl = platform::RTS_CONTROL_ENABLE;
    ApplyHandshake(dcb, handshake);
    return ApplyState(dcb);
}

bool TComPort::ChangeV24TimeOut(long rxConst, long txConst, long rxPerChar, long txPerChar) {
    if (!open_) {
        return false;
    }
    COMMTIMEOUTS timeouts = LoadV24TimeOut();
    if (rxConst != -1) {
        timeouts.ReadTotalTimeoutConstant = Milliseconds(rxConst);
    }
    if (txConst != -1) {
        timeouts.WriteTotalTimeoutConstant = Milliseconds(txConst);
    }
    if (rxPerChar != -1) {
        timeouts.ReadTotalTimeoutMultiplier = Milliseconds(rxPerChar);
        if (timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0) {
            timeouts.ReadTotalTimeoutConstant = 1;
        }
    }
    if (txPerChar != -1) {
        timeouts.WriteTotalTimeoutMultiplier = Milliseconds(txPerChar);
    }
    lastResult_ = device_->SetTimeouts(timeouts);
    if (lastResult_ != SerialResult::Ok) {
        return false;
    }
    V24ParameterTag& record = v24_.Record;
    if (rxConst != -1) {
        record.RXTimeOut = static_cast<std::int32_t>(Milliseconds(rxConst));
    }
    if (txConst != -1) {
        record.TXTimeOut = static_cast<std::int32_t>(Milliseconds(txConst));
    }
    if (rxPerChar != -1) {
        record.RXTimeOutproChar = static_cast<std::int32_t>(Milliseconds(rxPerChar));
    }
    if (txPerChar != -1) {
        record.TXTimeOutproChar = static_cast<std::int32_t>(Milliseconds(txPerChar));
    }
    return true;
}

void TComPort::ChangeRXNotifyDelay(unsigned long ms) {
    notifyDelay_ = ms;
    if (readThread_) {
        readThread_->SetNotifyDelay(
            static_cast<std::uint32_t>(std::min<unsigned long>(ms, UINT32_MAX)));
    }
}

DCB TComPort::LoadV24Parameter() {
    DCB dcb{};
    if (open_) {
        device_->GetState(dcb);
    }
    return dcb;
}

bool TComPort::SaveV24Parameter(const DCB* dcb) {
    if (!open_ || dcb == nullptr) {
        return false;
    }
    return ApplyState(*dcb);
}

COMMTIMEOUTS TComPort::LoadV24TimeOut() {
    COMMTIMEOUTS timeouts{};
    if (open_) {
        device_->GetTimeouts(timeouts);
    }
    return timeouts;
}

bool TComPort::SaveV24TimeOut(const COMMTIMEOUTS* timeouts) {
    if (!open_ || timeouts == nullptr) {
        return false;
    }
    return device_->SetTimeouts(*timeouts) == SerialResult::Ok;
}

void TComPort::SaveLastV24Parameter() {
    lastFilled_ = true;
    lastDcb_ = LoadV24Parameter();
    lastRecord_ = v24_.Record;
}

void TComPort::LoadLastV24Parameter() {
    if (!lastFilled_) {
        return;
    }
    if (open_) {
        ApplyState(lastDcb_, Undrained::ApplyAnyway);
    }
    v24_.Record = lastRecord_;
}

void TComPort::SetNewConfigPath(const char* directory) {
    configPath_ = directory != nullptr ? directory : "";
    if (!configPath_.empty() && configPath_.back() != '/') {
        configPath_ += '/';
    }
}

void TComPort::Check_AllV24() {
    deviceList_.fill(0);
    useableList_.fill(0);
    deviceCount_ = 0;
    useableCount_ = 0;
    for (int index = 0; index < MaxV24Ports; ++index) {
        std::string path = platform::PortDevicePath(index);
        if (path.empty()) {
            continue;
        }
        std::unique_ptr<platform::SerialDevice> device = factory_();
        SerialResult result = device->Open(path);
        if (result == SerialResult::Ok) {
            deviceList_[static_cast<std::size_t>(deviceCount_++)] = index;
            useableList_[static_cast<std::size_t>(useableCount_++)] = index;
            device->Close();
        } else if (result == SerialResult::AccessDenied) {
            deviceList_[static_cast<std::size_t>(deviceCount_++)] = index;
        }
    }
}

int TComPort::Get_DeviceV24(int i) const {
    return i >= 0 && i < deviceCount_ ? deviceList_[static_cast<std::size_t>(i)] : -1;
}

int TComPort::Get_UseableV24(int i) const {
    return i >= 0 && i < useableCount_ ? useableList_[static_cast<std::size_t>(i)] : -1;
}

void TComPort::Reset_SetAktiv() {
    if (readThread_) {
        readThread_->SetAktiv(false);
    }
}

} // namespace serial
