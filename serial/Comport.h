#pragma once

#include "platform/Component.h"
#include "platform/Dialogs.h"
#include "platform/Message.h"
#include "platform/SerialDevice.h"
#include "serial/V24Parameter.h"
#include "serial/V24Threads.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace serial {

using platform::COMMTIMEOUTS;
using platform::DCB;

// What Open returns: the open device, or INVALID_HANDLE_VALUE.
using HANDLE = platform::SerialDevice*;
inline constexpr HANDLE INVALID_HANDLE_VALUE = nullptr;

// Result codes of Read and Write.
constexpr int V24_PORT_CLOSED = -10;
constexpr int V24_TX_BUSY = -1;
constexpr int V24_SHORT_WRITE = -100;
// The line hung up or the driver failed; FailureText() tells which and why.
constexpr int V24_LINE_FAILED = -20;

// Why Open failed, for the box that the application shows.
struct TOpenFailure {
    int PortIndex = -1;
    std::string Path; // the device tried; empty when the port maps to none
    platform::SerialResult Result = platform::SerialResult::Ok;
    int Error = 0; // errno, 0 when there was none
};

constexpr int MaxV24Ports = 256;

// One serial port (V24) with its parameter record, its receive watch and its
// transmit thread. Called from the loop thread only.
class TComPort : public platform::TComponent {
public:
    using DeviceFactory = std::function<std::unique_ptr<platform::SerialDevice>()>;
    using OpenFailureHandler = std::function<void(const TOpenFailure&)>;

    // Without a factory the port uses termios devices. Runs Check_AllV24.
    explicit TComPort(platform::TComponent* owner, std::string name = {},
                      DeviceFactory factory = {});
    ~TComPort() override;
    const char* ClassName() const override { return "TComPort"; }

    // Published properties.
    TDlgParameter* V24Dialog() { return &dialogFlags_; }
    void SetV24Dlg(const TDlgParameter* flags);
    TV24Parameter* V24() { return &v24_; }
    void SetV24(const TV24Parameter* parameter);
    bool StreamOn() const { return streamOn_; }
    void SetStreamOn(bool on) { streamOn_ = on; }
    bool AutoSearch() const { return autoSearch_; }
    void SetAutoSearch(bool on) { autoSearch_ = on; }
    const std::string& Datei() const { return datei_; }
    void SetDatei(const std::string& name) { datei_ = name; }
    std::uint32_t Sendepuffer() const { return sendepuffer_; }
    void SetSendepuffer(std::uint32_t bytes) { sendepuffer_ = bytes; }
    std::uint32_t Empfangspuffer() const { return empfangspuffer_; }
    void SetEmpfangspuffer(std::uint32_t bytes) { empfangspuffer_ = bytes; }

    // 0 German, any other value English.
    void SetLanguage(int language) { language_ = language; }
    int Language() const { return language_; }
    // Where the settings dialog shows its boxes.
    void SetDialogs(platform::Dialogs* dialogs) { dialogs_ = dialogs; }
    void SetDeviceFactory(DeviceFactory factory);
    // Told when Open fails with showError set; the application words the box.
    void SetOnOpenFailure(OpenFailureHandler handler) { onOpenFailure_ = std::move(handler); }
    const TOpenFailure& LastOpenFailure() const { return openFailure_; }

    // Shows the settings dialog (V24Dialog.cpp); on OK stores the record and
    // reopens an open port with it. Returns 1 (OK) or 2 (cancel).
    int OpenDialog(platform::TComponent* owner);

    void InitParameter(const V24ParameterTag* record, bool autoSearch);
    V24ParameterTag* GetV24Parameter();

    // port -1 takes the record's Schnittstelle. Messages go to window, or as
    // thread messages when window is 0.
    HANDLE Open(platform::HWND window, unsigned long threadId, int port, bool showError);
    void Close();
    bool IsOpen() const { return open_; }
    // The device this port last had open no longer exists (unplugged, its
    // pty closed); a reopen then fails as hung up.
    bool DeviceGone() const;
    HANDLE Handle() const { return open_ ? device_.get() : INVALID_HANDLE_VALUE; }
    // Port index of the open port, -1 while closed.
    int PortIndex() const { return open_ ? portIndex_ : -1; }

    // buffer holds count + 1 bytes unless KeinString is set. 0 when nothing
    // arrived; V24_LINE_FAILED when the line hung up or failed.
    int Read(char* buffer, unsigned long count);
    // count -1: up to the terminating NUL. A block longer than the staging
    // buffer is refused with 0. V24_LINE_FAILED when the line hung up or failed.
    int Write(const char* data, int count, bool async);
    int GetWriteStatus();
    // Bytes handed to the line by Write since the component was made.
    std::uint64_t BytesWritten() const { return bytesWritten_; }
    void TXSuspend();
    bool ClearBuffer(unsigned long flags);

