#pragma once

#include "programmers/Bsl430Config.h"
#include "programmers/ProgrammerRegistry.h"
#include "programmers/Programmerunit.h"
#include "programmers/TiTxtReader.h"

#include <cstdint>
#include <string>

namespace programmers {

// Error step of a refusal before the loader phase: "bootloader not available".
inline constexpr std::int32_t StepNotAvailable = 0;

// "1.60" read as a decimal number times 1000.01, truncated.
std::int32_t LoaderVersionNumber(const std::string& text);
// The hexadecimal number at the start of text (blanks and "0x" allowed);
// reading stops at the first other character, the end of the text or after
// limit characters. False when there is no digit.
bool ParseHexNumber(const char* text, std::size_t limit, std::uint32_t& value);
std::string HexText(unsigned value);

// What the MSP430 bootstrap-loader programmers share before their loaders
// speak: the device dialogue that asks the running instrument for its
// bootloader password and to start its loader, the settings file, the file
// error box and the bootloader error box. The loaders fill in the hooks.
class TBslDeviceDialogue : public TProgrammerTyp {
public:
    TBslDeviceDialogue(const TProgrammerContext& context, const TBslSettings& settings);

    // The bootloader error box for the current error step.
    virtual void ShowError();
    // A device command, written and logged; false when the line failed.
    virtual bool SendText(const char* text);
    virtual std::int32_t ErrorStep() const { return LastErrorStep; }

protected:
    static const char* PasswordQuery(std::int32_t variant);
    static const char* LoaderEntry(std::int32_t variant);

    // Acknowledged without a password query: take the default password.
    virtual void UseDefaultPassword() = 0;
    // Replies 80 and 81: the instrument's password text.
    virtual void TakePasswordReply(const char* text) = 0;
    // The password is known: keep it in the job for a later run.
    virtual void StorePassword() = 0;
    // Reply 10011 after the entry command: the instrument runs its loader.
    virtual void EnterLoaderFromDialogue() = 0;
    // The image is chosen by the chip the loader reports.
    virtual void OnImagePerChip();

    // Bsl430.ini; false after the file error box when it is there but
    // cannot be taken (missing: the built-in values).
    bool LoadConfig();
    // Reads a firmware or patch file of the program folder (or a path) and
    // parses it with read (text to TTiTxtResult); on failure the file error
    // box names the file.
    template <class Read>
    bool ReadImageFile(const std::string& name, Read read, TTiTxtResult& result) {
        std::string path;
        std::string content;
        if (!ReadFileText(name, path, content)) {
            return false;
        }
        result = read(content);
        if (!result.Ok()) {
            ShowFileError(path, TiTxtErrorText(result));
            return false;
        }
        return true;
    }
    bool ReadFileText(const std::string& name, std::string& path, std::string& content);
    void ShowFileError(const std::string& path, const std::string& reason);
    // The bytes read back equal the count bytes written at address; otherwise
    // the log and Difference name the first difference ("what: difference at 0x...").
    bool SameData(const std::uint8_t* written, std::size_t count, std::uint32_t address,
                  const std::uint8_t* read, std::size_t readCount, const std::string& what);

    // Ends the run as a failure of the current loader step.
    void FailStep(const std::string& what, std::string detail = {});

    // TProgrammerTyp
    void Abort() override;
    bool TakesReply(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;

    const TBslSettings Settings;
    TBsl430Config Config;
    std::uint8_t InLoader = 0;
    std::uint8_t PasswordKnown = 0;
    std::uint8_t QueryFirst = 0;
    std::int32_t Variant = 0;
    std::int32_t CurrentStep = StepNotAvailable;
    std::int32_t LastErrorStep = StepNotAvailable;
    bool FileErrorShown = false;
    std::string Difference; // the last one SameData found

private:
    void OnAcknowledge();
    void AcceptPassword();

    bool AckBusy = false; // the acknowledge handler is waiting; a second one is dropped
};

} // namespace programmers
