#include "LoaderDriver.h"
#include "PtyClient.h"
#include "tools/instrument-sim/Instrument.h"
#include "tools/instrument-sim/RomBslConfig.h"
#include "tools/instrument-sim/RomBslFrame.h"
#include "tools/instrument-sim/Simulator.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace sim {
namespace {

const std::string kAck = "\x90";
const std::string kRefused = "\xA0";

using test::Bytes;

Profile MakeProfile(const std::string& loaderKeys = "", const std::string& extra = "") {
    return test::MakeLoaderProfile("loader=msp430-rom\npassword=F800\n", loaderKeys, extra);
}

// The client's own framing, written apart from the simulator's.
std::string Frame(std::uint8_t cmd, std::uint16_t addr, std::uint16_t len,
                  const std::string& data = "") {
    auto l1 = static_cast<char>(data.size() + 4);
    std::string f = {'\x80', static_cast<char>(cmd), l1, l1};
    for (std::uint16_t v : {addr, len}) {
        f.push_back(static_cast<char>(v & 0xFF));
        f.push_back(static_cast<char>(v >> 8));
    }
    f += data;
    unsigned lo = 0, hi = 0;
    for (std::size_t i = 0; i + 1 < f.size(); i += 2) {
        lo ^= static_cast<unsigned char>(f[i]);
        hi ^= static_cast<unsigned char>(f[i + 1]);
    }
    f.push_back(static_cast<char>(~lo));
    f.push_back(static_cast<char>(~hi));
    return f;
}

std::string Password(std::uint16_t resetVector = 0xF800) {
    return test::VectorPassword(resetVector);
}

class Bsl : public test::LoaderDriver {
public:
    explicit Bsl(const std::string& keys = "", const std::string& extra = "")
        : LoaderDriver(MakeProfile(keys, extra)) {}

