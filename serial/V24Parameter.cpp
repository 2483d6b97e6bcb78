#include "serial/V24Parameter.h"

#include <cstdio>
#include <cstring>

namespace serial {

namespace {

constexpr std::uint32_t BaudRates[] = {1200,  2400,  4800,   9600,   19200,
                                       38400, 57600, 115200, 128000, 256000};

void Put32(V24ParameterTag::Bytes& bytes, std::size_t at, std::int32_t value) {
    auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

std::int32_t Get32(const V24ParameterTag::Bytes& bytes, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits |= std::uint32_t{bytes[at + i]} << (8 * i);
    }
    return static_cast<std::int32_t>(bits);
}

} // namespace

std::uint32_t BaudRateOf(std::int32_t baud) {
    if (baud < B__1200 || baud > B256000) {
        return 4800;
    }
    return BaudRates[baud];
}

V24ParameterTag::Bytes V24ParameterTag::ToBytes() const {
    Bytes bytes{};
    Put32(bytes, 0, DatenBits);
    Put32(bytes, 4, Paritaet);
    Put32(bytes, 8, StopBits);
    Put32(bytes, 12, Baudrate);
    Put32(bytes, 16, Handshake);
    Put32(bytes, 20, RXTimeOut);
    Put32(bytes, 24, TXTimeOut);
    Put32(bytes, 28, Schnittstelle);
    bytes[32] = KeinNullZeichen;
    bytes[33] = KeinString;
    bytes[34] = static_cast<std::uint8_t>(Reserved);
    bytes[35] = static_cast<std::uint8_t>(Reserved >> 8);
    Put32(bytes, 36, RXNotification);
    Put32(bytes, 40, RXTimeOutproChar);
    Put32(bytes, 44, TXTimeOutproChar);
    return bytes;
}

V24ParameterTag V24ParameterTag::FromBytes(const Bytes& bytes) {
    V24ParameterTag record;
    record.DatenBits = Get32(bytes, 0);
    record.Paritaet = Get32(bytes, 4);
    record.StopBits = Get32(bytes, 8);
    record.Baudrate = Get32(bytes, 12);
    record.Handshake = Get32(bytes, 16);
    record.RXTimeOut = Get32(bytes, 20);
    record.TXTimeOut = Get32(bytes, 24);
    record.Schnittstelle = Get32(bytes, 28);
    record.KeinNullZeichen = bytes[32];
    record.KeinString = bytes[33];
    record.Reserved = static_cast<std::uint16_t>(bytes[34] | (bytes[35] << 8));
    record.RXNotification = Get32(bytes, 36);
    record.RXTimeOutproChar = Get32(bytes, 40);
    record.TXTimeOutproChar = Get32(bytes, 44);
    return record;
}

void TV24Parameter::SetFile(const std::string& fileName, bool stream) {
    fileName_ = fileName;
    stream_ = stream;
}

bool TV24Parameter::Load() {
    if (!FileInUse()) {
        return true;
    }
    std::FILE* file = std::fopen(fileName_.c_str(), "rb");
    if (file == nullptr) {
        return Store();
    }
    Record.RXNotification = 0;
    V24ParameterTag::Bytes bytes = Record.ToBytes();
    std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (got > 0) {
        Record = V24ParameterTag::FromBytes(bytes);
    }
    return ok;
}

bool TV24Parameter::Store() const {
    if (!FileInUse()) {
        return true;
    }
    // Overwrite from offset 0 without truncating, as the file was written
    // before: a longer file keeps its tail.
    std::FILE* file = std::fopen(fileName_.c_str(), "r+b");
    if (file == nullptr) {
        file = std::fopen(fileName_.c_str(), "wb");
    }
    if (file == nullptr) {
        return false;
    }
    V24ParameterTag::Bytes bytes = Record.ToBytes();
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool TV24Parameter::Assign(const V24ParameterTag& record) {
    Record = record;
    return Store();
}

} // namespace serial
