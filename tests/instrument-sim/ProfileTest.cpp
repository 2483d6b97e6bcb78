#include "tools/instrument-sim/Profile.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace sim {
namespace {

const std::string kMinimal = "start_mode=0\nbaud=4800\nstop_bits=2\npcb=43110.201\n"
                             "device=43110.000\nversion=1.23,1.10\nserial=12345678\n";

ProfileResult Parse(const std::string& extra) {
    return ParseProfile(kMinimal + extra);
}

TEST(Profile, MinimalProfileTakesDefaults) {
    ProfileResult r = ParseProfile("# comment\n\n" + kMinimal);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.profile.line, (LineSettings{4800, 2}));
    EXPECT_EQ(r.profile.loaderLine, (LineSettings{9600, 1}));
    EXPECT_EQ(r.profile.version, "1.23,1.10");
    EXPECT_EQ(r.profile.loader, "none");
    EXPECT_TRUE(r.profile.oldImage) << "a missed erase must show";
    EXPECT_FALSE(r.profile.silentAfterRestart);
    EXPECT_FALSE(r.profile.startInLoader);
}

TEST(Profile, EveryMissingRequiredKeyIsNamed) {
    for (const char* key :
         {"start_mode", "baud", "stop_bits", "pcb", "device", "version", "serial"}) {
        std::string text;
        for (std::size_t pos = 0; pos < kMinimal.size();) {
            std::size_t nl = kMinimal.find('\n', pos);
            std::string line = kMinimal.substr(pos, nl - pos);
            if (!line.starts_with(std::string(key) + "="))
                text += line + "\n";
            pos = nl + 1;
        }
        ProfileResult r = ParseProfile(text);
        EXPECT_FALSE(r.ok) << key;
        EXPECT_NE(r.error.find(key), std::string::npos) << r.error;
    }
}

TEST(Profile, BadInputGivesLineNumberAndReason) {
    struct Case {
        std::string text;
        std::string expect;
    } cases[] = {
        {"garbage without equals", "line 8"},
        {"baud=4801", "baud"},
        {"stop_bits=3", "stop_bits"},
        {"start_mode=6", "start_mode"},
        {"colour=blue", "unknown key"},
        {"pcb=again", "twice"},
        {"on.12ab=x", "on."},
        {"on.1131@0=x", "on."},
        {"fault.2003=explode", "fault"},
        {"on.2003=I.23#\\q", "escape"},
        {"on.2003=@abc:I.23#", "delay"},
        {"probe=8G", "probe"},
        {"probe_answer=h22h:X", "probe_answer"},
        {"id_replies=1,2,3", "id_replies"},
        {"flash_size=0", "flash"},
        {"flash_start=0xFFFFFFF0\nflash_size=0x100", "flash"},
        {"reply_delay_ms=-1", "reply_delay_ms"},
        {"old_image=new", "old_image"},
        {"after_restart=asleep", "after_restart"},
        {"ack=plain", "unknown key"},
        {"memory_variant=01", "memory_variant"},
        {"=value", "empty key"},
        {"name=" + std::string(kMaxProfileText + 1, 'n'), "too long"},
        {std::string(kMaxProfileLine + 1, 'x'), "longer than"},
        {std::string("name=a\0b", 8), "NUL"},
    };
    for (const Case& c : cases) {
        ProfileResult r = Parse(c.text);
        EXPECT_FALSE(r.ok) << c.text.substr(0, 60);
        EXPECT_NE(r.error.find(c.expect), std::string::npos) << r.error;
    }
}

TEST(Profile, CuesSplitLinesWithDelaysAndEscapes) {
    ProfileResult r = Parse("on.1131=I.1131#2000|@250:A.1131!\non.1131@2=\n"
                            "on.2003=I.23#a\\|b\\x41\n");
    ASSERT_TRUE(r.ok) << r.error;
    const auto& every = r.profile.cues.at({1131, 0});
    ASSERT_EQ(every.size(), 2u);
    EXPECT_EQ(every[0].bytes, "I.1131#2000");
    EXPECT_EQ(every[1].delayMs, 250u);
    EXPECT_EQ(every[1].bytes, "A.1131!");
    EXPECT_TRUE(r.profile.cues.at({1131, 2}).empty());
    EXPECT_EQ(r.profile.cues.at({2003, 0}).at(0).bytes, "I.23#a|bA");
}

TEST(Profile, ProbeAnswersBuildTheBinaryFrames) {
    struct Case {
        std::string value;
        std::string bytes;
    } cases[] = {
        {"h00h:M70", std::string("h00h\x1DM70\x0C\x16")},
        {"h11h:M70", std::string("h11h\x1EM70\x0A\x16")},
        {"h,,h:M70", std::string("h,,h\x19M70\x0C\x16")},
        {"90", "\x90"},
        {"Q", "Q"},
        {"hex:68 30", "h0"},
        {"none", ""},
    };
    for (const Case& c : cases) {
        ProfileResult r = Parse("probe_answer=" + c.value);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.profile.probeAnswer, c.bytes) << c.value;
    }
}

TEST(Profile, FaultsAndLoaderKeys) {
    ProfileResult r = Parse(
        "fault.2000=silent\nfault.2001@2=garble\nloader.chip=F26F\nid_replies=203,200,201,205");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.profile.faults.at({2000, 0}), FaultKind::Silent);
    EXPECT_EQ(r.profile.faults.at({2001, 2}), FaultKind::Garble);
    ProfileResult late = Parse("fault.1600@1=hangup+2500\n");
    ASSERT_TRUE(late.ok) << late.error;
    EXPECT_EQ(late.profile.faults.at({1600, 1}), FaultKind::LateHangup);
    EXPECT_EQ(late.profile.lateHangupMs.at({1600, 1}), 2500u);
    EXPECT_FALSE(Parse("fault.1600=hangup+\n").ok);
    EXPECT_FALSE(Parse("fault.1600=hangup+soon\n").ok);
    EXPECT_EQ(r.profile.loaderKeys.at("loader.chip"), "F26F");
    EXPECT_EQ(r.profile.idReplies[3], 205);
}

TEST(Profile, LoadReportsMissingFileAndShipsAValidMeterProfile) {
    ProfileResult missing = LoadProfile("/nonexistent/meter.profile");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("/nonexistent/meter.profile"), std::string::npos);

    ProfileResult meter = LoadProfile(SIM_SOURCE_DIR "/profiles/meter.profile");
    ASSERT_TRUE(meter.ok) << meter.error;
    EXPECT_EQ(meter.profile.line, (LineSettings{4800, 2}));
}

TEST(Profile, OversizedFileIsRefused) {
    std::string path = testing::TempDir() + "/huge.profile";
    {
        std::ofstream out(path);
        std::string comment = "#" + std::string(1000, 'c') + "\n";
        for (int i = 0; i < 1100; ++i)
            out << comment;
    }
    ProfileResult r = LoadProfile(path);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("larger"), std::string::npos) << r.error;
}

} // namespace
} // namespace sim
