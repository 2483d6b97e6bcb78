#include "LoaderDriver.h"
#include "tools/instrument-sim/Bsl5xxConfig.h"
#include "tools/instrument-sim/Bsl5xxFrame.h"
#include "tools/instrument-sim/Instrument.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

const std::string kAck(1, '\0');

using test::Bytes;

Profile MakeProfile(const std::string& keys = "", const std::string& extra = "") {
    return test::MakeLoaderProfile(
        "loader=msp430-5xx\npassword=5C00\nflash_start=0x1000\nflash_size=0x44C00\n", keys, extra);
}

// The client's own CRC, byte-wise, written apart from the simulator's.
std::uint16_t Crc(const std::string& core) {
    std::uint16_t crc = 0xFFFF;
    for (char c : core) {
        std::uint8_t x = static_cast<std::uint8_t>((crc >> 8) ^ static_cast<std::uint8_t>(c));
        x ^= x >> 4;
        crc = static_cast<std::uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
    }
    return crc;
}

std::string Wrap(const std::string& core) {
    std::uint16_t crc = Crc(core);
    return Bytes({0x80, static_cast<int>(core.size() & 0xFF), static_cast<int>(core.size() >> 8)}) +
           core + Bytes({crc & 0xFF, crc >> 8});
}

std::string Addr(std::uint32_t a) {
    return Bytes({static_cast<int>(a & 0xFF), static_cast<int>(a >> 8 & 0xFF),
                  static_cast<int>(a >> 16 & 0xFF)});
}

std::string Msg(int code) {
    return kAck + Wrap(Bytes({0x3B, code}));
}

std::string Password(std::uint16_t resetVector = 0x5C00) {
    return test::VectorPassword(resetVector);
}

class Bsl : public test::LoaderDriver {
public:
    explicit Bsl(const std::string& keys = "", const std::string& extra = "")
        : LoaderDriver(MakeProfile(keys, extra)) {}

    std::string Cmd(int cmd, const std::string& data = "") {
        return Say(Wrap(static_cast<char>(cmd) + data));
    }
    std::string Unlock(std::uint16_t resetVector = 0x5C00) {
        return Cmd(0x11, Password(resetVector));
    }
    std::string Write(std::uint32_t a, const std::string& data) {
        return Cmd(0x10, Addr(a) + data);
    }
    std::string Erase(std::uint32_t a) { return Cmd(0x12, Addr(a)); }
    // The data of a TX data block reply, or the whole reply when it is not one data frame.
    std::string Read(std::uint32_t a, std::uint16_t n) {
        std::string reply = Cmd(0x18, Addr(a) + Bytes({n & 0xFF, n >> 8}));
        if (reply.size() == n + 7u && reply == kAck + Wrap("\x3A" + reply.substr(5, n)))
            return reply.substr(5, n);
        return "<reply: " + reply + ">";
    }
};

TEST(Bsl5xxFrame, CrcMatchesTheCheckValuesAndThePublishedFrames) {
    EXPECT_EQ(bsl5xx::Crc16("abc"), 0x514A);
    EXPECT_EQ(bsl5xx::Crc16("123456789"), 0x29B1);
    // Version request, speed change to 9600 and a success message as the chip maker shows them.
    EXPECT_EQ(bsl5xx::WrapCore("\x19"), Bytes({0x80, 0x01, 0x00, 0x19, 0xE8, 0x62}));
    EXPECT_EQ(bsl5xx::WrapCore("\x52\x02"), Bytes({0x80, 0x02, 0x00, 0x52, 0x02, 0x90, 0x55}));
    EXPECT_EQ(bsl5xx::WrapCore(Bytes({0x3B, 0})), Bytes({0x80, 0x02, 0x00, 0x3B, 0, 0x60, 0xC4}));
}