    // Every change of line settings first lets the bytes written leave the
    // line at the settings they were written for: a block still with the
    // transmit thread, then the driver's queue, each within WriteBoundMs.
    // The line changes return false when the port is closed, the output did
    // not leave in time (TimedOut) or the device refused the settings; the
    // port and the record are then unchanged, LastResult() tells why and
    // FailureText() names it.
    bool ChangeV24Parameter(BaudTag baud, StopBitTag stopBits, ParitaetTag parity,
                            bool keinNullZeichen);
    bool ChangeBaudrate(BaudTag baud);
    bool ChangeHandShake(HandshakeTag handshake);
    bool ChangeV24TimeOut(long rxConst, long txConst, long rxPerChar, long txPerChar);
    void ChangeRXNotifyDelay(unsigned long ms);
    unsigned long GetRXNotificationTime() const { return notifyDelay_; }
    platform::SerialResult LastResult() const { return lastResult_; }
    // Why the last Open, Read, Write or line change failed, for the log: the port,
    // its device and the reason, e.g. "COM3 (/dev/ttyUSB0): write: hung up (EIO)".
    std::string FailureText() const;
    // The same failure as the line and its errno (Ok and 0 when none).
    platform::SerialResult FailureResult() const { return failure_.Result; }
    int FailureErrno() const { return failure_.Error; }

    DCB LoadV24Parameter();
    bool SaveV24Parameter(const DCB* dcb);
    COMMTIMEOUTS LoadV24TimeOut();
    bool SaveV24TimeOut(const COMMTIMEOUTS* timeouts);
    void SaveLastV24Parameter();
    void LoadLastV24Parameter();

    // The folder of the parameter file; a separator is appended.
    void SetNewConfigPath(const char* directory);
    const std::string& ConfigPath() const { return configPath_; }

    // Probes COM1..COM256: the device list holds every port that exists, the
    // usable list those no other program holds.
    void Check_AllV24();
    int GetMaxV24Devices() const { return deviceCount_; }
    int GetMaxV24Useable() const { return useableCount_; }
    // Port index at entry i, -1 outside the list.
    int Get_DeviceV24(int i) const;
    int Get_UseableV24(int i) const;
    const std::int32_t* DeviceList() const { return deviceList_.data(); }

    void Reset_SetAktiv();
    void Reset_Events() {}

    // "COM3" for index 2.
    static std::string PortName(int index);

private:
    // What went wrong under the last failed Read or Write.
    struct Failure {
        const char* Operation = "";
        std::string Reason;
        int Error = 0;
        platform::SerialResult Result = platform::SerialResult::Ok;
    };

    // error: the device's errno when it refused.
    platform::SerialResult OpenDevice(platform::SerialDevice& device, int index, int& error);
    void ReportOpenFailure(int index, platform::SerialResult result, bool show);
    void NoteOpenFailure(int index, platform::SerialResult result, int error);
    // False, with the cause kept, when the output did not leave in time.
    bool DrainOutput();
    // undrained: what to do when the output did not leave in time. Giving
    // the port back applies the settings all the same.
    enum class Undrained { Refuse, ApplyAnyway };
    bool ApplyState(const DCB& dcb, Undrained undrained = Undrained::Refuse);
    void NoteWriteFailure(int result);

    DeviceFactory factory_;
    TDlgParameter dialogFlags_;
    TV24Parameter v24_;
    bool streamOn_ = false;
    bool autoSearch_ = false;
    std::string datei_ = "ComData.cfg";
    std::uint32_t sendepuffer_ = 32768;
    std::uint32_t empfangspuffer_ = 32768;

    std::unique_ptr<platform::SerialDevice> device_;
    bool open_ = false;
    int portIndex_ = -1;
    std::string devicePath_; // the device named by FailureText
    // The device of the last successful open, kept: a link may vanish with
    // its device.
    int openedIndex_ = -1;
    std::string openedPath_;
    Failure failure_;
    OpenFailureHandler onOpenFailure_;
    TOpenFailure openFailure_;
    std::string configPath_;
    bool keinString_ = false;
    HandshakeTag handshake_ = NoHandshake;
    platform::HWND window_ = 0;
    unsigned long threadId_ = 0;
    unsigned long notifyDelay_ = 0;
    std::unique_ptr<TV24Read_Thread> readThread_;
    std::unique_ptr<TV24Write_Thread> writeThread_;
    std::vector<char> staging_;

    std::array<std::int32_t, MaxV24Ports + 1> deviceList_{};
    std::array<std::int32_t, MaxV24Ports + 1> useableList_{};
    std::int32_t deviceCount_ = 0;
    std::int32_t useableCount_ = 0;

    DCB previousDcb_;
    COMMTIMEOUTS previousTimeouts_;
    DCB lastDcb_;
    V24ParameterTag lastRecord_;
    bool lastFilled_ = false;

    int language_ = 0;
    std::uint64_t bytesWritten_ = 0;
    platform::Dialogs* dialogs_ = nullptr;
    platform::SerialResult lastResult_ = platform::SerialResult::Ok;
};

// The line settings Open gives a record.
DCB BuildDcb(const V24ParameterTag& record);
COMMTIMEOUTS BuildTimeouts(const V24ParameterTag& record);

} // namespace serial
