#pragma once

#include "programmers/PaddedImage.h"
#include "programmers/Programmerunit.h"
#include "programmers/XmodemSender.h"

#include <cstdint>
#include <string>

namespace programmers {

// How the session wants the XMODEM bootloader run.
struct TXmodemSettings {
    std::int32_t Mode = 0;                  // 0..2: which bootloader-entry command
    bool LoaderMode = false;                // the instrument already waits in its bootloader
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
    T_EMFLoader(const TProgrammerContext& context, const TXmodemSettings& settings);

    // One command character; from bootloader 1.06 on the unlock line follows.
    virtual bool SendCommandChar(char c);
    bool Program(const std::string& fileName) override;

    bool UnlockNeeded() const { return Version106 != 0; }
    std::int32_t Mode() const { return Mode_; }
    const std::string& BootloaderVersion() const { return VersionText; }

protected:
    void Abort() override { Fail(); }
    bool OnCharsReceived(std::intptr_t port) override;
    bool TakesReply(std::int32_t id) const override;
    bool TakesKey(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override { Fail(); }

private:
    void SendEntry();
    void StartBootloader();
    void SecondStageEntry();
    void CheckVersion(const char* text);
    void XmodemStep();
    void CheckChecksum(const char* text);
    void FailWith(const std::string& text);
    void ShowFailure();

    TXmodemSettings Settings;
    std::int32_t Mode_ = 0;
    TPaddedImage Image;
    std::uint16_t ImageCrc_ = 0;
    TXmodemSender Sender;
    std::uint8_t TransferMode = 0;
    std::uint8_t Version106 = 0;
    std::string FailureText; // the error box's text; empty until a failure names itself
    std::string VersionText; // as shown beside the software version
};

} // namespace programmers
