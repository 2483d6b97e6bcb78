// The texts the instrument's loader sends with replies 263 and 264, as the
// reply parser hands them over (up to 256 bytes, zero-terminated): the
// error number must be read without overflow, and the announcement text
// quoted back in the size announcement must stay within its bound and keep
// the command one line.
#include "programmers/Efmv24_unit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace programmers;

constexpr std::size_t ReplyTextArea = 256;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), std::min(size, ReplyTextArea - 1));
    const char* reply = text.c_str();

    long number = -1;
    if (efmv24::BlockErrorNumber(reply, number) && (number < 0 || number > 10000000)) {
        std::abort();
    }

    const std::string loaderText = efmv24::LoaderTextOf(reply);
    if (loaderText.size() > efmv24::LoaderTextMax || loaderText.find('\0') != std::string::npos) {
        std::abort();
    }
    const std::string announcement = efmv24::SizeAnnouncement(0xFFFFFFFFu, loaderText);
    if (announcement.rfind(protocol::command::DeviceLoaderSizePrefix, 0) != 0 ||
        announcement.size() < 2 || announcement.compare(announcement.size() - 2, 2, "\r\n") != 0) {
        std::abort();
    }

    // The bytes as a block: two uppercase digits each after the head.
    const std::size_t count = std::min<std::size_t>(size, ImageBlockSize);
    const std::string block = efmv24::BlockCommand(data, count);
    if (block.size() != efmv24::BlockHead(data, count).size() + 2 * count + 2) {
        std::abort();
    }
    return 0;
}
