#include "platform/WriteBound.h"

#include <algorithm>

namespace platform {

std::uint32_t WriteBoundMs(const DCB& dcb, const COMMTIMEOUTS& timeouts, std::size_t count) {
    constexpr std::uint64_t NoTimeoutMs = 1000;
    const std::uint64_t bitsPerByte = 1u + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1u : 0u) +
                                      (dcb.StopBits == ONESTOPBIT ? 1u : 2u);
    const std::uint64_t bytes = count;
    const std::uint64_t lineMs =
        dcb.BaudRate == 0 ? 0 : (bytes * bitsPerByte * 1000 + dcb.BaudRate - 1) / dcb.BaudRate;
    std::uint64_t writeMs = timeouts.WriteTotalTimeoutConstant +
                            std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * bytes;
    if (writeMs == 0) {
        writeMs = NoTimeoutMs;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(2 * lineMs + writeMs, INT32_MAX));
}

} // namespace platform
