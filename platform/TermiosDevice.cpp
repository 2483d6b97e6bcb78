#include "platform/TermiosDevice.h"

#include "platform/CustomBaud.h"
#include "platform/Tick.h"
#include "platform/WriteBound.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

struct TermiosDevice::FoundLine {
    termios Settings;
};

namespace {

// A read without any total time-out would block the caller for good; waiting
// for the first byte ends here instead.
constexpr std::uint32_t UnlimitedReadMs = 10000;
// While unread bytes sit in the queue, poll() cannot wait for more of them;
// the watch looks again at this pace, or at once when Read takes them.
constexpr int PendingInputCheckMs = 50;

struct SpeedCode {
    std::uint32_t baud;
    speed_t code;
};

constexpr SpeedCode StandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

speed_t StandardCode(std::uint32_t baud) {
    for (const SpeedCode& speed : StandardSpeeds) {
        if (speed.baud == baud) {
            return speed.code;
        }
    }
    return B0;
}

std::uint32_t StandardBaud(speed_t code) {
    for (const SpeedCode& speed : StandardSpeeds) {
        if (speed.code == code) {
            return speed.baud;
        }
    }
    return 0;
}

SerialResult OpenError(int error) {
    switch (error) {
    case EBUSY:
    case EACCES:
    case EPERM:
    case EWOULDBLOCK:
        return SerialResult::AccessDenied;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTDIR:
    case ENOTTY:
        return SerialResult::NotFound;
    default:
        return SerialResult::Failed;
    }
}

bool Unsupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

tcflag_t CharSize(std::uint8_t bits) {
    switch (bits) {
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
    if ((cflag & PARENB) == 0) {
        return NOPARITY;
    }
    bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) {
        return odd ? MARKPARITY : SPACEPARITY;
    }
    return odd ? ODDPARITY : EVENPARITY;
}

// A pty forces CS8 and clears PARENB, and glibc's tcsetattr may then say
// EINVAL although the rest was applied: that is the pty's limit, not ours.
bool AppliedApartFromFraming(int fd, const termios& wanted) {
    termios now{};
    if (tcgetattr(fd, &now) != 0) {
        return false;
    }
    constexpr tcflag_t framing = CSIZE | PARENB | PARODD | CMSPAR;
    return (now.c_cflag & ~framing) == (wanted.c_cflag & ~framing) &&
           now.c_iflag == wanted.c_iflag && cfgetospeed(&now) == cfgetospeed(&wanted) &&
           now.c_cc[VSTART] == wanted.c_cc[VSTART] && now.c_cc[VSTOP] == wanted.c_cc[VSTOP];
}

int MsUntil(std::uint32_t deadline) {
    auto left = static_cast<std::int32_t>(deadline - GetTickCount());
    return left < 0 ? 0 : left;
}

} // namespace

const char* SerialResultText(SerialResult result) {
    switch (result) {
    case SerialResult::Ok:
        return "ok";
    case SerialResult::AccessDenied:
        return "access denied";
    case SerialResult::NotFound:
        return "not found";
    case SerialResult::NotSupported:
        return "not supported";
    case SerialResult::HungUp:
        return "hung up";
    case SerialResult::Aborted:
        return "aborted";
    case SerialResult::Rejected:
        return "rejected";
    case SerialResult::Closed:
        return "closed";
    case SerialResult::TimedOut:
        return "timed out";
    case SerialResult::Failed:
        break;
    }
    return "failed";
}

std::string ErrorName(int error) {
    const char* name = error == 0 ? nullptr : strerrorname_np(error);
    return name != nullptr ? name : "";
}

TermiosDevice::TermiosDevice() = default;

TermiosDevice::~TermiosDevice() {
    Close();
}

SerialResult TermiosDevice::Fail(SerialResult result) {
    lastError_ = errno;
    return result;
}

