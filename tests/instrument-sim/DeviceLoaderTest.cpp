#include "LoaderDriver.h"

namespace sim::test {
namespace {

const LineSettings kLoaderLine{9600, 2};
const std::string kSize = "A.1260#Will receive\r\rprogdata: \r\rof!";
const std::string kBlank = std::string(244, 'F'); // 122 bytes of 0xFF, CRC 5250

// The firmware woken, sped up and restarted into its loader, which has
// announced itself and been asked to identify.
LoaderDriver InLoader() {
    LoaderDriver d(MakeFirmwareProfile("version=1.23\nloader=device-loader\nloader.restart_ms=0\n"
                                       "loader.store_ms=0\nloader.text=LDR\n"
                                       "flash_start=0\nflash_size=0x1000\n"));
    EXPECT_EQ(d.Say("A.1111\r\n"), "A.1111!\r\n");
    EXPECT_EQ(d.Say("A.5004\r\n"), "A.5004!\r\n");
    EXPECT_EQ(d.Say("A.1301#7\r\n"), "A.1301!\r\n");
    EXPECT_EQ(d.Say("A.9000\r\n", LineSettings{115200, 2}), "A.9000!\r\nI.264#LDR\r\n");
    EXPECT_EQ(d.Say("A.1000\r\n", kLoaderLine), "A.1000!\r\nI.35#\r\n");
    return d;
}

TEST(DeviceLoader, ChecksSizeBlocksAndClosingBeforeItStores) {
    LoaderDriver d = InLoader();
    EXPECT_EQ(d.Say(kSize + "121 bytes,LDR\r\n"), "?\r\n") << "121 + 6 is no whole block";
    EXPECT_EQ(d.Say(kSize + "4218 bytes,LDR\r\n"), "?\r\n") << "larger than the flash";
    EXPECT_EQ(d.Say(kSize + "122 bytes,LDR\r\n"), "A.1260!\r\n");
    for (const std::string& bad :
         {"A.1261#122,5251," + kBlank, "A.1261#121,5250," + kBlank,
          "A.1261#122,5250," + std::string(244, 'f'), std::string("A.1261#3,40406,616263")}) {
        EXPECT_EQ(d.Say(bad + "\r\n"), "I.263#2\r\n") << bad.substr(0, 20);
    }
    EXPECT_EQ(d.Say("A.1263\r\n"), "?\r\n") << "nothing to store before the closing";
    EXPECT_EQ(d.Say("A.1261#122,5250," + kBlank + "\r\n"), "A.1261!\r\n");
    EXPECT_EQ(d.Say("A.1262#QX47,122,5251,1\r\n"), "?\r\n") << "wrong CRC";
    EXPECT_EQ(d.Say("A.1262#QX47,122,5250,1\r\n"), "A.1262!\r\n");
    EXPECT_EQ(d.Say("A.1263\r\n"), "A.1263!\r\n");
    EXPECT_EQ(d.Flash(0, 122), std::string(122, '\xFF'));
    EXPECT_EQ(d.inst.LoaderExits(), 0u);
    EXPECT_EQ(d.Say("A.1301#3\r\n"), "A.1301!\r\n");
    EXPECT_EQ(d.inst.LoaderExits(), 1u);
    EXPECT_EQ(d.inst.ExpectedLine(), kLoaderLine) << "the firmware keeps the speed it was given";
}

} // namespace
} // namespace sim::test