    // Synchronisation, then the frame; returns what came after the sync's acknowledge.
    std::string Cmd(std::uint8_t cmd, std::uint16_t addr, std::uint16_t len,
                    const std::string& data = "") {
        std::string sync = Say("\x80");
        if (sync != kAck)
            return "<sync: " + sync + ">";
        return Say(Frame(cmd, addr, len, data));
    }
    // A frame after its synchronisation, for frames the client builds by hand.
    std::string Framed(const std::string& frame) {
        std::string sync = Say("\x80");
        return sync == kAck ? Say(frame) : "<sync: " + sync + ">";
    }
    std::string Unlock() { return Cmd(0x10, 0xFFFF, 0xFFFF, Password()); }
    std::string Read(std::uint16_t addr, std::uint8_t n) {
        std::string reply = Cmd(0x14, addr, n);
        return reply.size() == n + 6u ? reply.substr(4, n) : "<reply: " + reply + ">";
    }
};

TEST(RomBslFrame, ChecksumIsTheInvertedXorOfLittleEndianWords) {
    // The version request as the chip maker's documents show it.
    EXPECT_EQ(Frame(0x1E, 0, 0), Bytes({0x80, 0x1E, 4, 4, 0, 0, 0, 0, 0x7B, 0xE5}));
    EXPECT_EQ(rombsl::Checksum(Bytes({0x80, 0x1E, 4, 4, 0, 0, 0, 0})), 0xE57B);
    rombsl::Frame f;
    std::string good = Frame(0x12, 0x1234, 2, "ab");
    EXPECT_TRUE(rombsl::ParseFrame(good, f));
    EXPECT_EQ(f.address, 0x1234);
    EXPECT_EQ(f.data, "ab");
    std::string bad = Frame(0x12, 0x1234, 2, "ab");
    bad[8] = 'x';
    EXPECT_FALSE(rombsl::ParseFrame(bad, f));
}

TEST(RomBsl, SyncPasswordAndLock) {
    Bsl b;
    EXPECT_EQ(b.Say("\x55\x80"), kAck) << "noise before the sync is ignored";
    EXPECT_EQ(b.Say("\x12"), kRefused) << "a frame must start with its header";
    EXPECT_EQ(b.Cmd(0x14, 0xF000, 2), kRefused) << "reads need the password";
    EXPECT_EQ(b.Cmd(0x10, 0xFFFF, 0xFFFF, Password(0xF802)), kRefused);
    std::string damaged = Frame(0x10, 0xFFFF, 0xFFFF, Password());
    damaged.back() ^= 1;
    EXPECT_EQ(b.Framed(damaged), kRefused) << "bad checksum";
    EXPECT_EQ(b.Cmd(0x10, 0xFFFF, 0xFFFF, "short"), kRefused);
    EXPECT_EQ(b.Unlock(), kAck) << "the reset vector came from the firmware's password";
    EXPECT_EQ(b.Read(0xFFFE, 2), Bytes({0x00, 0xF8}));
    EXPECT_EQ(b.Framed(Bytes({0x80, 0x12, 6, 8})), kRefused) << "L1 and L2 differ";
}

TEST(RomBsl, VersionRepliesMakeTheToolsFieldsRight) {
    struct Case {
        std::string keys;
        int chipId, bslVersion;
    };
    for (const Case& c : {Case{"loader.version=1.10\nloader.chip_id=F149\n", 0xF149, 1100},
                          Case{"loader.version=1.40\nloader.chip_id=F449\n", 0xF449, 1400},
                          Case{"loader.version=1.60\nloader.chip_id=F26F\n", 0xF26F, 1600}}) {
        Bsl b(c.keys);
        std::string frame = b.Cmd(0x1E, 0x5858, 0x5858);
        if (c.bslVersion < 1500) {
            EXPECT_EQ(frame, kRefused) << "no version command before 1.50";
            ASSERT_EQ(b.Unlock(), kAck);
            frame = b.Cmd(0x14, 0x0FF0, 14);
        }
        ASSERT_GE(frame.size(), 16u) << c.keys;
        rombsl::Frame parsed;
        EXPECT_TRUE(rombsl::ParseFrame(frame, parsed)) << "checksum of the reply";
        auto at = [&](int i) { return static_cast<unsigned char>(frame[i]); };
        EXPECT_EQ(at(4) * 256 + at(5), c.chipId);
        char text[16];
        std::snprintf(text, sizeof text, "%X.%X", at(14), at(15));
        EXPECT_EQ(static_cast<int>(std::stod(text) * 1000.01), c.bslVersion) << text;
    }
}

TEST(RomBsl, VersionFrameBytes) {
    Bsl b("loader.version=1.60\nloader.chip_id=F26F\n");
    EXPECT_EQ(b.Cmd(0x1E, 0x5858, 0x5858),
              Bytes({0x80, 0x00, 0x10, 0x10, 0xF2, 0x6F, 0, 0, 0, 0,    0,
                     0,    0,    0,    0x01, 0x60, 0,    0, 0, 0, 0x9C, 0xE0}));
}

TEST(RomBsl, ExampleProfilesStartTheirLoader) {
    for (const char* name : {"msp430-110", "msp430-140", "msp430-160"}) {
        ProfileResult r =
            LoadProfile(std::string(SIM_SOURCE_DIR) + "/profiles/" + name + ".profile");
        ASSERT_TRUE(r.ok) << name << ": " << r.error;
        EXPECT_NE(CreateLoader(r.profile.loader, r.profile), nullptr) << name;
    }
}

TEST(RomBsl, EraseWriteReadAndLoadPc) {
    Bsl b;
    ASSERT_EQ(b.Unlock(), kAck);
    EXPECT_EQ(b.Cmd(0x12, 0xF000, 4, "\x12\x34\x56\x78"), kAck);
    EXPECT_EQ(b.Read(0xF000, 4), "\x12\x34\x56\x78");
    EXPECT_EQ(b.Cmd(0x12, 0xF000, 2, "\xF0\x0F"), kAck) << "no write check by default";
    EXPECT_EQ(b.Read(0xF000, 2), Bytes({0x10, 0x04})) << "flash can only clear bits";
    EXPECT_EQ(b.Cmd(0x16, 0xF1FE, 0xA502), kAck) << "erases the segment holding the address";
    EXPECT_EQ(b.Read(0xF000, 2), "\xFF\xFF");
    for (std::uint16_t a : {0x1100, 0x1080, 0x1000})
        EXPECT_EQ(b.Cmd(0x12, a, 2, "ab"), kAck) << a;
    EXPECT_EQ(b.Cmd(0x16, 0x1100, 0xA502), kAck);
    EXPECT_EQ(b.Cmd(0x16, 0x1080, 0xA502), kAck);
    EXPECT_EQ(b.Flash(0x1100, 2), "\xFF\xFF") << "the first main segment is short";
    EXPECT_EQ(b.Flash(0x1080, 2), "\xFF\xFF");
    EXPECT_EQ(b.Flash(0x1000, 2), "ab") << "information segments are 128 bytes";
    EXPECT_EQ(b.Cmd(0x16, 0x0400, 0xA502), kRefused) << "RAM is no flash";
    EXPECT_EQ(b.Cmd(0x16, 0xF000, 0xA500), kRefused) << "wrong erase control";
    EXPECT_EQ(b.Cmd(0x12, 0x0FF0, 2, "xx"), kRefused) << "boot ROM";
    EXPECT_EQ(b.Cmd(0x14, 0xF000, 251), kRefused) << "reads are at most 250 bytes";
    EXPECT_EQ(b.Cmd(0x18, 0, 0xA506), kAck);
    EXPECT_EQ(b.Flash(0x1000, 2) + b.Flash(0xFFFE, 2), std::string(4, '\xFF'));

    EXPECT_EQ(b.Cmd(0x1A, 0x0C00, 0), kAck);
    EXPECT_EQ(b.inst.State(), InstrumentState::InLoader);
    EXPECT_EQ(b.Cmd(0x14, 0xF000, 2), kRefused) << "a boot-ROM restart locks the loader";
    ASSERT_EQ(b.Cmd(0x10, 0, 0, std::string(32, '\xFF')), kAck) << "erased vectors";
    EXPECT_EQ(b.Cmd(0x1A, 0xF000, 0), kAck);
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake);
    EXPECT_EQ(b.inst.LoaderExits(), 1u);
}