TEST(Bsl5xx, PasswordGuardsTheLoaderAndAWrongOneErasesMainFlash) {
    Bsl b;
    EXPECT_EQ(b.Read(0x5C00, 2), "<reply: " + Msg(4) + ">") << "locked";
    EXPECT_EQ(b.Cmd(0x19), Msg(4)) << "the version too";
    EXPECT_EQ(b.Write(0x5C00, "ab"), Msg(4));
    EXPECT_EQ(b.Flash(0x5C00, 2), "\xFF\xFF");
    EXPECT_EQ(b.Unlock(), Msg(0)) << "the reset vector came from the firmware's password";
    EXPECT_EQ(b.Write(0x10000, "ab"), Msg(0));
    EXPECT_EQ(b.Write(0x1800, "cd"), Msg(0));
    EXPECT_EQ(b.Unlock(0x5C02), Msg(5));
    EXPECT_EQ(b.Flash(0x10000, 2) + b.Flash(0xFFFE, 2), std::string(4, '\xFF'))
        << "main flash erased with the vectors";
    EXPECT_EQ(b.Flash(0x1800, 2), "cd") << "information memory kept";
    EXPECT_EQ(b.Cmd(0x19), Msg(4)) << "locked again";
    EXPECT_EQ(b.Cmd(0x11, std::string(32, '\xFF')), Msg(0)) << "erased vectors";
    EXPECT_EQ(b.Cmd(0x19), kAck + Wrap(Bytes({0x3A, 0x00, 0x01, 0x01, 0x01})));
}

TEST(Bsl5xx, TheOldImageTakesNewDataOnlyWhereASegmentWasErased) {
    Bsl b("", "old_image=pattern\n");
    ASSERT_EQ(b.Unlock(), Msg(0)) << "the old firmware's vectors are its password";
    for (std::uint32_t a : {0x5C00u, 0x1800u}) {
        EXPECT_EQ(b.Write(a, "\x12\x34"), Msg(1)) << std::hex << a << ": old bytes in the way";
        EXPECT_EQ(b.Erase(a), Msg(0));
        EXPECT_EQ(b.Write(a, "\x12\x34"), Msg(0)) << std::hex << a;
    }
    EXPECT_EQ(b.Flash(0x1880, 1), std::string(1, static_cast<char>(FlashMemory::OldByte(0x1880))))
        << "the next information segment keeps its old bytes";
}

TEST(Bsl5xx, PasswordAnswerGroupsFillTheVectorsFromTheTop) {
    ProfileResult r = ParseProfile("start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\n"
                                   "version=1.23\nserial=3\nloader=msp430-5xx\nstart=loader\n"
                                   "password=005C00001234\n");
    ASSERT_TRUE(r.ok) << r.error;
    Instrument inst(r.profile, nullptr, nullptr);
    std::string vectors;
    inst.Memory().Read(0xFFE0, 32, vectors);
    EXPECT_EQ(vectors, std::string(28, '\xFF') + Bytes({0x34, 0x12, 0x00, 0x5C}));
}

