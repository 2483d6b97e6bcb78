#include "tools/instrument-sim/Instrument.h"

#include "tools/instrument-sim/FlashMemory.h"
#include "tools/instrument-sim/LineFault.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

Profile MakeProfile(const std::string& extra = "") {
    ProfileResult r = ParseProfile("start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                                   "device=43110.000\nversion=1.23\nserial=12345678\n" +
                                   extra);
    EXPECT_TRUE(r.ok) << r.error;
    return r.profile;
}

// Feeds commands at the line the instrument expects and collects its replies.
class Bench {
public:
    explicit Bench(Profile p, std::unique_ptr<Loader> loader = nullptr)
        : inst(std::move(p), std::move(loader), nullptr) {}

    std::string Say(std::string_view bytes, Instrument::Millis at = 0) {
        LineSettings line = inst.ExpectedLine();
        inst.Receive(bytes, &line, at);
        return inst.TakeDue(~0ull);
    }
    std::string Wake() { return Say("\r\n\r\nA.1111\r\n"); }

    Instrument inst;
};

TEST(Instrument, IdentificationDialogue) {
    Bench b(MakeProfile());
    EXPECT_EQ(b.Say("A.2003\r\n"), "") << "asleep until the wake command";
    EXPECT_EQ(b.Wake(), "A.1111!\r\n");
    EXPECT_EQ(b.Say("A.1000\r\n"), "A.1000!\r\n");
    EXPECT_EQ(b.Say("A.2003\r\n"), "I.23#43110.201\r\n");
    EXPECT_EQ(b.Say("A.2000\r\nA.2001\r\n"), "I.20#43110.000\r\nI.21#1.23\r\n");
    EXPECT_EQ(b.Say("A.40"), "") << "a command without its line end waits";
    EXPECT_EQ(b.Say("01\r\n"), "I.25#12345678\r\n");
}

TEST(Instrument, StartModesWakeWithTheirCommand) {
    for (auto [mode, wake] : {std::pair{1, "A.1000"}, {4, "A.1131"}, {2, "A.1111"}}) {
        Profile p = MakeProfile();
        p.startMode = mode;
        Bench b(p);
        EXPECT_EQ(b.Say(std::string(mode == 1 ? "A.1111" : "A.1000") + "\r\n"), "") << mode;
        EXPECT_EQ(b.Say(std::string(wake) + "\r\n"), std::string(wake) + "!\r\n") << mode;
    }
}

TEST(Instrument, WrongLineSettingsArriveAsGarbage) {
    Bench b(MakeProfile());
    LineSettings wrongSpeed{9600, 2}, tooFewStops{4800, 1};
    b.inst.Receive("A.11", &wrongSpeed, 0);
    b.inst.Receive("A.1111\r\n", &tooFewStops, 0);
    EXPECT_EQ(b.inst.TakeDue(~0ull), "");
    EXPECT_EQ(b.inst.State(), InstrumentState::Asleep);
    EXPECT_EQ(b.Say("11\r\nA.1111\r\n"), "A.1111!\r\n") << "the garbage ends at a line end";
}

TEST(Instrument, AcknowledgesInTheAFormAndRefusesUnknownCommands) {
    Bench b(MakeProfile());
    EXPECT_EQ(b.Wake(), "A.1111!\r\n");
    EXPECT_EQ(b.Say("A.7777\r\n"), "?\r\n");
    EXPECT_EQ(b.Say("hello\r\nA.\r\nA.12x\r\nA.1234567890\r\n"), "") << "noise is not answered";

    Bench lenient(MakeProfile("unknown=ack\n"));
    lenient.Wake();
    EXPECT_EQ(lenient.Say("A.7777\r\n"), "A.7777!\r\n");
}

