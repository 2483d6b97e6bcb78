#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace serial {

// Ordinals are fixed: the record, ComData.cfg and form files hold them.
enum DatBitTag : std::int32_t { D_7 = 0, D_8 = 1 };
enum ParitaetTag : std::int32_t { NoParity = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum StopBitTag : std::int32_t { S_1 = 0, S1_5 = 1, S_2 = 2 };
enum BaudTag : std::int32_t {
    B__1200 = 0,
    B__2400,
    B__4800,
    B__9600,
    B_19200,
    B_38400,
    B_57600,
    B115200,
    B128000,
    B256000,
};
enum HandshakeTag : std::int32_t { NoHandshake = 0, RTS_CTS = 1, XonXoff = 2, ZNQ_XonXoff = 3 };
// Port index: the user sees COM{index + 1}. Com__1 .. Com256.
enum ComTag : std::int32_t { Com__1 = 0, Com__2, Com__3, Com__4, Com_10 = 9, Com256 = 255 };

// Baud rate of an ordinal; out-of-range ordinals (a damaged file) count as
// the default 4800.
std::uint32_t BaudRateOf(std::int32_t baud);

// The serial parameter record, and byte for byte the parameter file.
struct V24ParameterTag {
    std::int32_t DatenBits = D_8;
    std::int32_t Paritaet = NoParity;
    std::int32_t StopBits = S_1;
    std::int32_t Baudrate = B__4800;
    std::int32_t Handshake = NoHandshake;
    std::int32_t RXTimeOut = 0;
    std::int32_t TXTimeOut = 1000;
    std::int32_t Schnittstelle = Com__1;
    std::uint8_t KeinNullZeichen = 0; // booleans, kept as the file's bytes
    std::uint8_t KeinString = 0;
    std::uint16_t Reserved = 0;
    std::int32_t RXNotification = 0;
    std::int32_t RXTimeOutproChar = 0;
    std::int32_t TXTimeOutproChar = 0;

    static constexpr std::size_t Size = 48;
    using Bytes = std::array<std::uint8_t, Size>;
    // Little-endian, whatever the host.
    Bytes ToBytes() const;
    static V24ParameterTag FromBytes(const Bytes& bytes);

    bool operator==(const V24ParameterTag&) const = default;
};

// The record with the rules for keeping it in its file.
class TV24Parameter {
public:
    V24ParameterTag Record;

    // Loading and storing touch the file only with the stream flag set and a
    // name of at least 4 characters.
    void SetFile(const std::string& fileName, bool stream);
    void DropFileName() { fileName_.clear(); }
    bool Stream() const { return stream_; }
    void SetStream(bool stream) { stream_ = stream; }
    const std::string& FileName() const { return fileName_; }

    // Reads the file over the record: a missing file is created from the
    // record; a shorter one leaves the fields past its end as they are, with
    // RXNotification 0. False when the file could not be read or created.
    bool Load();
    // Copies a whole record in and stores it in the file.
    bool Assign(const V24ParameterTag& record);
    bool Store() const;

private:
    bool FileInUse() const { return stream_ && fileName_.size() > 3; }

    bool stream_ = false;
    std::string fileName_;
};

// Which fields the settings dialog lets the operator change, in the order
// they are stored.
struct TDlgParameter {
    bool DatenBits = false;
    bool Schnittstelle = false;
    bool Paritaet = false;
    bool StopBits = false;
    bool Baudrate = false;
    bool Handshake = false;
    bool RXTimeOut = false;
    bool RXTimeOutproChar = false;
    bool RXNotification = false;
    bool TXTimeOut = false;
    bool TXTimeOutproChar = false;
    bool KeinNullZeichen = false;
    bool KeinString = false;

    bool operator==(const TDlgParameter&) const = default;
};

} // namespace serial
