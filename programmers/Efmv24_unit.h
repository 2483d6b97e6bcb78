#pragma once

#include "programmers/PaddedImage.h"
#include "programmers/Programmerunit.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace programmers {

namespace efmv24 {
inline constexpr std::int32_t ProgTyp = 217;
inline constexpr std::uint32_t WatchdogMs = 8000;
// Storing the image takes the instrument a while.
inline constexpr std::uint32_t StoreWatchdogMs = 20000;
inline constexpr std::size_t LoaderTextMax = 20;
// The only block error the loader wants answered with the block again.
inline constexpr long RepeatBlock = 2;

// The number at the start of a block-error text; false when there is none.
bool BlockErrorNumber(const char* text, long& number);
// The loader's announcement, cut to what the size announcement quotes back.
std::string LoaderTextOf(const char* text);
std::string SizeAnnouncement(std::uint32_t imageLen, const std::string& loaderText);
// The head of a data-block command, up to its second comma.
std::string BlockHead(const std::uint8_t* bytes, std::size_t count);
// The whole data-block command: head, hexadecimal bytes, CR LF.
std::string BlockCommand(const std::uint8_t* bytes, std::size_t count);
std::string ClosingCommand(std::uint32_t imageLen, std::uint16_t crc, std::uint32_t stamp);
// Seconds from 2002-12-31 00:00 to 00:00 of the local day of now.
std::uint32_t DateStamp(std::time_t now);
} // namespace efmv24

// Programs instruments that carry their own loader: the image goes as
// hexadecimal text in device commands, driven by the replies the session's
// reply parser turns into events.
class TEFMV24_Prog : public TProgrammerTyp {
public:
    explicit TEFMV24_Prog(const TProgrammerContext& context);

    std::string FileText(const std::string& text) const { return text; }
    TProgrammerResult Program(const std::string& fileName) override;
    // A device command, written and logged; false when the line failed.
    virtual bool SendText(const char* text);

    std::int32_t ProgTyp() const { return efmv24::ProgTyp; }
    std::uint32_t ImageLen() const { return Image.PaddedLength; }
    std::uint32_t BlockCount() const { return Image.BlockCount; }
    const std::string& LoaderText() const { return LoaderText_; }

protected:
    // TProgrammerTyp
    void Abort() override;
    bool TakesReply(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override;

private:
    using Step = void (TEFMV24_Prog::*)();

    // A wait inside a step: acknowledges that arrive meanwhile are kept for
    // the step that follows, not run by the one that waits.
    void Pause(long ms);
    void RunWaitingAcks();
    void SendBaudCommand(int baud);
    // What a silence or a block error names: the command's head.
    void NoteCommand(const std::string& text);

    // The continuation chain, one step per positive reply.
    void BaudUp();
    void Restart();
    void Announce();
    void Block();
    void Close();
    void Store();
    void BaudDown();
    void Finish();
    // Replies 264 and 263.
    void LoaderAnnounced(const char* text);
    void BlockError(const char* text);

    TPaddedImage Image;
    std::uint32_t Sent = 0;
    std::uint8_t BaudChanged = 0;
    std::string LoaderText_;
    // The last block written, sent again when the loader asks for it.
    std::string RepeatBuffer;
    Step OnOk = nullptr;
    Step OnRefusal = nullptr;
    bool Busy = false;
    unsigned WaitingAcks = 0;
    std::string LastCommand;
};

} // namespace programmers