TEST(Instrument, PasswordQueryAndLoaderEntry) {
    Bench b(MakeProfile("password=F800\n"));
    b.Wake();
    EXPECT_EQ(b.Say("A.5577\r\n"), "I.80#F800\r\n");
    EXPECT_EQ(b.Say("A.5588#XXXX\r\n"), "?\r\n") << "a wrong entry key is refused";
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake);
    EXPECT_EQ(b.Say("A.5588#QX47\r\n"), "A.5588\r\n");
    EXPECT_EQ(b.inst.State(), InstrumentState::InLoader);
    EXPECT_EQ(b.inst.ExpectedLine(), (LineSettings{9600, 1}));
}

TEST(Instrument, StartCommandAcknowledgesAndEntersLoader) {
    Bench b(MakeProfile());
    b.Wake();
    EXPECT_EQ(b.Say("A.1200\r\n"), "A.1200!\r\n");
    EXPECT_EQ(b.inst.State(), InstrumentState::InLoader);
}

TEST(Instrument, AMemoryVariantIsToldAndTheLoaderWaitsUntilTheToolHasTakenIt) {
    Bench b(MakeProfile("memory_variant=0\nloader_entry=2005\n"));
    b.Wake();
    EXPECT_EQ(b.Say("A.2005\r\n"), "I.208#0\r\n") << "no acknowledge: the tool answers first";
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake);
    EXPECT_EQ(b.Say("A.1220\r\n"), "A.1220!\r\n");
    EXPECT_EQ(b.inst.State(), InstrumentState::InLoader);

    Bench plain(MakeProfile("loader_entry=2005\n"));
    plain.Wake();
    EXPECT_EQ(plain.Say("A.2005\r\n"), "A.2005!\r\n") << "without a variant the loader starts";
    EXPECT_EQ(plain.inst.State(), InstrumentState::InLoader);
}

TEST(Instrument, ProbeAnswerOnlyInTheLoader) {
    Bench b(MakeProfile("start=loader\nprobe=68 00 00 68 00 00 00 00 16\n"
                        "probe_answer=h00h:M70\n"));
    EXPECT_EQ(b.Say(std::string("\x68\x00\x00\x68\x00\x00", 6)), "");
    EXPECT_EQ(b.Say(std::string("\x00\x00\x16", 3)), std::string("h00h\x1DM70\x0C\x16"))
        << "a probe split over two reads is recognised";
}

TEST(Instrument, FaultsOnEveryOrOneOccurrence) {
    Bench b(MakeProfile("fault.2003=silent\nfault.2000@2=refuse\nfault.2001=garble\n"
                        "fault.5588=silent\n"));
    b.Wake();
    EXPECT_EQ(b.Say("A.2003\r\n"), "");
    EXPECT_EQ(b.Say("A.2000\r\n"), "I.20#43110.000\r\n");
    EXPECT_EQ(b.Say("A.2000\r\n"), "?\r\n");
    EXPECT_EQ(b.Say("A.2000\r\n"), "I.20#43110.000\r\n");
    std::string garbled = b.Say("A.2001\r\n");
    ASSERT_GE(garbled.size(), 2u);
    EXPECT_TRUE(garbled.ends_with("\r\n"));
    EXPECT_EQ(garbled.find("I.21"), std::string::npos);
    EXPECT_EQ(garbled.substr(0, garbled.size() - 2).find_first_of("\r\n!?"), std::string::npos);
    EXPECT_EQ(b.Say("A.5588#QX47\r\n"), "");
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake) << "a lost command has no effect";
}

TEST(Instrument, HangupFault) {
    Bench b(MakeProfile("fault.2003=hangup\n"));
    b.Wake();
    EXPECT_FALSE(b.inst.HangupRequested());
    b.Say("A.2003\r\n");
    EXPECT_TRUE(b.inst.HangupRequested());
}