TEST(RomBsl, LoadPcIntoEmptyRamLosesTheProcessor) {
    Bsl b;
    ASSERT_EQ(b.Unlock(), kAck);
    EXPECT_EQ(b.Cmd(0x1A, 0x0300, 0), kAck);
    EXPECT_EQ(b.Say("\x80"), "");
}

TEST(RomBsl, Version110ReadsFlashRightOnlyThroughThePatch) {
    Bsl b("loader.version=1.10\n");
    ASSERT_EQ(b.Unlock(), kAck);
    ASSERT_EQ(b.Cmd(0x12, 0xE000, 4, "\x01\x02\x03\x04"), kAck);
    EXPECT_EQ(b.Read(0xE000, 4), "\x02\x01\x04\x03") << "the ROM bug";
    // The tool's detour: restart the ROM, password again, patch into RAM, verify it, run it.
    EXPECT_EQ(b.Cmd(0x1A, 0x0C22, 0x5858), kAck);
    ASSERT_EQ(b.Unlock(), kAck);
    EXPECT_EQ(b.Cmd(0x12, 0x0220, 4, "PTCH"), kAck);
    EXPECT_EQ(b.Read(0x0220, 4), "PTCH") << "RAM reads are right";
    EXPECT_EQ(b.Cmd(0x1A, 0x0220, 0x5858), kAck);
    EXPECT_EQ(b.Read(0xE000, 4), "\x01\x02\x03\x04");
    EXPECT_EQ(b.Read(0xE000, 4), "\x02\x01\x04\x03") << "the patch serves one command";
    EXPECT_EQ(b.Cmd(0x20, 0, 2), kRefused) << "no speed change before 1.60";
}

TEST(RomBsl, SpeedChangeFrom160On) {
    Bsl b;
    ASSERT_EQ(b.Unlock(), kAck);
    EXPECT_EQ(b.Cmd(0x20, 0xC800, 0x5803), kRefused) << "index 3 is no speed";
    EXPECT_EQ(b.Cmd(0x20, 0xC800, 0x5802), kAck) << "acknowledged at the old speed";
    EXPECT_EQ(b.Say("\x80", LineSettings{9600, 1}), "") << "read as a NUL at 38400";
    EXPECT_EQ(b.Say("\x80", LineSettings{38400, 2}), kAck)
        << "a second stop bit is idle time to the loader's receiver";

    Bsl tuned("loader.baud_clock=00C8\n");
    ASSERT_EQ(tuned.Unlock(), kAck);
    EXPECT_EQ(tuned.Cmd(0x20, 0x8C80, 0x5802), kAck);
    EXPECT_EQ(tuned.Say("\x80"), "") << "wrong clock bytes: off speed, nothing understood";
}

