#include "platform/SerialTermios.h"

#include <array>
#include <utility>

namespace platform {

namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 30> kSpeeds{{
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

tcflag_t DataBitsFlag(std::uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

tcflag_t ParityFlags(std::uint8_t parity) {
    switch (parity) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
    case MARKPARITY:
        return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

std::uint8_t ParityOf(tcflag_t cflag) {
    if (!(cflag & PARENB)) {
        return NOPARITY;
    }
    bool odd = cflag & PARODD;
    if (cflag & CMSPAR) {
        return odd ? MARKPARITY : SPACEPARITY;
    }
    return odd ? ODDPARITY : EVENPARITY;
}

} // namespace

std::optional<speed_t> StandardSpeed(std::uint32_t baudRate) {
    for (const auto& [baud, speed] : kSpeeds) {
        if (baud == baudRate) {
            return speed;
        }
    }
    return std::nullopt;
}

std::uint32_t BaudRateOfSpeed(speed_t speed) {
    for (const auto& [baud, constant] : kSpeeds) {
        if (constant == speed) {
            return baud;
        }
    }
    return 0;
}

void ApplyDcb(const DCB& dcb, termios& tio) {
    // Breaks are counted by the driver and reported as line errors; they
    // must not also appear as NUL bytes in the data.
    tio.c_iflag = IGNBRK;
    if (dcb.fParity) {
        tio.c_iflag |= INPCK;
    }
    if (dcb.fOutX) {
        tio.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        tio.c_iflag |= IXOFF;
    }
    tio.c_oflag = 0;
    tio.c_lflag = 0;

    tcflag_t cflag = CREAD | CLOCAL | DataBitsFlag(dcb.ByteSize) | ParityFlags(dcb.Parity);
    // Termios knows one or two stop bits; 1.5 (only valid with 5 data bits
    // on Windows) becomes two.
    if (dcb.StopBits != ONESTOPBIT) {
        cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        cflag |= CRTSCTS;
    }
    tio.c_cflag = cflag | (tio.c_cflag & CBAUD);

    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    if (auto speed = StandardSpeed(dcb.BaudRate)) {
        cfsetispeed(&tio, *speed);
        cfsetospeed(&tio, *speed);
    }
}

DCB DcbFromTermios(const termios& tio, std::uint32_t baudRate) {
    DCB dcb{};
    dcb.DCBlength = 28;
    dcb.BaudRate = baudRate;
    dcb.fBinary = true;
    dcb.fParity = tio.c_iflag & INPCK;
    dcb.fOutX = tio.c_iflag & IXON;
    dcb.fInX = tio.c_iflag & IXOFF;
    bool rtscts = tio.c_cflag & CRTSCTS;
    dcb.fOutxCtsFlow = rtscts;
    dcb.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.ByteSize = ByteSizeOf(tio.c_cflag);
    dcb.Parity = ParityOf(tio.c_cflag);
    dcb.StopBits = (tio.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return dcb;
}

bool SameExceptPtyLimits(const termios& wanted, const termios& actual) {
    constexpr tcflag_t ptyBits = PARENB | PARODD | CMSPAR | CSIZE;
    return wanted.c_iflag == actual.c_iflag && wanted.c_oflag == actual.c_oflag &&
           wanted.c_lflag == actual.c_lflag &&
           (wanted.c_cflag & ~ptyBits) == (actual.c_cflag & ~ptyBits) &&
           cfgetospeed(&wanted) == cfgetospeed(&actual);
}

} // namespace platform
