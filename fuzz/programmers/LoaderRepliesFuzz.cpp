// Feeds arbitrary bytes, in pieces of arbitrary size, to the reply parsers
// of both MSP430 loaders. Every call must either take bytes or wait for
// more, a frame handed out must carry a correct checksum, and the buffer
// never holds more than it can.
#include "programmers/Bsl5xxFrame.h"
#include "programmers/BslFrame.h"
#include "programmers/Crc16.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace programmers;

template <class Parser, class Check>
void Run(const std::uint8_t* data, std::size_t size, Check check) {
    Parser parser;
    std::size_t at = 0;
    while (at < size) {
        // The first byte of each piece says how long the piece is.
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[at] % 300);
        const std::size_t fits = std::min(piece, parser.FreeSpace());
        std::copy_n(data + at, fits, parser.Free());
        parser.Commit(fits);
        at += piece;
        for (;;) {
            const std::size_t before = parser.Pending();
            auto reply = parser.Next();
            if (!reply) {
                break;
            }
            if (parser.Pending() >= before) {
                std::abort(); // a reply that took nothing would loop for ever
            }
            check(*reply);
        }
        if (parser.Pending() > TReplyBuffer::Capacity) {
            std::abort();
        }
        if (parser.FreeSpace() == 0) {
            parser.Clear(); // as the programmers do
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Run<TBsl5xxReplyParser>(data, size, [](const TBsl5xxReply& reply) {
        if (reply.What == TBsl5xxReply::Kind::Data || reply.What == TBsl5xxReply::Kind::Message) {
            const std::size_t core = reply.Frame.CoreSize();
            if (core == 0 || core > bsl5xx::MaxCore ||
                Crc16(reply.Frame.Core(), core, Crc16InitBsl5xx) !=
                    (reply.Frame.Bytes[3 + core] | reply.Frame.Bytes[4 + core] << 8)) {
                std::abort();
            }
        }
    });
    Run<TBslReplyParser>(data, size, [](const TBslReply& reply) {
        if (reply.What == TBslReply::Kind::Frame) {
            const std::size_t body = reply.Frame.Size - rombsl::FrameOverhead;
            const std::uint16_t sum =
                BslChecksum(reply.Frame.Bytes.data(), body + rombsl::FrameHead);
            if (reply.Frame.Bytes[body + 4] != (sum & 0xFF) ||
                reply.Frame.Bytes[body + 5] != sum >> 8) {
                std::abort();
            }
        }
    });
    return 0;
}