// A cable pulled after the answer: the command takes effect and is answered,
// replies due before the hang-up go out, later ones are lost with the line.
TEST(Instrument, LateHangupFaultAnswersThenClosesTheLineAtItsTime) {
    Bench b(MakeProfile("fault.1600=hangup+300\non.1600=A.1600!|@200:I.30#|@200:I.31#\n"));
    b.Wake();
    LineSettings line = b.inst.ExpectedLine();
    b.inst.Receive("A.1600#120000\r\n", &line, 1000);
    EXPECT_EQ(b.inst.LastClock(), "120000");
    EXPECT_EQ(b.inst.NextDue(), 1000u);
    EXPECT_EQ(b.inst.TakeDue(1000), "A.1600!\r\n");
    EXPECT_FALSE(b.inst.HangupRequested());
    EXPECT_EQ(b.inst.NextDue(), 1200u);
    EXPECT_EQ(b.inst.TakeDue(1200), "I.30#\r\n");
    EXPECT_EQ(b.inst.NextDue(), 1300u) << "the hang-up wakes the owner too";
    EXPECT_EQ(b.inst.TakeDue(5000), "") << "the reply due after the hang-up is lost";
    EXPECT_TRUE(b.inst.HangupRequested());
    EXPECT_EQ(b.inst.NextDue(), std::nullopt);
}

TEST(Instrument, CuesReplaceRepliesAndKeepTheirDelays) {
    Profile p = MakeProfile("on.1131@1=I.1132#\non.1131=I.1131#1500|@200:A.1131!\n"
                            "reply_delay_ms=10\n");
    p.startMode = 4;
    Bench b(p);
    EXPECT_EQ(b.Say("A.1131\r\n"), "I.1132#\r\n");
    LineSettings line = b.inst.ExpectedLine();
    b.inst.Receive("A.1131\r\n", &line, 1000);
    EXPECT_EQ(b.inst.NextDue(), 1010u);
    EXPECT_EQ(b.inst.TakeDue(1009), "");
    EXPECT_EQ(b.inst.TakeDue(1010), "I.1131#1500\r\n");
    EXPECT_EQ(b.inst.TakeDue(1209), "");
    EXPECT_EQ(b.inst.TakeDue(1210), "A.1131!\r\n");
    EXPECT_FALSE(b.inst.NextDue());
}

TEST(Instrument, ClockCalibrationAndReset) {
    Bench b(MakeProfile());
    b.Wake();
    EXPECT_EQ(b.Say("A.1600#694224000\r\nA.6162#1013.2\r\n"), "A.1600!\r\nA.6162!\r\n");
    EXPECT_EQ(b.inst.LastClock(), "694224000");
    EXPECT_EQ(b.inst.LastCalibration(), "1013.2");
    EXPECT_EQ(b.Say("U.606\r\n"), "");
    EXPECT_EQ(b.inst.State(), InstrumentState::Asleep);
}

TEST(Instrument, LabFileTransferWithBinaryBlocks) {
    Bench b(MakeProfile());
    b.Wake();
    EXPECT_EQ(b.Say("A.12000#data.bin\r\n"), "A.12000!\r\n");
    std::string block = std::string("A.12010#") + '\x05' + std::string("a\r\n\0b", 5);
    EXPECT_EQ(b.Say(block.substr(0, 10)), "");
    EXPECT_EQ(b.Say(block.substr(10)), "A.12010!\r\n");
    EXPECT_EQ(b.Say(std::string("A.12010#") + '\x00'), "A.12010!\r\n");
    EXPECT_EQ(b.Say("A.12030\r\n"), "A.12030!\r\n");
    ASSERT_EQ(b.inst.LabFiles().size(), 1u);
    EXPECT_EQ(b.inst.LabFiles()[0].name, "data.bin");
    EXPECT_EQ(b.inst.LabFiles()[0].data, std::string("a\r\n\0b", 5));
    EXPECT_TRUE(b.inst.LabFiles()[0].complete);
}