SerialResult TermiosDevice::Open(const std::string& path) {
    if (fd_ >= 0) {
        return SerialResult::AccessDenied;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = errno;
        return OpenError(errno);
    }
    termios tio{};
    if (!isatty(fd) || tcgetattr(fd, &tio) != 0) {
        lastError_ = errno;
        ::close(fd);
        return OpenError(lastError_);
    }
    // TIOCEXCL keeps other users out but not root; flock keeps out every
    // program that asks before it opens, root included.
    ioctl(fd, TIOCEXCL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastError_ = errno;
        ::close(fd);
        return OpenError(lastError_);
    }
    int cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int readFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd < 0 || readFd < 0) {
        lastError_ = errno;
        ::close(fd);
        ::close(cancelFd);
        ::close(readFd);
        return SerialResult::Failed;
    }
    found_ = std::make_unique<FoundLine>(FoundLine{tio});
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);

    fd_ = fd;
    cancelFd_ = cancelFd;
    readFd_ = readFd;
    cancelled_ = false;
    lastError_ = 0;
    consumed_ = 0;
    known_ = 0;
    hangupReported_ = false;

    std::lock_guard lock(mutex_);
    dcb_ = DCB{};
    dcb_.DCBlength = 28;
    dcb_.fBinary = true;
    if (!GetActualBaud(fd_, dcb_.BaudRate)) {
        dcb_.BaudRate = StandardBaud(cfgetospeed(&tio));
    }
    dcb_.ByteSize = ByteSizeOf(tio.c_cflag);
    dcb_.Parity = ParityOf(tio.c_cflag);
    dcb_.StopBits = (tio.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
    bool hardware = (tio.c_cflag & CRTSCTS) != 0;
    dcb_.fOutxCtsFlow = hardware;
    dcb_.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb_.fDtrControl = DTR_CONTROL_ENABLE;
    dcb_.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb_.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    timeouts_ = COMMTIMEOUTS{};
    pendingErrors_ = 0;
    hasCounters_ = ReadCounters(counters_);
    return SerialResult::Ok;
}

void TermiosDevice::Close() {
    if (fd_ < 0) {
        return;
    }
    RestoreOriginalSettings();
    ioctl(fd_, TIOCNXCL);
    ::close(fd_); // also drops the flock
    ::close(cancelFd_);
    ::close(readFd_);
    fd_ = -1;
    cancelFd_ = -1;
    readFd_ = -1;
}

void TermiosDevice::RestoreOriginalSettings() {
    // The last bytes must leave at the speed they were written with; a line
    // held by flow control must not hold the close, hence the short bound.
    constexpr std::uint32_t CloseDrainMs = 500;
    WaitForEmptyOutput(CloseDrainMs);
    // The next program finds the line as this one found it; a line that
    // hung up refuses, and then there is nothing to give back.
    if (found_) {
        tcsetattr(fd_, TCSANOW, &found_->Settings);
    }
}

int TermiosDevice::QueuedOutput() const {
    int queued = 0;
    return ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

bool TermiosDevice::WaitForEmptyOutput(std::uint32_t boundMs) {
    // Polled, not tcdrain: a queue held by XOFF or CTS would keep tcdrain
    // waiting for ever.
    constexpr int StepMs = 2;
    const std::uint32_t deadline = GetTickCount() + boundMs;
    while (QueuedOutput() > 0) {
        int left = MsUntil(deadline);
        if (left == 0) {
            return false;
        }
        poll(nullptr, 0, std::min(left, StepMs));
    }
    return true;
}

SerialResult TermiosDevice::Drain() {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    DCB dcb;
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard lock(mutex_);
        dcb = dcb_;
        timeouts = timeouts_;
    }
    const auto queued = static_cast<std::size_t>(QueuedOutput());
    if (!WaitForEmptyOutput(WriteBoundMs(dcb, timeouts, queued))) {
        lastError_ = ETIMEDOUT;
        return SerialResult::TimedOut;
    }
    // The driver's queue is empty; tcdrain waits for the characters still in
    // the UART. Where RTS/CTS may hold them there, the wait has no bound.
    if (!dcb.fOutxCtsFlow && dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) {
        tcdrain(fd_);
    }
    return SerialResult::Ok;
}