TEST(Bsl5xx, WriteReadAndEraseAcrossTheMemoryMap) {
    Bsl b("loader.chip_id=6638\n");
    ASSERT_EQ(b.Unlock(), Msg(0));
    std::string id = b.Read(0x1A04, 4);
    ASSERT_EQ(id.size(), 4u) << id;
    EXPECT_EQ(static_cast<std::uint8_t>(id[0]) | static_cast<std::uint8_t>(id[1]) << 8, 0x6638);

    for (std::uint32_t a : {0x5C00u, 0x10000u, 0x45BFEu}) {
        EXPECT_EQ(b.Write(a, "\x12\x34"), Msg(0)) << a;
        EXPECT_EQ(b.Read(a, 2), "\x12\x34") << a;
    }
    EXPECT_EQ(b.Write(0x10000, "\xF0\x0F"), Msg(1)) << "bits can only be cleared";
    EXPECT_EQ(b.Flash(0x10000, 2), Bytes({0x10, 0x04}));
    EXPECT_EQ(b.Write(0x10200, "x"), Msg(0));
    EXPECT_EQ(b.Erase(0x101FF), Msg(0));
    EXPECT_EQ(b.Flash(0x10000, 2) + b.Flash(0x10200, 1), "\xFF\xFFx") << "512-byte segment";
    EXPECT_NE(b.inst.Memory().ToTiTxt().find("@10200\n78\n"), std::string::npos)
        << "the dump keeps addresses above 64 KB";

    std::string big(300, 'z');
    EXPECT_EQ(b.Write(0x6000, big.substr(0, 250)), Msg(0));
    EXPECT_EQ(b.Write(0x6000 + 250, big.substr(250)), Msg(0));
    EXPECT_EQ(b.Cmd(0x18, Addr(0x6000) + Bytes({300 & 0xFF, 300 >> 8})),
              kAck + Wrap("\x3A" + big.substr(0, 259)) + Wrap("\x3A" + big.substr(259)))
        << "a block longer than the buffer comes in two frames";

    EXPECT_EQ(b.Write(0x1880, "i"), Msg(0));
    EXPECT_EQ(b.Write(0x1900, "j"), Msg(0));
    EXPECT_EQ(b.Erase(0x18FF), Msg(0));
    EXPECT_EQ(b.Flash(0x1880, 1) + b.Flash(0x1900, 1), "\xFFj") << "128-byte information segment";
    EXPECT_EQ(b.Write(0x1980, "a"), Msg(1)) << "information segment A is locked";
    EXPECT_EQ(b.Cmd(0x13), Msg(0));
    EXPECT_EQ(b.Write(0x1980, "a"), Msg(0));
    EXPECT_EQ(b.Cmd(0x13), Msg(0));
    EXPECT_EQ(b.Erase(0x1980), Msg(0));
    EXPECT_EQ(b.Flash(0x1980, 1), "a") << "locked again: not erased";

    EXPECT_EQ(b.Erase(0x1000), Msg(2)) << "the loader's own flash";
    EXPECT_EQ(b.Write(0x17FE, Bytes({0})), Msg(1));
    EXPECT_EQ(b.Erase(0x1C00), Msg(2)) << "RAM";
    EXPECT_EQ(b.Write(0x1C00, "ram"), Msg(0));
    EXPECT_EQ(b.Read(0x1C00, 3), "ram");
    EXPECT_EQ(b.Read(0x50000, 2), "\xFF\x3F") << "vacant memory";

    EXPECT_EQ(b.Cmd(0x15), Msg(0));
    EXPECT_EQ(b.Flash(0x45BFE, 2) + b.Flash(0x5C00, 2), std::string(4, '\xFF'));
    EXPECT_EQ(b.Flash(0x1980, 1) + b.Flash(0x1900, 1), "aj") << "mass erase spares information";
}

TEST(Bsl5xx, FramingErrorsAreAnsweredWithTheirByte) {
    Bsl b;
    // The tool's two bootloader probes: the first starts a frame, the second overflows it
    // and its stray bytes are answered 0x51, the "Q" the tool looks for.
    EXPECT_EQ(b.Say("\x80"), "");
    EXPECT_EQ(b.Say(Bytes({0x85, 0x01, 0x00, 0x1A})), "TQQ");
    EXPECT_EQ(b.Say(Bytes({0x80, 0, 0})), "\x53");
    EXPECT_EQ(b.Say(Bytes({0x80, 5, 1})), "\x54") << "261 core bytes";
    std::string damaged = Wrap("\x19");
    damaged.back() ^= 1;
    EXPECT_EQ(b.Say(damaged), "\x52");
    EXPECT_EQ(b.Cmd(0x12, "\x00\x5C"), "\x55") << "address short of a byte";
    EXPECT_EQ(b.Cmd(0x11, "short"), "\x55");
    EXPECT_EQ(b.Cmd(0x1C), Msg(7)) << "unknown command";
    EXPECT_EQ(b.Unlock(), Msg(0)) << "none of these had an effect";
}