// What the firmware refuses has no effect: a file is stored only between
// its opening and its close.
TEST(Instrument, LabCommandsOutOfOrderAreRefused) {
    Bench b(MakeProfile());
    b.Wake();
    EXPECT_EQ(b.Say(std::string("A.12010#") + '\x01' + "x"), "?\r\n") << "data without a file";
    EXPECT_EQ(b.Say("A.12030\r\n"), "?\r\n") << "a close without a file";
    EXPECT_EQ(b.Say("A.12000#a.dat\r\n"), "A.12000!\r\n");
    EXPECT_EQ(b.Say("A.12000#b.dat\r\n"), "?\r\n") << "an open over an open file";
    EXPECT_EQ(b.Say(std::string("A.12010#") + '\x02' + "ab"), "A.12010!\r\n");
    EXPECT_EQ(b.Say("A.12030\r\n"), "A.12030!\r\n");
    EXPECT_EQ(b.Say("A.12030\r\n"), "?\r\n") << "closed twice";
    ASSERT_EQ(b.inst.LabFiles().size(), 1u);
    EXPECT_EQ(b.inst.LabFiles()[0].name, "a.dat");
    EXPECT_EQ(b.inst.LabFiles()[0].data, "ab");
}

// The stand-in loader of the instruments an external tool programs keeps
// what the tool sends and starts nothing it was not given.
TEST(Instrument, StubLoaderKeepsTheToolsFileAndOnlyThenStartsTheFirmware) {
    Bench b(MakeProfile("start=loader\nprobe_leave=5AA5\non.restart=I.30#\n"));
    EXPECT_EQ(b.Say("\x5A\xA5"), "") << "nothing programmed, nothing to start";
    EXPECT_EQ(b.inst.State(), InstrumentState::InLoader);
    EXPECT_EQ(b.Say("FILE Z70 DE"), "");
    EXPECT_EQ(b.Say("F.MOT 4\nZ\x5A\xA5"), "") << "the leave bytes inside the file are data";
    EXPECT_EQ(b.Say("!\x5A\xA5"), "I.30#\r\n");
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake);
    ASSERT_EQ(b.inst.LabFiles().size(), 1u);
    EXPECT_EQ(b.inst.LabFiles()[0].name, "Z70 DEF.MOT");
    EXPECT_EQ(b.inst.LabFiles()[0].data, "Z\x5A\xA5!");
}

TEST(Instrument, SwitchedOffItHearsNothingUntilSwitchedOn) {
    Bench b(MakeProfile("power=off\nstart=loader\nprobe_answer=90\n"));
    EXPECT_EQ(b.Say("\x80"), "");
    b.inst.SwitchOn();
    EXPECT_EQ(b.Say("\x80"), "\x90");
}

// The line faults count from the transfer's start (here the lab file opening)
// and strike once.
TEST(Instrument, LineFaultsStrikeOnceAtTheCountedByte) {
    const std::string lab = "line.fault.during=lab\nline.fault.at=9\n";
    Bench refusing(MakeProfile(lab + "line.fault=refuse\nline.fault.count=2\n"));
    refusing.Wake();
    refusing.Say("A.12000#f\r\n");
    EXPECT_EQ(refusing.Say("A.1000\r\nA.1000\r\nA.1000\r\nA.1000\r\n"),
              "A.1000!\r\n?\r\n?\r\nA.1000!\r\n");

    Bench dropping(MakeProfile(lab + "line.fault=drop\n"));
    dropping.Wake();
    dropping.Say("A.12000#f\r\n");
    EXPECT_EQ(dropping.Say("A.1000\r\nA.2100\r\nA.2100\r\n"), "A.1000!\r\nA.2100!\r\n")
        << "the second command lost its A";

    Bench silent(MakeProfile(lab + "line.fault=silent\n"));
    silent.Wake();
    silent.Say("A.12000#f\r\n");
    EXPECT_EQ(silent.Say("A.1000\r\n"), "A.1000!\r\n");
    EXPECT_EQ(silent.Say("A.1000\r\n"), "");

    // Garbage from a search at another speed is no byte of the transfer.
    Bench searched(MakeProfile("start=loader\nprobe_answer=90\nline.fault=silent\n"
                               "line.fault.at=2\n"));
    LineSettings search{1200, 2};
    searched.inst.Receive("\r\n\r\nA.1111\r\n", &search, 0);
    searched.inst.TakeDue(~0ull); // what it made of the garbage
    EXPECT_EQ(searched.Say("\x80"), "\x90");
    EXPECT_EQ(searched.Say("\x80"), "");

    Bench garbling(MakeProfile(lab + "line.fault=flip\n"));
    garbling.Wake();
    garbling.Say("A.12000#f\r\n");
    EXPECT_EQ(garbling.Say("A.1000\r\nA.1000\r\n"), "A.1000!\r\n@.1000!\r\n")
        << "one bit of the middle byte";
}