SerialResult TermiosDevice::GetState(DCB& dcb) {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    std::lock_guard lock(mutex_);
    dcb = dcb_;
    return SerialResult::Ok;
}

SerialResult TermiosDevice::SetState(const DCB& dcb) {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    // Linux has no 1.5 stop bits; Windows refuses them with 7 or 8 data bits too.
    if (dcb.StopBits > TWOSTOPBITS || dcb.StopBits == ONE5STOPBITS || dcb.ByteSize < 5 ||
        dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY || dcb.BaudRate == 0) {
        lastError_ = EINVAL;
        return SerialResult::NotSupported;
    }
    std::lock_guard lock(mutex_);
    termios old{};
    if (tcgetattr(fd_, &old) != 0) {
        return Fail(errno == EIO ? SerialResult::HungUp : SerialResult::Failed);
    }
    termios tio = old;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CharSize(dcb.ByteSize) | ParityFlags(dcb.Parity) | CLOCAL | CREAD;
    if (dcb.StopBits == TWOSTOPBITS) {
        tio.c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        tio.c_cflag |= CRTSCTS;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    tio.c_iflag |= (dcb.fOutX ? IXON : 0) | (dcb.fInX ? IXOFF : 0) | (dcb.fParity ? INPCK : 0);
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    speed_t code = StandardCode(dcb.BaudRate);
    if (code != B0) {
        cfsetispeed(&tio, code);
        cfsetospeed(&tio, code);
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        int error = errno;
        if (!(error == EINVAL && AppliedApartFromFraming(fd_, tio))) {
            lastError_ = error;
            return error == EIO ? SerialResult::HungUp : SerialResult::Rejected;
        }
    }
    if (code == B0 && !SetCustomBaud(fd_, dcb.BaudRate)) {
        int error = errno;
        tcsetattr(fd_, TCSANOW, &old);
        lastError_ = error;
        return SerialResult::NotSupported;
    }
    ApplyModemLines(dcb);
    dcb_ = dcb;
    return SerialResult::Ok;
}

SerialResult TermiosDevice::ApplyModemLines(const DCB& dcb) {
    int set = 0;
    int clear = 0;
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE) {
        set |= TIOCM_RTS;
    } else if (dcb.fRtsControl == RTS_CONTROL_DISABLE) {
        clear |= TIOCM_RTS;
    }
    if (dcb.fDtrControl == DTR_CONTROL_ENABLE) {
        set |= TIOCM_DTR;
    } else if (dcb.fDtrControl == DTR_CONTROL_DISABLE) {
        clear |= TIOCM_DTR;
    }
    // A pty has no modem lines; the line settings still hold.
    if ((set != 0 && ioctl(fd_, TIOCMBIS, &set) != 0) ||
        (clear != 0 && ioctl(fd_, TIOCMBIC, &clear) != 0)) {
        return Fail(SerialResult::NotSupported);
    }
    return SerialResult::Ok;
}

SerialResult TermiosDevice::GetTimeouts(COMMTIMEOUTS& timeouts) {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    std::lock_guard lock(mutex_);
    timeouts = timeouts_;
    return SerialResult::Ok;
}

SerialResult TermiosDevice::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return SerialResult::Ok;
}

SerialResult TermiosDevice::SetupComm(std::uint32_t, std::uint32_t) {
    // The tty layer sizes its own buffers.
    return fd_ < 0 ? SerialResult::Closed : SerialResult::Ok;
}

bool TermiosDevice::WaitFor(short events, int timeoutMs, bool cancellable, short& revents) {
    revents = 0;
    pollfd fds[2] = {{fd_, events, 0}, {cancelFd_, POLLIN, 0}};
    if (cancellable && Cancelled()) {
        return false;
    }
    int rc = poll(fds, cancellable ? 2 : 1, timeoutMs);
    if (rc <= 0) {
        return false;
    }
    revents = fds[0].revents;
    return !(cancellable && fds[1].revents != 0);
}

