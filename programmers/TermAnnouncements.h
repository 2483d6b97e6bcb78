#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace programmers {

// Message numbers of the Basic-Loader's announcements.
namespace termmsg {
inline constexpr std::int32_t Abort = 2; // also an "I."/"B." reply numbered 2
inline constexpr std::int32_t LoaderBanner = 100;
inline constexpr std::int32_t LoaderVersion = 101;
inline constexpr std::int32_t FlashErased = 102;
inline constexpr std::int32_t FlashHalfErased = 103;
inline constexpr std::int32_t Programmed = 104;
inline constexpr std::int32_t WaitingForFile = 105;
inline constexpr std::int32_t SendPiece = 106;
inline constexpr std::int32_t RecordDefect = 108;
inline constexpr std::int32_t ReadySegment0 = 110;
inline constexpr std::int32_t ReadySegment1 = 111;
inline constexpr std::int32_t Erasing = 112;
} // namespace termmsg

struct TAnnouncement {
    std::string_view Text;
    std::int32_t Message;
};

// Searched in this order; the order decides the order of the messages.
inline constexpr std::array<TAnnouncement, 16> Announcements = {{
    {"Basic-Loader  |", termmsg::LoaderBanner},
    {"Basic-Loader / 1.01", termmsg::LoaderVersion},
    {"Basic-Loader / 1.02", termmsg::LoaderVersion},
    {"Flash-Memory erased !", termmsg::FlashErased},
    {"Flash-Memory (1/2) erased !", termmsg::FlashHalfErased},
    {"Flash-Memory programmed", termmsg::Programmed},
    {"Waiting for S-Record !", termmsg::WaitingForFile},
    {"S-Record defect!", termmsg::RecordDefect},
    {"Record defekt!", termmsg::RecordDefect},
    {"Ready PC ?  Seg=0", termmsg::ReadySegment0},
    {"Ready PC ?  Seg=1", termmsg::ReadySegment1},
    {"Erasing Flash-Memory (1) !", termmsg::Erasing},
    {"Erasing Flash-Memory (2) !", termmsg::Erasing},
    {"Flash-Memory (1) programmed !", termmsg::Programmed},
    {"Flash-Memory (2) programmed !", termmsg::Programmed},
    {std::string_view("\xA1\x48\x20\x14", 4), termmsg::Programmed},
}};

// The text the Basic-Loader has sent and the announcements found in it.
// Bytes are taken as they are, zero bytes included.
class TAnnouncementScanner {
public:
    static constexpr std::size_t Capacity = 4002;
    static constexpr std::size_t ReadChunk = 150;

    // Where the next read goes and how much it may bring (ReadChunk at
    // most); makes room first by dropping the oldest text.
    char* ReadPlace(std::size_t& room);
    // count bytes have arrived at ReadPlace. Each announcement found is
    // removed and its message appended, in table order.
    void Commit(std::size_t count, std::vector<std::int32_t>& messages);
    // Both in one, for text that is at hand.
    void Add(std::string_view bytes, std::vector<std::int32_t>& messages);

    std::string_view Text() const { return {text_.data(), length_}; }
    void Clear() { length_ = 0; }

private:
    std::array<char, Capacity + 1> text_{}; // the port ends a read with a zero byte
    std::size_t length_ = 0;
};

} // namespace programmers
