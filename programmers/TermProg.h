#pragma once

#include "programmers/Programmerunit.h"
#include "programmers/TermAnnouncements.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace programmers {

// The memory variant an instrument reports with reply 208 selects its
// Basic-Loader file: '0' the H file, any other the L file.
inline constexpr char HighMemoryVariant = '0';
const char* BasicLoaderFile(char memoryVariant);

// The Basic-Loader's context record: the instrument announces its steps in
// plain text and the S-record file goes out unchanged in pieces, each handed
// to the port's transmit thread. The run ends with the success announcement,
// or failed on an abort, a defective record, a short write or silence.
class TTermProg : public TProgrammerTyp {
public:
    static constexpr std::size_t PieceSize = 2000;
    static constexpr std::size_t MaxFileSize = 2500000;
    // Neither an announcement nor a piece taken for this long: the loader is gone.
    static constexpr std::uint32_t SilenceMs = 30000;
    // A refused piece is offered again after this pause.
    static constexpr std::uint32_t RetryMs = 5;

    explicit TTermProg(const TProgrammerContext& context);

    // fileName: the S-record file in the program folder, BasicLoaderFile of
    // the job's memory variant.
    TProgrammerResult Program(const std::string& fileName) override;
    // The window closes: nothing more is sent.
    void Stop();

protected:
    void Abort() override;
    bool OnCharsReceived(std::intptr_t port) override;
    bool TakesReply(std::int32_t id) const override;
    void OnReply(std::int32_t id, std::intptr_t data) override;
    void OnWatchdog() override;
    void OnLineFailure() override;
    void AwaitWork() override;

private:
    void Post(std::int32_t message);
    void LoadFile();
    void SendPiece();
    void Succeeded();
    // Abort text, stop flag; the run ends failed.
    void Aborted(TFailure failure);
    void TransmitError(TFailure failure);
    // 'H' for the high memory variant, else 'L'; then the second character.
    std::string TitleTag(char second) const;

    std::string fileName_;
    std::string file_;
    std::size_t sent_ = 0;
    std::uint8_t stop_ = 0;
    bool retryPending_ = false;
    TAnnouncementScanner scanner_;
};

} // namespace programmers