SerialResult TermiosDevice::Read(void* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    if (count == 0) {
        return SerialResult::Ok;
    }
    COMMTIMEOUTS timeouts;
    bool dropNul;
    {
        std::lock_guard lock(mutex_);
        timeouts = timeouts_;
        dropNul = dcb_.fNull;
    }
    std::uint64_t total = timeouts.ReadTotalTimeoutConstant +
                          std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * count;
    if (total == 0) {
        total = timeouts.ReadIntervalTimeout == MAXDWORD ? 0 : UnlimitedReadMs;
    }
    const std::uint32_t deadline =
        GetTickCount() + static_cast<std::uint32_t>(std::min<std::uint64_t>(total, INT32_MAX));
    auto* bytes = static_cast<char*>(buffer);
    for (;;) {
        ssize_t n = ::read(fd_, bytes, count);
        if (n > 0) {
            consumed_ += static_cast<std::size_t>(n);
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t w = ::write(readFd_, &one, sizeof one);
            char* end = bytes + n;
            if (dropNul) {
                end = std::remove(bytes, end, '\0');
            }
            got = static_cast<std::size_t>(end - bytes);
            if (got > 0) {
                return SerialResult::Ok;
            }
            continue;
        }
        if (n == 0 || errno == EIO) {
            lastError_ = n == 0 ? 0 : errno;
            return SerialResult::HungUp;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return Fail(SerialResult::Failed);
        }
        int left = MsUntil(deadline);
        if (left == 0) {
            return SerialResult::Ok;
        }
        short revents = 0;
        bool ready = WaitFor(POLLIN, left, true, revents);
        if (Cancelled()) {
            return SerialResult::Aborted;
        }
        if (ready && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (revents & POLLIN) == 0) {
            lastError_ = 0;
            return SerialResult::HungUp;
        }
    }
}

SerialResult TermiosDevice::Write(const void* data, std::size_t count, std::size_t& written) {
    written = 0;
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard lock(mutex_);
        timeouts = timeouts_;
    }
    std::uint64_t total = timeouts.WriteTotalTimeoutConstant +
                          std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * count;
    const bool unlimited = total == 0;
    const std::uint32_t deadline =
        GetTickCount() + static_cast<std::uint32_t>(std::min<std::uint64_t>(total, INT32_MAX));
    const auto* bytes = static_cast<const char*>(data);
    while (written < count) {
        ssize_t n = ::write(fd_, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EIO) {
            return Fail(SerialResult::HungUp);
        }
        if (n < 0 && errno != EAGAIN) {
            return Fail(SerialResult::Failed);
        }
        int left = unlimited ? -1 : MsUntil(deadline);
        if (left == 0) {
            return SerialResult::Ok; // short write: the time-out ran out
        }
        short revents = 0;
        bool ready = WaitFor(POLLOUT, left, unlimited, revents);
        if (unlimited && Cancelled()) {
            return SerialResult::Aborted;
        }
        if (ready && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            lastError_ = 0;
            return SerialResult::HungUp;
        }
    }
    return SerialResult::Ok;
}

bool TermiosDevice::NewInputArrived() {
    int avail = 0;
    if (ioctl(fd_, FIONREAD, &avail) != 0 || avail < 0) {
        avail = 0;
    }
    // Bytes the reader took since the last look are no longer "known".
    std::size_t taken = consumed_.exchange(0);
    known_ = known_ > taken ? known_ - taken : 0;
    auto now = static_cast<std::size_t>(avail);
    known_ = std::min(known_, now);
    if (now > known_) {
        known_ = now;
        return true;
    }
    return false;
}

bool TermiosDevice::ReadCounters(Counters& counters) {
    serial_icounter_struct icount{};
    if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) {
        return false;
    }
    counters = {icount.frame, icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
    return true;
}

void TermiosDevice::CollectLineErrors() {
    std::lock_guard lock(mutex_);
    Counters now;
    if (!hasCounters_ || !ReadCounters(now)) {
        return;
    }
    unsigned errors = 0;
    errors |= now.frame != counters_.frame ? CE_FRAME : 0u;
    errors |= now.overrun != counters_.overrun ? CE_OVERRUN : 0u;
    errors |= now.parity != counters_.parity ? CE_RXPARITY : 0u;
    errors |= now.brk != counters_.brk ? CE_BREAK : 0u;
    errors |= now.bufOverrun != counters_.bufOverrun ? CE_RXOVER : 0u;
    counters_ = now;
    pendingErrors_ |= errors;
}