TEST(RomBsl, MemoryOffsetReachesFlashAbove64K) {
    Bsl big("loader.main_flash=0x3100-0x1FFFF\nloader.ram=0x1100-0x30FF\n", "flash_size=0x1F000\n");
    ASSERT_EQ(big.Unlock(), kAck);
    EXPECT_EQ(big.Cmd(0x21, 0, 0x5810), kRefused) << "page out of range";
    EXPECT_EQ(big.Cmd(0x21, 0, 0x5801), kAck);
    EXPECT_EQ(big.Cmd(0x12, 0x0000, 2, "hi"), kAck);
    EXPECT_EQ(big.Read(0x0000, 2), "hi");
    EXPECT_EQ(big.Cmd(0x16, 0xFE00, 0xA502), kAck) << "erases 0x1FE00, not the vectors";
    EXPECT_EQ(big.Cmd(0x21, 0, 0x5800), kAck);
    EXPECT_EQ(big.Flash(0x10000, 2) + big.Flash(0xFFFE, 2), "hi" + Bytes({0x00, 0xF8}));

    Bsl small;
    ASSERT_EQ(small.Unlock(), kAck);
    EXPECT_EQ(small.Cmd(0x21, 0, 1), kRefused) << "no offset below 64 KB of flash";
}

TEST(RomBsl, InjectedFaults) {
    Bsl b("loader.fault.refuse=2\nloader.fault.silent=3\nloader.fault.corrupt=1\n"
          "loader.fault.flip=0xF001:0\n");
    ASSERT_EQ(b.Unlock(), kAck) << "frame 1";
    EXPECT_EQ(b.Cmd(0x12, 0xF000, 2, "\x10\x20"), kRefused) << "frame 2 refused";
    EXPECT_EQ(b.Flash(0xF000, 2), "\xFF\xFF") << "without effect";
    EXPECT_EQ(b.Cmd(0x12, 0xF000, 2, "\x10\x20"), "") << "frame 3 lost";
    EXPECT_EQ(b.Flash(0xF000, 2), "\xFF\xFF");
    ASSERT_EQ(b.Cmd(0x12, 0xF000, 2, "\x10\x20"), kAck);
    std::string reply = b.Cmd(0x14, 0xF000, 2);
    rombsl::Frame f;
    EXPECT_FALSE(rombsl::ParseFrame(reply, f)) << "first reply frame corrupted";
    EXPECT_EQ(b.Read(0xF000, 2), "\x10\x21") << "flipped bit reads back";
    EXPECT_EQ(b.Flash(0xF000, 2), "\x10\x21") << "and is in the dump";

    Bsl checked("loader.verify_write=yes\nloader.fault.flip=0xF000:7\n");
    ASSERT_EQ(checked.Unlock(), kAck);
    EXPECT_EQ(checked.Cmd(0x12, 0xF000, 2, "\x10\x20"), kRefused) << "write check";
}

TEST(RomBsl, HangupFaultLosesTheFrameAndClosesTheLine) {
    Bsl b("loader.fault.hangup=2\n");
    ASSERT_EQ(b.Unlock(), kAck) << "frame 1";
    EXPECT_FALSE(b.inst.HangupRequested());
    EXPECT_EQ(b.Cmd(0x12, 0xF000, 2, "\x10\x20"), "") << "frame 2 lost";
    EXPECT_TRUE(b.inst.HangupRequested());
    EXPECT_EQ(b.Flash(0xF000, 2), "\xFF\xFF") << "without effect";
    EXPECT_EQ(b.Say("\x80"), "") << "nothing answers after the hang-up";
}

