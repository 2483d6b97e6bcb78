#include "app/ReportWriter.h"

#include "../support/ReportSchema.h"
#include "../support/TempFolder.h"
#include "app/FileDigest.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using testing_support::TempFolder;

TEST(FileDigest, MatchesKnownSha256Vectors) {
    EXPECT_EQ(app::Sha256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(app::Sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    TempFolder folder;
    folder.Write("f.bin", "abc");
    app::FileDigest digest;
    ASSERT_TRUE(app::Sha256OfFile(folder.File("f.bin"), digest));
    EXPECT_EQ(digest.Size, 3u);
    EXPECT_EQ(digest.Sha256, app::Sha256Hex("abc"));
    EXPECT_FALSE(app::Sha256OfFile(folder.File("missing"), digest));
}

TEST(ReportWriter, InstrumentBytesBecomeTextAndTheFileAppearsWhole) {
    app::SessionReport report;
    // Latin-1 and stray control bytes, as a damaged reply line may bring.
    report.Identity = app::ReportIdentity{"\xFF\xFE", "43110.000", "Ger\xE4t", "\x01\x80", "1.23"};
    report.Boxes.push_back({"Fehler", "Falsches Ger\xE4t"});
    report.Finish(1);
    const std::string json = app::ReportJson(report, "1.0");
    EXPECT_NE(json.find("\"name\": \"Ger\xC3\xA4t\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"pcb_number\": \"\xC3\xBF\xC3\xBE\""), std::string::npos) << json;

    TempFolder folder;
    std::string error;
    ASSERT_TRUE(app::WriteReport(report, "1.0", folder.File("r.json"), error)) << error;
    EXPECT_EQ(folder.Read("r.json"), json);
    testing_support::ReadValidatedReport(folder.File("r.json"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.File("")),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left behind";
    EXPECT_FALSE(app::WriteReport(report, "1.0", folder.File("none/r.json"), error));
    EXPECT_NE(error.find("none/r.json"), std::string::npos) << error;
}

// The schema must be able to say no, or validating every report proves nothing.
TEST(ReportSchema, RefusesReportsThatBreakIt) {
    app::SessionReport report;
    report.Finish(0);
    const std::string good = app::ReportJson(report, "1.0");
    TempFolder folder;
    folder.Write("good.json", good);
    EXPECT_EQ(testing_support::ReportSchemaViolations(folder.File("good.json")), "");
    const std::pair<const char*, const char*> breaks[] = {
        {"\"exit_code\": 0", "\"exit_code\": \"0\""},
        {"\"outcome\": \"aborted\"", "\"outcome\": \"fine\""},
        {"\"report_version\": 2", "\"report_version\": 2, \"surprise\": 1"},
        {"\"report_version\": 2", "\"report_version\": 1"},
        {"\"started\": \"", "\"started\": \"yesterday "},
    };
    for (const auto& [what, with] : breaks) {
        std::string bad = good;
        const std::size_t at = bad.find(what);
        ASSERT_NE(at, std::string::npos) << what;
        bad.replace(at, std::string(what).size(), with);
        folder.Write("bad.json", bad);
        EXPECT_NE(testing_support::ReportSchemaViolations(folder.File("bad.json")), "") << with;
    }
}

// The cause of a failed run, as a calling script reads it; a cause left
// from a step that failed and then succeeded on retry is not reported.
TEST(ReportWriter, AFailedRunNamesItsStepCauseAndDetail) {
    app::SessionReport report;
    report.BeginSession();
    report.Step = app::step::Transfer;
    report.Fail();
    report.Failure = {"transfer", "COM3 (/dev/ttyUSB0): read: hung up (EIO)", "",
                      platform::SerialResult::HungUp, 5};
    report.Finish(1);
    TempFolder folder;
    std::string error;
    ASSERT_TRUE(app::WriteReport(report, "1.0", folder.File("r.json"), error)) << error;
    const auto json = testing_support::ReadValidatedReport(folder.File("r.json"));
    EXPECT_EQ(json["report_version"], 2);
    EXPECT_EQ(json["failure"]["step"], "transfer");
    EXPECT_EQ(json["failure"]["cause"], "COM3 (/dev/ttyUSB0): read: hung up (EIO)");
    EXPECT_TRUE(json["failure"]["detail"].is_null());

    // Latin-1 from the instrument's reply becomes UTF-8 in the detail.
    report.Failure = {"check", "refused", "Ger\xE4t?"};
    EXPECT_NE(app::ReportJson(report, "1.0").find("\"detail\": \"Ger\xC3\xA4t?\""),
              std::string::npos);

    report.Decide(app::outcome::Updated);
    std::string updated = app::ReportJson(report, "1.0");
    const std::size_t none = updated.find("\"failure\": null");
    ASSERT_NE(none, std::string::npos) << updated;
    updated.replace(none, std::string("\"failure\": null").size(),
                    "\"failure\": {\"step\": \"check\", \"cause\": \"x\", \"detail\": null}");
    folder.Write("updated.json", updated);
    EXPECT_NE(testing_support::ReportSchemaViolations(folder.File("updated.json")), "")
        << "a run that did not fail has no cause";

    // The schema holds the writer to a cause and a known step.
    report.Fail();
    folder.Write("good.json", app::ReportJson(report, "1.0"));
    EXPECT_EQ(testing_support::ReportSchemaViolations(folder.File("good.json")), "");
    const std::pair<const char*, const char*> breaks[] = {
        {"\"step\": \"check\"", "\"step\": \"somewhere\""},
        {"\"cause\": \"refused\"", "\"cause\": \"\""},
    };
    for (const auto& [what, with] : breaks) {
        std::string text = app::ReportJson(report, "1.0");
        text.replace(text.find(what), std::string(what).size(), with);
        folder.Write("bad.json", text);
        EXPECT_NE(testing_support::ReportSchemaViolations(folder.File("bad.json")), "") << with;
    }
}

} // namespace
