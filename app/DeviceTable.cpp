#include "app/DeviceTable.h"

#include <cctype>

#include "kernel/Stringunit.h"

namespace app {

std::string TextColumn(const std::string& value, std::size_t width, bool& cut) {
    if (value.size() < width) {
        return value;
    }
    cut = true;
    return value.substr(0, width - 1);
}

std::string DeviceNrColumn(const std::string& value, bool& cut) {
    // Five-character numbers are the short form of "nnnnn.000".
    return TextColumn(value.size() == 5 ? value + ".000" : value, ColumnWidth::DeviceNr, cut);
}

int FileClassOf(const std::string& name, bool countBin) {
    int fileClass = 0;
    if (name.find(".TXT") != std::string::npos) {
        fileClass |= 1;
    }
    if (name.find(".EXE") != std::string::npos) {
        fileClass |= 2;
    }
    if (name.find(".HEX") != std::string::npos) {
        fileClass |= 3;
    }
    if (countBin && name.find(".BIN") != std::string::npos) {
        fileClass |= 4;
    }
    return fileClass;
}

std::string FileColumn(const std::string& value, std::size_t width, bool& cut) {
    return TextColumn(kernel::UpperAscii(value), width, cut);
}

std::string SWKennColumn(const std::string& value, bool& cut) {
    // The literal characters \r\n stand for a real line end, which also ends
    // the identification text.
    std::string text = value;
    std::size_t marker = text.find("\\r\\n");
    if (marker != std::string::npos) {
        text = text.substr(0, marker) + "\r\n";
    }
    return TextColumn(text, ColumnWidth::SWKenn, cut);
}

bool FlashEraseAddress(const std::string& value, std::uint32_t& address) {
    const std::size_t hex = value.find("0x");
    std::size_t at = hex != std::string::npos ? hex + 2 : value.find_first_not_of(" \t");
    const int base = hex != std::string::npos ? 16 : 10;
    std::uint64_t number = 0;
    for (; at < value.size(); ++at) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(value[at])));
        const int digit = c >= '0' && c <= '9'                 ? c - '0'
                          : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                               : -1;
        if (digit < 0) {
            break;
        }
        number = number * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (number > MaxFlashErase) {
            return false;
        }
    }
    address = static_cast<std::uint32_t>(number);
    return true;
}

std::uint32_t ProzTypColumn(const std::string& value) {
    // Read as a C scanner reads %x: blanks, then an optional 0x, then digits.
    std::size_t pos = value.find_first_not_of(" \t");
    if (pos == std::string::npos) {
        return 0;
    }
    if (value.compare(pos, 2, "0x") == 0 || value.compare(pos, 2, "0X") == 0) {
        pos += 2;
    }
    std::uint32_t result = 0;
    for (char c : value.substr(pos)) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            break;
        }
        result = result * 16 + static_cast<std::uint32_t>(digit);
    }
    return result;
}

} // namespace app