unsigned TermiosDevice::WaitEvent(unsigned mask, std::uint32_t timeoutMs) {
    if (fd_ < 0) {
        return 0;
    }
    const std::uint32_t deadline = GetTickCount() + timeoutMs;
    unsigned reportedErrors = 0;
    {
        std::lock_guard lock(mutex_);
        reportedErrors = pendingErrors_;
    }
    for (;;) {
        if (Cancelled()) {
            return 0;
        }
        unsigned events = 0;
        bool pending = false;
        if ((mask & EV_RXCHAR) != 0) {
            events |= NewInputArrived() ? EV_RXCHAR : 0u;
            pending = known_ > 0;
        }
        if ((mask & EV_ERR) != 0) {
            CollectLineErrors();
            std::lock_guard lock(mutex_);
            events |= (pendingErrors_ & ~reportedErrors) != 0 ? EV_ERR : 0u;
        }
        if (events != 0) {
            return events;
        }
        int left = MsUntil(deadline);
        if (left == 0) {
            return 0;
        }
        pollfd fds[3] = {{fd_, static_cast<short>(pending ? 0 : POLLIN), 0},
                         {cancelFd_, POLLIN, 0},
                         {readFd_, POLLIN, 0}};
        poll(fds, 3, pending ? std::min(left, PendingInputCheckMs) : left);
        if (fds[2].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(readFd_, &count, sizeof count);
        }
        short revents = fds[0].revents;
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            if ((mask & EV_HANGUP) != 0 && !hangupReported_) {
                hangupReported_ = true;
                return EV_HANGUP;
            }
            // A line that went away stays readable for ever; sleep out the
            // wait instead of turning round on it.
            pollfd cancel = {cancelFd_, POLLIN, 0};
            if (!Cancelled()) {
                poll(&cancel, 1, MsUntil(deadline));
            }
            return 0;
        }
    }
}

unsigned TermiosDevice::ClearError() {
    if (fd_ < 0) {
        return 0;
    }
    CollectLineErrors();
    std::lock_guard lock(mutex_);
    unsigned errors = pendingErrors_;
    pendingErrors_ = 0;
    return errors;
}

SerialResult TermiosDevice::Purge(unsigned flags) {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    bool rx = (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) != 0;
    bool tx = (flags & (PURGE_TXCLEAR | PURGE_TXABORT)) != 0;
    if (!rx && !tx) {
        return SerialResult::Ok;
    }
    int queue = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    return tcflush(fd_, queue) == 0 ? SerialResult::Ok : Fail(SerialResult::Failed);
}

SerialResult TermiosDevice::EscapeCommFunction(unsigned function) {
    if (fd_ < 0) {
        return SerialResult::Closed;
    }
    int rc = -1;
    int line = 0;
    switch (function) {
    case SETRTS:
    case CLRRTS:
        line = TIOCM_RTS;
        rc = ioctl(fd_, function == SETRTS ? TIOCMBIS : TIOCMBIC, &line);
        break;
    case SETDTR:
    case CLRDTR:
        line = TIOCM_DTR;
        rc = ioctl(fd_, function == SETDTR ? TIOCMBIS : TIOCMBIC, &line);
        break;
    case SETBREAK:
        rc = ioctl(fd_, TIOCSBRK);
        break;
    case CLRBREAK:
        rc = ioctl(fd_, TIOCCBRK);
        break;
    default:
        lastError_ = EINVAL;
        return SerialResult::NotSupported;
    }
    if (rc == 0) {
        return SerialResult::Ok;
    }
    return Fail(Unsupported(errno) ? SerialResult::NotSupported : SerialResult::Failed);
}

void TermiosDevice::CancelIo() {
    cancelled_ = true;
    if (cancelFd_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(cancelFd_, &one, sizeof one);
    }
}

} // namespace platform