TEST(Instrument, SpeedFaultGarblesTheRepliesDueThenAndNoMore) {
    Bench b(MakeProfile("line.fault.during=lab\nline.fault.at=9\nline.fault=speed\n"));
    b.Wake();
    b.Say("A.12000#f\r\n");
    const std::string clean = "A.1000!\r\nA.1000!\r\n";
    const std::string hit = b.Say("A.1000\r\nA.1000\r\n");
    EXPECT_NE(hit, clean);
    EXPECT_LT(hit.size(), clean.size()) << "a receiver at half the speed reads fewer bytes";
    EXPECT_EQ(b.Say("A.1000\r\n"), "A.1000!\r\n");
}

TEST(Instrument, EndlessLineIsDiscarded) {
    Bench b(MakeProfile());
    b.Wake();
    EXPECT_EQ(b.Say(std::string(100000, 'x')), "");
    EXPECT_EQ(b.Say("\r\nA.2003\r\n"), "I.23#43110.201\r\n");
}

// A loader plugged in through the interface: programs what it receives at 0x1000
// and restarts the firmware on "!".
class EchoLoader : public Loader {
public:
    LineSettings Line() const override { return {19200, 1}; }
    void Receive(std::string_view bytes, LoaderContext& ctx) override {
        if (bytes == "!") {
            ctx.LeaveLoader();
            return;
        }
        ctx.Flash().Program(0x1000, bytes);
        ctx.Send("ok");
    }
};

TEST(Instrument, PluggedLoaderProgramsFlashAndRestartsFirmware) {
    Bench b(MakeProfile("on.restart=I.30#\nold_image=blank\n"), std::make_unique<EchoLoader>());
    b.Wake();
    EXPECT_EQ(b.Say("A.5588#QX47\r\n\x12\x34"), "A.5588\r\nok")
        << "bytes after the entry command go to the loader";
    EXPECT_EQ(b.inst.ExpectedLine(), (LineSettings{19200, 1}));
    EXPECT_EQ(b.Say("!"), "I.30#\r\n");
    EXPECT_EQ(b.inst.State(), InstrumentState::Awake);
    EXPECT_EQ(b.inst.LoaderExits(), 1u);
    EXPECT_EQ(b.inst.Memory().At(0x1000), 0x12);
    EXPECT_EQ(b.inst.Memory().At(0x1001), 0x34);
}

TEST(FlashMemory, ProgramsOnlyClearBitsAndStaysInRange) {
    FlashMemory f(0x1000, 0x100);
    EXPECT_TRUE(f.Program(0x1000, "\x0F"));
    EXPECT_TRUE(f.Program(0x1000, "\xF1"));
    EXPECT_EQ(f.At(0x1000), 0x01) << "no erase between writes";
    EXPECT_FALSE(f.Program(0x10FF, "ab"));
    EXPECT_FALSE(f.Program(0x0FFF, "a"));
    EXPECT_EQ(f.At(0x10FF), 0xFF);
    EXPECT_FALSE(f.Erase(0x1080, 0x81));
    EXPECT_TRUE(f.Erase(0x1000, 0x100));
    EXPECT_EQ(f.At(0x1000), 0xFF);
    std::string out;
    EXPECT_FALSE(f.Read(0x10F0, 0x11, out));
}

TEST(FlashMemory, TiTxtDumpListsProgrammedRuns) {
    FlashMemory f(0x1000, 0x1000);
    f.Program(0x1100, std::string(17, '\xAA'));
    f.Program(0x1F00, std::string("\x00\xFF", 2));
    EXPECT_EQ(f.ToTiTxt(), "@1100\n"
                           "AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA\n"
                           "AA\n"
                           "@1F00\n"
                           "00 FF\n"
                           "q\n");
}

} // namespace
} // namespace sim
