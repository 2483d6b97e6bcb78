#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace programmers {

class TProgrammerHost;
struct TFailure;

// A binary firmware file as the device loader and the XMODEM bootloader take
// it: the file's bytes and 1..128 bytes of 0xFF, so that the padded data and
// a 6-byte trailer fill whole 128-byte blocks. Even a file that would fit
// exactly gets a full block of padding: the instruments expect it.
inline constexpr std::size_t ImageBlockSize = 128;
inline constexpr std::size_t ImageTrailerSize = 6;
// The loaders' image buffer: padded data and trailer must fit.
inline constexpr std::size_t ImageCapacity = 1500000;

struct TPaddedImage {
    std::vector<std::uint8_t> Bytes; // file + padding (+ trailer once appended)
    std::uint32_t FileSize = 0;
    std::uint32_t PaddedLength = 0; // file + padding
    std::uint32_t BlockCount = 0;   // 128-byte blocks of padded data + trailer
};

// Padding and block count for the bytes of a file.
TPaddedImage PadImage(std::vector<std::uint8_t> fileBytes);
// The largest file that fits ImageCapacity with padding and trailer.
std::size_t LargestImageFile();

enum class ImageReadResult { Ok, Unreadable, TooLarge };
// Reads and pads the file; TooLarge before any byte is kept.
ImageReadResult ReadPaddedImage(const std::string& path, TPaddedImage& image);

// ReadPaddedImage for a transfer of a file of the program folder (or a
// path): a file that cannot be read or is too large gets the file error box
// (naming its size when too large).
bool LoadTransferImage(TProgrammerHost& host, const std::string& name, TPaddedImage& image,
                       TFailure& failure);

// CRC-16/XMODEM over the padded data.
std::uint16_t ImageCrc(const TPaddedImage& image);
// Appends the padded length and the image CRC, both little-endian, so that
// the image fills BlockCount whole blocks.
void AppendTrailer(TPaddedImage& image);

} // namespace programmers
