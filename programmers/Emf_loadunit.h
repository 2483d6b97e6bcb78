#pragma once

#include "programmers/PaddedImage.h"
#include "programmers/Programmerunit.h"
#include "programmers/XmodemQuietTimer.h"
#include "programmers/XmodemSender.h"

#include <cstdint>
#include <span>
#include <string>

namespace programmers {

// How the session wants the XMODEM bootloader run. Whether the instrument
// already waits in its bootloader is the job's loader-mode field.
struct TXmodemSettings {
    std::int32_t Mode = 0;                  // 0..2: which bootloader-entry command
    bool AlternateEntry = false;            // mode 1 takes the two-stage entry of mode 2
    serial::BaudTag Baud = serial::B115200; // the bootloader's line unless the baud is kept
    std::int32_t DeviceFamily = 0;          // 2: 9600 8N2 after success instead of restoring
};

// The bootloader's checksum report: hexadecimal, at most 8 digits.
bool ParseImageChecksum(const char* text, std::uint32_t& value);

// Instruments whose processor carries a character-command bootloader: the
// firmware is asked to start it, then 'u' uploads the image over XMODEM-CRC,
// 'c' has the bootloader report its checksum and 'r' restarts the
// instrument, but only when that checksum is the image's.
class T_EMFLoader : public TProgrammerTyp {
public:
    // Where the run stands; each stage takes only its own answer.
    enum class Stage {
        Wake,        // "A.1000" sent: its acknowledge sends the entry command
        Entry,       // the entry command sent: its reply starts the bootloader
        SecondStage, // the second entry sent at 9600: its reply starts the bootloader
        Version,     // "A.2051" sent: reply 251 starts the upload
        Upload,      // 'u' sent: the XMODEM phase
        Checksum,    // 'c' sent: reply 1205 decides the restart
        Done,
    };

    T_EMFLoader(const TProgrammerContext& context, const TXmodemSettings& settings);

    // One command character; from bootloader 1.06 on the unlock line follows.
    virtual bool SendCommandChar(char c);
    TProgrammerResult Program(const std::string& fileName) override;

    bool UnlockNeeded() const { return Version106 != 0; }
    std::int32_t Mode() const { return Mode_; }
    Stage GetStage() const { return Stage_; }
    const std::string& BootloaderVersion() const { return VersionText; }

protected:
    void Abort() override;
    bool OnCharsReceived(std::intptr_t port) override;
    bool TakesReply(std::int32_t id) const override;
    bool TakesKey(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override;
    bool OnTimer(int slot) override;

private:
    void SendEntry();
    void OnEntryReply(const char* line);
    void StartBootloader();
    void SecondStageEntry();
    void CheckVersion(const char* text);
    // Reads what has arrived; false when the run ended meanwhile.
    bool ReadReceiver(std::string& input);
    // Hands what has arrived to the sender, or, when nothing has and the
    // quiet timer ran out, the receiver's silence.
    void XmodemStep(bool silenceExpired);
    void AnswerReceiver(std::span<const std::uint8_t> reply);
    std::uint32_t LineBaud() const;
    void CheckChecksum(const char* text);
    // text: the box's; cause and detail: the result's.
    void FailWith(const std::string& text, std::string cause, std::string detail = {});
    // Ends an upload the receiver will not finish: the cause names the
    // packet, and CAN tells the receiver, so that its bootloader takes
    // commands again for a retry.
    void FailUpload(ProgrammerText text, const std::string& cause);
    std::string PacketUnderWay() const;
    void ShowFailure();

    TXmodemSettings Settings;
    std::int32_t Mode_ = 0;
    Stage Stage_ = Stage::Wake;
    std::int32_t EntryReply = -1; // the number the entry command's reply carries
    TPaddedImage Image;
    std::uint16_t ImageCrc_ = 0;
    TXmodemSender Sender;
    TXmodemQuietTimer Quiet{Host.TimerPool()};
    std::uint8_t Version106 = 0;
    std::string FailureText; // the error box's text; empty until a failure names itself
    std::string VersionText; // as shown beside the software version
};

} // namespace programmers
