#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

// The tokens of one reply line from the instrument.
struct ReplyLine {
    bool IsReply = false;          // has a prefix, or ends in "!" or "?"
    std::int32_t Number = 0;       // reply number after the prefix; 0 when there is none
    std::string ReplyText;         // the line after the prefix letter
    std::string HashText;          // the text after the first "#"
    bool HasInfoPrefix = false;    // "I." or "B."
    bool HasCommandPrefix = false; // "A." or "C."
    bool HasDollar = false;
    float DollarValue = 0;
    bool EndsWithBang = false;
    bool EndsWithQuestion = false;
};

ReplyLine ParseReplyLine(const std::string& line);

// Bytes received from the instrument, shared by all ports, bounded: when it
// is full without a line end, the oldest bytes make room.
class TRxBuffer {
public:
    static constexpr std::size_t Capacity = 1000;
    static constexpr std::size_t ReadChunk = 250;

    // NUL bytes become blanks.
    void Append(const char* data, std::size_t length);
    // The next line without its CR LF; false when none is complete.
    bool TakeLine(std::string& line);
    bool HasLineEnd() const;

    struct BootAnswer {
        enum Kind { None, Frame, Byte } What = None;
        std::string Text;   // Frame: the text inside the frame
        char Character = 0; // Byte: 0x90 or 'Q'
    };
    // A binary answer of a bootloader; a frame is removed from the buffer, a
    // single answer byte empties it.
    BootAnswer TakeBootAnswer();

    void Clear() { data_.clear(); }
    std::size_t Size() const { return data_.size(); }
    const std::string& Data() const { return data_; }

private:
    std::string data_;
};

} // namespace app
