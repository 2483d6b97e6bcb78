#include "programmers/PaddedImage.h"

#include "programmers/Crc16.h"
#include "programmers/ProgramFile.h"
#include "programmers/Programmerunit.h"

#include <filesystem>
#include <fstream>

namespace programmers {

TPaddedImage PadImage(std::vector<std::uint8_t> fileBytes) {
    TPaddedImage image;
    image.FileSize = static_cast<std::uint32_t>(fileBytes.size());
    const std::size_t padding =
        ImageBlockSize - (fileBytes.size() + ImageTrailerSize) % ImageBlockSize;
    image.BlockCount =
        static_cast<std::uint32_t>((fileBytes.size() + ImageTrailerSize) / ImageBlockSize + 1);
    image.Bytes = std::move(fileBytes);
    image.Bytes.resize(image.Bytes.size() + padding, 0xFF);
    image.PaddedLength = static_cast<std::uint32_t>(image.Bytes.size());
    return image;
}

std::size_t LargestImageFile() {
    // Whole blocks only, and at least one byte of padding in the last.
    return ImageCapacity / ImageBlockSize * ImageBlockSize - ImageTrailerSize - 1;
}

ImageReadResult ReadPaddedImage(const std::string& path, TPaddedImage& image) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        return ImageReadResult::Unreadable;
    }
    const std::streamoff size = file.tellg();
    if (size < 0) {
        return ImageReadResult::Unreadable;
    }
    if (static_cast<std::size_t>(size) > LargestImageFile()) {
        return ImageReadResult::TooLarge;
    }
    file.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        return ImageReadResult::Unreadable;
    }
    image = PadImage(std::move(bytes));
    return ImageReadResult::Ok;
}

bool LoadTransferImage(TProgrammerHost& host, const std::string& name, TPaddedImage& image,
                       TFailure& failure) {
    std::string path;
    if (!ProgramFilePath(host, name, path, failure)) {
        return false;
    }
    std::string reason;
    switch (ReadPaddedImage(path, image)) {
    case ImageReadResult::Ok:
        return true;
    case ImageReadResult::Unreadable:
        reason = host.Text(ProgrammerText::FileUnreadable);
        break;
    case ImageReadResult::TooLarge: {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        reason = host.Text(ProgrammerText::FileTooLarge) + " " + std::to_string(size) +
                 " Bytes (max. " + std::to_string(LargestImageFile()) + ")";
        break;
    }
    }
    ShowFileErrorBox(host, path, reason);
    failure = FileFailure(path, reason);
    return false;
}

std::uint16_t ImageCrc(const TPaddedImage& image) {
    return Crc16(image.Bytes.data(), image.PaddedLength, Crc16InitXmodem);
}

void AppendTrailer(TPaddedImage& image) {
    const std::uint32_t length = image.PaddedLength;
    const std::uint16_t crc = ImageCrc(image);
    image.Bytes.resize(length);
    for (int shift = 0; shift < 32; shift += 8) {
        image.Bytes.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    image.Bytes.push_back(static_cast<std::uint8_t>(crc));
    image.Bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
}

} // namespace programmers
