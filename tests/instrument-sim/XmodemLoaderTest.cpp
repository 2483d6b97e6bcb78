#include "../support/XmodemCrc.h"
#include "LoaderDriver.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

constexpr char kSoh = 0x01, kEot = 0x04, kAck = 0x06, kNak = 0x15;

using testing_support::XmodemCrc;

// One 128-byte image: 122 bytes, then the length 122 and the CRC over them,
// both little-endian; crcFix changes the CRC field.
std::string OneBlockImage(std::uint16_t crcFix = 0) {
    std::string image(122, 'x');
    const std::uint16_t crc = static_cast<std::uint16_t>(XmodemCrc(image) ^ crcFix);
    image += test::Bytes({122, 0, 0, 0, crc & 0xFF, crc >> 8});
    return image;
}

std::string Packet(std::uint8_t block, const std::string& data) {
    const std::uint16_t crc = XmodemCrc(data);
    return std::string(1, kSoh) + static_cast<char>(block) + static_cast<char>(~block) + data +
           static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
}

// The bootloader 1.05 (no unlock line) waiting on the line.
class Bootloader : public test::LoaderDriver {
public:
    explicit Bootloader(const std::string& faults = "")
        : LoaderDriver(test::MakeLoaderProfile(
              "loader=xmodem\nflash_start=0\nflash_size=0x1000\nloader.version=1.05\n" + faults, "",
              "")) {}
    // Bytes at the loader's line at time now (ms), and what is due then.
    std::string At(std::uint64_t now, const std::string& bytes = "") {
        LineSettings line = inst.ExpectedLine();
        if (!bytes.empty())
            inst.Receive(bytes, &line, now);
        return inst.TakeDue(now);
    }
};

TEST(XmodemLoader, TheReceiverAsksEveryThreeSecondsUntilTheFirstPacketBegins) {
    Bootloader b;
    EXPECT_EQ(b.At(0, "u"), "C");
    EXPECT_EQ(b.At(2999), "");
    EXPECT_EQ(b.At(3000), "C");
    EXPECT_EQ(b.At(27000), std::string(8, 'C')) << "ten in all";
    EXPECT_EQ(b.At(60000), "");

    Bootloader started;
    EXPECT_EQ(started.At(0, "u"), "C");
    EXPECT_EQ(started.At(4000), "C");
    EXPECT_EQ(started.At(4500, Packet(1, OneBlockImage())), "");
    EXPECT_EQ(started.At(4530), std::string(1, kAck));
    EXPECT_EQ(started.At(60000), "") << "no more asking once the sender has begun";

    // A repeat falling due as packet 1 begins goes out at once; the packet's
    // ACK only after the packet has crossed the line.
    Bootloader crossing("loader.fault.crossing_c=yes\n");
    EXPECT_EQ(crossing.At(0, "u"), "C");
    EXPECT_EQ(crossing.At(100, Packet(1, OneBlockImage())), "C");
    EXPECT_EQ(crossing.At(130), std::string(1, kAck));
    EXPECT_EQ(crossing.At(200, std::string(1, kEot)), std::string(1, kAck));
    EXPECT_EQ(crossing.At(60000), "");
}

TEST(XmodemLoader, AnswersAPacketOnlyAfterItHasCrossedTheLineAndBeenWritten) {
    // 133 bytes at 115200 baud, 11 bits each: 12.7 ms on the line, and a
    // stored block 4 ms in the flash.
    Bootloader fast;
    fast.At(0, "u");
    EXPECT_EQ(fast.At(1000, Packet(1, OneBlockImage())), "");
    EXPECT_EQ(fast.At(1012), "") << "the last byte is still on its way";
    EXPECT_EQ(fast.At(1016), "") << "the block is still being written";
    EXPECT_EQ(fast.At(1030), std::string(1, kAck));
    // A refused packet is answered once it is all in: nothing to write.
    Bootloader refusing("loader.fault.nak=1\n");
    refusing.At(0, "u");
    EXPECT_EQ(refusing.At(1000, Packet(1, OneBlockImage())), "");
    EXPECT_EQ(refusing.At(1012), "");
    EXPECT_EQ(refusing.At(1013), std::string(1, kNak));
}

TEST(XmodemLoader, OnlyAnImageWhoseTrailerFitsIsStarted) {
    for (const std::uint16_t crcFix : {0, 1}) {
        SCOPED_TRACE(crcFix);
        Bootloader b;
        b.At(0, "u");
        b.At(100, Packet(1, OneBlockImage(crcFix)));
        EXPECT_EQ(b.At(130), std::string(1, kAck));
        EXPECT_EQ(b.At(200, std::string(1, kEot)), std::string(1, kAck));
        b.At(300, "r");
        EXPECT_EQ(b.inst.LoaderExits(), crcFix == 0 ? 1u : 0u);
        EXPECT_EQ(b.inst.State(), crcFix == 0 ? InstrumentState::Awake : InstrumentState::InLoader);
    }
}

} // namespace
} // namespace sim
