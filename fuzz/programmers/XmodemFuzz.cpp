// The bootloader's side of an XMODEM upload as arbitrary bytes: the
// checksum report text, then the receiver's answers in pieces of arbitrary
// size, now and then followed by the receiver's silence. The sender must
// only ever write a whole packet or one EOT, never build past its image, and
// never go back to an earlier state.
#include "programmers/Emf_loadunit.h"
#include "programmers/XmodemSender.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using programmers::TXmodemSender;
    if (size == 0) {
        return 0;
    }
    const std::size_t textLength = std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string text(reinterpret_cast<const char*>(data + 1), textLength);
    std::uint32_t checksum = 0;
    if (programmers::ParseImageChecksum(text.c_str(), checksum) && std::strlen(text.c_str()) > 8) {
        std::abort();
    }

    static const std::vector<std::uint8_t> image(5 * TXmodemSender::BlockSize, 0xA5);
    TXmodemSender sender;
    if (!sender.Start(image)) {
        std::abort();
    }
    // A whole packet numbered as built, or one EOT; never back, never past
    // the image.
    auto check = [&](std::span<const std::uint8_t> reply, TXmodemSender::State before) {
        const bool packet = reply.size() == TXmodemSender::PacketSize &&
                            reply[0] == TXmodemSender::Soh &&
                            reply[1] == static_cast<std::uint8_t>(sender.PacketsBuilt());
        const bool eot = reply.size() == 1 && reply[0] == TXmodemSender::Eot;
        if ((!reply.empty() && !packet && !eot) || sender.GetState() < before ||
            sender.PacketsBuilt() > sender.PacketCount()) {
            std::abort();
        }
    };
    std::size_t at = 1 + textLength;
    while (at < size) {
        // Its high bit: the receiver falls silent after the piece.
        const std::uint8_t control = data[at];
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + control % 4);
        auto before = sender.GetState();
        check(sender.OnReceived({data + at, piece}), before);
        at += piece;
        if ((control & 0x80) != 0) {
            before = sender.GetState();
            check(sender.OnQuiet(), before);
            if (sender.AwaitsQuiet()) {
                std::abort(); // the silence decides everything
            }
        }
    }
    return 0;
}