TEST(Bsl5xx, SpeedChangeIsAcknowledgedAtTheOldSpeed) {
    Bsl b;
    EXPECT_EQ(b.Cmd(0x52, "\x07"), "\x56") << "unknown speed";
    EXPECT_EQ(b.Cmd(0x52, "\x06"), kAck) << "allowed while locked";
    const std::string garbled = b.Say(Wrap("\x19"), LineSettings{9600, 1});
    EXPECT_FALSE(garbled.empty()) << "bytes at the old speed arrive as garbage";
    EXPECT_EQ(garbled.find_first_not_of('Q'), std::string::npos)
        << "and get the header refusal: " << garbled;
    EXPECT_EQ(b.Say(Wrap("\x19"), LineSettings{115200, 2}), Msg(4))
        << "a second stop bit is idle time to the loader's receiver";
}

TEST(Bsl5xx, LoadPcStartsTheFirmwareOnlyWhereThereIsCode) {
    Bsl b;
    ASSERT_EQ(b.Unlock(), Msg(0));
    ASSERT_EQ(b.Write(0x5C00, "\x31\x40"), Msg(0));
    EXPECT_EQ(b.Cmd(0x17, Addr(0x5C00)), kAck);
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake);
    EXPECT_EQ(b.inst.LoaderExits(), 1u);

    Bsl erased;
    ASSERT_EQ(erased.Unlock(), Msg(0));
    EXPECT_EQ(erased.Cmd(0x17, Addr(0x8000)), kAck);
    EXPECT_EQ(erased.inst.State(), InstrumentState::InLoader);
    EXPECT_EQ(erased.Cmd(0x19), "") << "the processor is lost";
}

TEST(Bsl5xx, ExampleProfileAnswersTheProbeAloneAndThenFrames) {
    ProfileResult r = LoadProfile(std::string(SIM_SOURCE_DIR) + "/profiles/msp430-5438.profile");
    ASSERT_TRUE(r.ok) << r.error;
    r.profile.startInLoader = true;
    Instrument inst(r.profile, nullptr, nullptr);
    LineSettings line{9600, 1};
    inst.Receive("\x80", &line, 0);
    EXPECT_EQ(inst.TakeDue(~0ull), "Q");
    inst.Receive(Wrap("\x11" + Password()), &line, 0);
    EXPECT_EQ(inst.TakeDue(~0ull), Msg(0));
}

TEST(Bsl5xx, InjectedFaults) {
    Bsl b("loader.fault.refuse=2\nloader.fault.silent=3\nloader.fault.message=4:3\n"
          "loader.fault.corrupt=3\n");
    ASSERT_EQ(b.Unlock(), Msg(0)) << "frame 1, response 1";
    EXPECT_EQ(b.Write(0x5C00, "a"), "\x52") << "frame 2 refused";
    EXPECT_EQ(b.Write(0x5C00, "a"), "") << "frame 3 lost";
    EXPECT_EQ(b.Write(0x5C00, "a"), kAck + Wrap(Bytes({0x3B, 3}))) << "frame 4";
    std::string corrupt = Msg(0);
    corrupt.back() ^= static_cast<char>(0xFF);
    EXPECT_EQ(b.Write(0x5C00, "a"), corrupt) << "frame 5, response 3: bad CRC";
    EXPECT_EQ(b.Flash(0x5C00, 1), "a") << "written once, by frame 5";

    Bsl hangup("loader.fault.hangup=2\n");
    ASSERT_EQ(hangup.Unlock(), Msg(0));
    EXPECT_FALSE(hangup.inst.HangupRequested());
    EXPECT_EQ(hangup.Cmd(0x19), "");
    EXPECT_TRUE(hangup.inst.HangupRequested());
}

TEST(Bsl5xxConfig, ErrorsNameTheKey) {
    for (const char* bad :
         {"loader.chip_id=54380\n", "loader.version=0001\n", "loader.fault.message=2\n",
          "loader.fault.refuse=0\n", "loader.main_flash=0x5C00-0x50000\n", "loader.bogus=1\n"}) {
        bsl5xx::Bsl5xxConfigResult r = bsl5xx::ParseBsl5xxConfig(MakeProfile(bad));
        EXPECT_FALSE(r.ok) << bad;
        std::string key(bad);
        EXPECT_TRUE(r.error.starts_with(key.substr(0, key.find('=')))) << r.error;
    }
}

} // namespace
} // namespace sim
