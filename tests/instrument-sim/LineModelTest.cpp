#include "tools/instrument-sim/UartModel.h"
#include "tools/instrument-sim/Wire.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

constexpr UartFrame k8N1(unsigned baud) {
    return {baud, 8, Parity::None, 1};
}
constexpr UartFrame k8N2(unsigned baud) {
    return {baud, 8, Parity::None, 2};
}

// Expected bytes worked out by hand from the bit pictures in the comments
// (start 0, data LSB first, parity, stop 1; samples in the receiver's mid-bits).
struct Case {
    const char* what;
    std::string sent;
    UartFrame sender, receiver;
    StopCheck check;
    std::string read;
};

TEST(UartModel, ReadsWhatTheBitPicturesGive) {
    const Case cases[] = {
        {"equal settings", "A.1111\r\n", k8N2(4800), k8N2(4800), StopCheck::Every, "A.1111\r\n"},
        // A second stop bit is idle time to a receiver with one, and a
        // receiver that tests one stop bit does not mind a sender with one.
        {"2 stop bits into 1", "AB", k8N2(4800), k8N1(4800), StopCheck::First, "AB"},
        {"1 stop bit into 2, first tested", "AB", k8N1(4800), k8N2(4800), StopCheck::First, "AB"},
        // A 0 1 0 0 0 0 0 1 0 1 | B 0 0 1 0 0 0 0 1 0 1: A's second stop bit is
        // B's start (NUL); the next edge is B's d2, read as 0 0 0 1 0 1 1 1.
        {"1 stop bit into a strict 2", "AB", k8N1(4800), k8N2(4800), StopCheck::Every,
         std::string("\x00\xE8", 2)},
        // 0 1 0 1 0 1 0 1 0 1 at half the receiver's speed: samples at 0.25,
        // 0.75, ... sender bits give 0x66 and a low stop (NUL); the edge at 6
        // gives 0 1 1 0 0 1 1 1 with the idle line as its stop bit.
        {"0x55 at 9600 read at 19200", "\x55", k8N1(9600), k8N1(19200), StopCheck::First,
         std::string("\x00\xE6", 2)},
        // One receiver bit spans twelve sender bits: the start bit is tested at
        // sender bit 6 (d5), every further sample finds the idle line.
        {"0x41 at 115200 read at 9600", "\x41", k8N1(115200), k8N1(9600), StopCheck::First, "\xFF"},
        {"0x7F at 115200 read at 9600: d5 high, no start", "\x7F", k8N1(115200), k8N1(9600),
         StopCheck::First, ""},
        // Two NULs at twice the receiver's speed: samples at 3, 5, ... 17 meet
        // the first stop bit at 9 (d3); the stop sample at 19 is the second's.
        {"two NULs at 9600 read at 4800", std::string(2, '\0'), k8N1(9600), k8N1(4800),
         StopCheck::First, "\x08"},
        // A (two ones, even parity 0) puts its parity bit where 8N1 wants the
        // stop bit; C (three ones, parity 1) passes.
        {"8E1 into 8N1", "AC", UartFrame{4800, 8, Parity::Even, 1}, k8N1(4800), StopCheck::First,
         std::string("\x00"
                     "C",
                     2)},
        {"8N1 into 8E1: the idle line fills the parity slot", "A", k8N1(4800),
         UartFrame{4800, 8, Parity::Even, 1}, StopCheck::First, "A"},
        {"a receiver at speed 0 reads nothing", "A", k8N1(4800), k8N1(0), StopCheck::First, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadAs(c.sent, c.sender, c.receiver, c.check), c.read) << c.what;
}

TEST(UartModel, WireTimeCountsEveryBitOfTheFormat) {
    EXPECT_EQ(WireMicros(10, k8N1(9600)), 10417u) << "100 bits, rounded up";
    EXPECT_EQ(WireMicros(1, k8N2(4800)), 2292u) << "11 bits";
    EXPECT_EQ(WireMicros(1, UartFrame{9600, 8, Parity::Even, 1}), 1146u) << "11 bits";
    EXPECT_EQ(WireMicros(5, k8N1(0)), 0u);
}

TEST(Wire, RepliesFollowOneAnotherEachAtItsOwnLine) {
    Wire wire;
    // 9 characters of 11 bits at 4800 baud: 20625 us.
    wire.Send({"A.1111!\r\n", {4800, 2}}, 0);
    // Sent while the first is on the line: 10 bits at 9600 baud after it.
    wire.Send({"\x90", {9600, 1}}, 1000);
    EXPECT_EQ(wire.NextArrival(), 20625u);
    EXPECT_TRUE(wire.TakeArrived(20624).empty());
    std::vector<Reply> arrived = wire.TakeArrived(30000);
    ASSERT_EQ(arrived.size(), 2u) << "the second has arrived too (21667 us)";
    EXPECT_EQ(arrived[0].bytes, "A.1111!\r\n");
    EXPECT_EQ(arrived[1].line, (LineSettings{9600, 1}));

    wire.Send({"\x90", {9600, 1}}, 50000);
    EXPECT_EQ(wire.NextArrival(), 51042u) << "an idle line starts at once";
}

} // namespace
} // namespace sim