TEST(RomBslConfig, DefaultsFollowTheVersionAndErrorsNameTheKey) {
    auto config = [](const std::string& keys) {
        return rombsl::ParseRomBslConfig(MakeProfile(keys));
    };
    rombsl::RomBslConfigResult v110 = config("loader.version=1.10\n");
    ASSERT_TRUE(v110.ok);
    EXPECT_TRUE(v110.config.needsPatch);
    EXPECT_FALSE(v110.config.txVersion || v110.config.changeBaud || v110.config.memoryOffset);
    rombsl::RomBslConfigResult forced = config("loader.version=1.40\nloader.tx_version=yes\n");
    EXPECT_TRUE(forced.config.txVersion);
    EXPECT_EQ(forced.config.resetVector, 0xF800);
    for (const char* bad :
         {"loader.version=1.6\n", "loader.chip_id=F1490\n", "loader.ram=0x900-0x200\n",
          "loader.fault.flip=0xF000:8\n", "loader.password=FF\n", "loader.fault.refuse=0\n",
          "loader.fault.hangup=x\n", "loader.bogus=1\n"}) {
        rombsl::RomBslConfigResult r = config(bad);
        EXPECT_FALSE(r.ok) << bad;
        std::string key(bad);
        EXPECT_TRUE(r.error.starts_with(key.substr(0, key.find('=')))) << r.error;
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(RomBslOnPty, ProgramsAtTheNewSpeedAndDumpsTheImage) {
    std::string dump = testing::TempDir() + "/rombsl-flash.bin";
    Simulator sim(MakeProfile("", "flash_start=0xE000\nflash_size=0x2000\n"), {"", dump, "", 0});
    std::string error;
    ASSERT_TRUE(sim.OpenPty(error)) << error;
    std::thread runner([&] { sim.Run(); });
    test::PtyClient tool(sim.SlavePath());
    auto exchange = [&](const std::string& frame, const std::string& until) {
        std::string sync = tool.Ask("\x80", kAck);
        return sync + tool.Ask(frame, until);
    };
    ASSERT_TRUE(tool.SetLine(B9600, false));
    EXPECT_EQ(exchange(Frame(0x10, 0xFFFF, 0xFFFF, Password()), kAck), kAck + kAck);
    EXPECT_EQ(exchange(Frame(0x20, 0xC800, 0x5802), kAck), kAck + kAck);
    ASSERT_TRUE(tool.SetLine(B38400, false));
    std::string image(0x2000, '\xFF');
    image.replace(0, 4, Bytes({0x31, 0x40, 0x00, 0x0A}));
    image.replace(0x1FFE, 2, Bytes({0x00, 0xE0}));
    EXPECT_EQ(exchange(Frame(0x16, 0xFE00, 0xA502), kAck), kAck + kAck);
    EXPECT_EQ(exchange(Frame(0x12, 0xE000, 4, image.substr(0, 4)), kAck), kAck + kAck);
    EXPECT_EQ(exchange(Frame(0x12, 0xFFFE, 2, image.substr(0x1FFE)), kAck), kAck + kAck);
    EXPECT_EQ(exchange(Frame(0x1A, 0xE000, 0x5858), kAck), kAck + kAck);
    sim.RequestStop();
    runner.join();
    EXPECT_TRUE(ReadFile(dump) == image) << "the raw dump is the image byte for byte";
}

TEST(RomBslTranscript, NotesEveryFrameByTheNumberTheFaultKeysUse) {
    std::string path = testing::TempDir() + "/rombsl-frames.log";
    Transcript transcript;
    std::string error;
    ASSERT_TRUE(transcript.Open(path, error)) << error;
    Instrument inst(MakeProfile("loader.fault.refuse=2\n"), nullptr, &transcript);
    LineSettings line = inst.ExpectedLine();
    for (const std::string& frame : {Frame(0x10, 0xFFFF, 0xFFFF, Password()),
                                     Frame(0x14, 0xF000, 2), Frame(0x20, 0xC800, 0x5802)}) {
        inst.Receive("\x80", &line, 0);
        inst.Receive(frame, &line, 0);
    }
    inst.Receive("\x80", &line, 0); // not a frame: not counted
    std::string text = ReadFile(path);
    EXPECT_NE(text.find("-- frame 1 at 9600 baud: command 10, address FFFF, length FFFF\n"),
              std::string::npos)
        << text;
    std::size_t second =
        text.find("-- frame 2 at 9600 baud: command 14, address F000, length 0002\n");
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_NE(text.find("refused: fault: frame 2 refused", second), std::string::npos) << text;
    EXPECT_NE(text.find("-- frame 3 at 9600 baud: command 20"), std::string::npos) << text;
    EXPECT_EQ(text.find("frame 4"), std::string::npos) << text;
}

} // namespace
} // namespace sim
