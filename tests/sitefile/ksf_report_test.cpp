// ksf check and ksf report, run as a person runs them: verdicts, exit codes,
// the JSON's shape, and the report's contents read back from the PDF and the
// HTML (pdftotext, from poppler-utils, reads the PDF).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "command_run.h"
#include "site_builder.h"

namespace {

using namespace sitefile_test;
using nlohmann::ordered_json;

using Outcome = CommandRun;

uint8_t Dbm(int dbm) {
    return static_cast<uint8_t>(static_cast<int8_t>(dbm));
}

std::vector<uint8_t> Mac(uint8_t id) {
    return {0x00, 0x1D, 0x7E, 0x4A, 0x10, id};
}

class KsfReport : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kestrow_ksfreport_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        // Six points over an 80 x 60 map, each hearing two access points
        // well: voice passes everywhere.
        PointsBytes good;
        for (int y : {10, 50}) {
            for (int x : {10, 40, 70}) {
                good.Point(x, y, "P", 2)
                    .Entry(36, 0, Dbm(-50), Mac(1), "Corp")
                    .Entry(149, 0, Dbm(-55), Mac(2), "Corp");
            }
        }
        passing = Write("passing.ksf", good);
        // The same places with one access point each, some weak; an SSID
        // that needs escaping and one in Latin-1; a point that heard nothing.
        PointsBytes mixed;
        mixed.Point(10, 10, "Door <1>", 2)
            .Entry(36, 0, Dbm(-50), Mac(1), "Corp")
            .Entry(52, 0, Dbm(-80), Mac(3), "<Lab & Co>")
            .Point(40, 10, "Hall", 1)
            .Entry(149, 0, Dbm(-71), Mac(2), "Corp")
            .Point(70, 10, "Caf\xE9", 1)
            .Entry(44, 0, Dbm(-60), Mac(4), "Caf\xE9")
            .Point(10, 50, "Store", 0)
            .Point(40, 50, "Desk", 2)
            .Entry(36, 0, Dbm(-62), Mac(1), "Corp")
            .Entry(149, 0, Dbm(-64), Mac(2), "Corp");
        failing = Write("failing.ksf", mixed);
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    std::string Write(const std::string& name, const PointsBytes& points) {
        const std::string path = dir + "/" + name;
        const std::vector<uint8_t> bytes = SiteWithPoints(PatternMap(80, 60), points.bytes);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    Outcome Ksf(const std::string& args) {
        return RunCommand(std::string(KSF_PATH) + " " + args, dir);
    }
    // The text of a PDF, as pdftotext reads it.
    std::string PdfText(const std::string& pdf) {
        const Outcome run = RunCommand("pdftotext " + pdf + " -", dir);
        EXPECT_EQ(run.status, 0) << "pdftotext (poppler-utils) must read the report: " << run.err;
        return run.out;
    }

    std::string dir;
    std::string passing;
    std::string failing;
};

std::vector<std::string> Keys(const ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.push_back(key);
    }
    return keys;
}

TEST_F(KsfReport, CheckPassesExitsZeroFailsExitsOneAndPrintsItsJsonShape) {
    const Outcome pass = Ksf("check " + passing + " --profile voice");
    EXPECT_EQ(pass.status, 0) << pass.out << pass.err;
    EXPECT_NE(pass.out.find("points: 6 of 6 pass\n"), std::string::npos) << pass.out;
    EXPECT_NE(pass.out.find("area: 100.0% of "), std::string::npos) << pass.out;
    EXPECT_NE(pass.out.find("verdict: pass\n"), std::string::npos) << pass.out;

    const Outcome fail = Ksf("check " + failing + " --profile voice --format json");
    EXPECT_EQ(fail.status, 1) << fail.err;
    const ordered_json j = ordered_json::parse(fail.out);
    EXPECT_EQ(Keys(j), (std::vector<std::string>{"profile", "pass", "points", "area"}));
    EXPECT_EQ(j["profile"], "voice");
    EXPECT_EQ(j["pass"], false);
    EXPECT_EQ(Keys(j["points"]), (std::vector<std::string>{"total", "pass", "failing"}));
    EXPECT_EQ(j["points"]["total"], 5);
    EXPECT_EQ(j["points"]["pass"], 1) << "Desk hears two at -62 and -64";
    const ordered_json& first = j["points"]["failing"][0];
    EXPECT_EQ(Keys(first), (std::vector<std::string>{"x", "y", "name", "reason"}));
    EXPECT_TRUE(first["x"].is_number_integer());
    EXPECT_EQ(first["name"], "Door <1>");
    EXPECT_EQ(first["reason"], "second radio -80 dBm < -67 on 5 GHz");
    EXPECT_EQ(j["points"]["failing"][1]["reason"],
              "strongest -71 dBm < -67 on 5 GHz; second radio -100 dBm < -67");
    EXPECT_EQ(j["points"]["failing"][2]["name"], "Caf\xC3\xA9") << "Latin-1 read as such";
    EXPECT_EQ(Keys(j["area"]), (std::vector<std::string>{"cells", "pass_percent"}));
    EXPECT_GT(j["area"]["cells"].get<int>(), 100);
    const double percent = j["area"]["pass_percent"];
    EXPECT_DOUBLE_EQ(std::round(percent * 10) / 10, percent) << "one decimal";

    // The verdict is the area against the minimum, whatever the points say.
    EXPECT_EQ(Ksf("check " + failing + " --profile voice --min-area 0").status, 0);
    // A profile file, here narrowing the access points judged.
    std::ofstream(dir + "/corp.json") << R"({"name": "corp", "min_strongest_dbm": -70,
                                             "ssids": ["Corp"]})";
    const Outcome corp = Ksf("check " + failing + " --profile " + dir + "/corp.json --format json");
    const ordered_json c = ordered_json::parse(corp.out);
    EXPECT_EQ(c["profile"], "corp");
    EXPECT_EQ(c["points"]["pass"], 2) << corp.out << "the Cafe access point does not count";
}

// What cannot be true is left out by name, in the text, the JSON and the
// pictures' warning; a name from the file cannot drive the terminal.
TEST_F(KsfReport, ImpossibleRecordsAreListedAsIgnoredAndNamesPrintEscaped) {
    PointsBytes odd;
    odd.Point(10, 10, "\x1b[31mRed", 1)
        .Entry(36, 0, Dbm(-75), Mac(1), "Corp")
        .Point(90, 10, "Off", 0)
        .Point(40, 40, "Loud", 1)
        .Entry(36, 0, 0x15, Mac(2), "Corp");
    const std::string site = Write("odd.ksf", odd);
    const Outcome text = Ksf("check " + site + " --profile voice");
    EXPECT_EQ(text.status, 1) << text.err;
    EXPECT_NE(text.out.find("ignored: point Off at (90, 10) lies off the 80 x 60 map\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("a level of +21 dBm is impossible"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << "escaped: " << text.out;
    EXPECT_NE(text.out.find("\\x1b[31mRed"), std::string::npos) << text.out;
    const ordered_json j =
        ordered_json::parse(Ksf("check " + site + " --profile voice --format json").out);
    EXPECT_EQ(j["ignored"].size(), 2u);
    const Outcome heatmap = Ksf("heatmap " + site + " -o " + dir + "/odd.png");
    EXPECT_EQ(heatmap.status, 0) << heatmap.err;
    EXPECT_NE(heatmap.err.find("ksf: warning: ignored: "), std::string::npos) << heatmap.err;
}

TEST_F(KsfReport, CheckUsageErrorsExitTwoAndUnreadableSitesThree) {
    std::ofstream(dir + "/typo.json") << R"({"name": "typo", "min_strongest": -67})";
    const char* usage[] = {
        "check SITE",
        "check --profile voice",
        "check SITE --profile office",
        "check SITE --profile DIR/typo.json",
        "check SITE --profile voice --min-area 101",
        "check SITE --profile voice --min-area most",
        "check SITE --profile voice --format xml",
    };
    for (std::string args : usage) {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"SITE", failing},
                                       std::pair<std::string, std::string>{"DIR", dir}}) {
            const size_t at = args.find(from);
            if (at != std::string::npos) {
                args.replace(at, from.size(), to);
            }
        }
        const Outcome run = Ksf(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args << ": " << run.err;
    }

    EXPECT_EQ(Ksf("check " + dir + "/missing.ksf --profile voice").status, 3);
    std::ofstream(dir + "/text.ksf") << "not a site file";
    const Outcome notSite = Ksf("check " + dir + "/text.ksf --profile voice");
    EXPECT_EQ(notSite.status, 3);
    EXPECT_NE(notSite.err.find("Not a Site File."), std::string::npos) << notSite.err;
}

// The PDF holds every access point and the very figure check gives; its
// sections come in order; text from the air comes out as text; two reports
// are the same bytes.
TEST_F(KsfReport, PdfCarriesEveryAccessPointAndChecksFigureTheSameEveryTime) {
    const Outcome check = Ksf("check " + failing + " --profile data --format json");
    char figure[16];
    std::snprintf(figure, sizeof figure, "%.1f%%",
                  ordered_json::parse(check.out)["area"]["pass_percent"].get<double>());

    const std::string pdf = dir + "/report.pdf";
    const Outcome run = Ksf("report " + failing + " -o " + pdf + " --profile data");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string text = PdfText(pdf);
    for (const char* bssid :
         {"00:1d:7e:4a:10:01", "00:1d:7e:4a:10:02", "00:1d:7e:4a:10:03", "00:1d:7e:4a:10:04"}) {
        EXPECT_NE(text.find(bssid), std::string::npos) << bssid;
    }
    EXPECT_NE(text.find(figure), std::string::npos) << figure << " in\n" << text;
    EXPECT_NE(text.find("<Lab & Co>"), std::string::npos);
    EXPECT_NE(text.find("Caf\xC3\xA9"), std::string::npos);
    EXPECT_NE(text.find("failing.ksf"), std::string::npos);
    size_t at = 0;
    for (const char* section :
         {"Signed off", "Coverage: strongest signal", "Requirement: data", "Coverage per SSID",
          "Access points", "Method", "Leave-one-out error", "Survey points"}) {
        const size_t found = text.find(section, at);
        EXPECT_NE(found, std::string::npos) << section << " after the one before";
        at = found == std::string::npos ? at : found;
    }

    // A page holds its own lines only (the next section's heading is not
    // drawn, clipped, at its foot).
    const Outcome cover = RunCommand("pdftotext -f 1 -l 1 " + pdf + " -", dir);
    EXPECT_EQ(cover.out.find("Coverage"), std::string::npos) << cover.out;

    // Another run, in another time zone: the same bytes.
    const std::string again = dir + "/again.pdf";
    ASSERT_EQ(RunCommand("TZ=Asia/Kolkata " + std::string(KSF_PATH) + " report " + failing +
                             " -o " + again + " --profile data",
                         dir)
                  .status,
              0);
    EXPECT_TRUE(ReadText(pdf) == ReadText(again)) << "two reports of one site differ";
}

TEST_F(KsfReport, HtmlIsOneSelfContainedFileTheSameEveryTime) {
    const std::string html = dir + "/report.html";
    ASSERT_EQ(Ksf("report " + failing + " -o " + html).status, 0);
    const std::string text = ReadText(html);
    ASSERT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
    // Every picture inside, nothing fetched from elsewhere.
    const std::regex reference(R"((src|href)\s*=\s*"([^"]*)\")");
    int pictures = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), reference);
         it != std::sregex_iterator(); ++it) {
        EXPECT_EQ((*it)[2].str().rfind("data:image/png;base64,", 0), 0u)
            << (*it)[0].str().substr(0, 80);
        ++pictures;
    }
    EXPECT_GE(pictures, 3);
    for (const char* outside : {"http:", "https:", "<link", "url(", "@import", "<script"}) {
        EXPECT_EQ(text.find(outside), std::string::npos) << outside;
    }
    // Text from the air, escaped.
    EXPECT_NE(text.find("&lt;Lab &amp; Co&gt;"), std::string::npos);
    EXPECT_EQ(text.find("<Lab"), std::string::npos);
    EXPECT_NE(text.find("Door &lt;1&gt;"), std::string::npos);
    EXPECT_NE(text.find("Caf\xC3\xA9"), std::string::npos);
    EXPECT_NE(text.find("00:1d:7e:4a:10:04"), std::string::npos);

    const std::string again = dir + "/again.html";
    ASSERT_EQ(Ksf("report " + failing + " -o " + again).status, 0);
    EXPECT_TRUE(text == ReadText(again)) << "two reports of one site differ";

    // --ssid: the heatmaps and the table of that SSID only.
    const std::string corp = dir + "/corp.html";
    ASSERT_EQ(Ksf("report " + failing + " -o " + corp + " --ssid Corp").status, 0);
    const std::string corpText = ReadText(corp);
    EXPECT_NE(corpText.find("00:1d:7e:4a:10:02"), std::string::npos);
    EXPECT_EQ(corpText.find("00:1d:7e:4a:10:03"), std::string::npos);
}

// A site whose radios each send two SSIDs, with the Wi-Fi adapter's
// frequencies and noise in its sidecar: the report names the method it used,
// groups BSSIDs by radio, shows the bands and the SNR map, and carries the
// cover's fields, which ksf stores in the sidecar.
TEST_F(KsfReport, ReportShowsRadiosBandsNoiseTheMethodUsedAndTheCoverFields) {
    PointsBytes points;
    for (int x : {10, 40, 70}) {
        points.Point(x, 30, "P", 3)
            .Entry(1, 0, Dbm(-50), Mac(0x10), "Staff")
            .Entry(1, 0, Dbm(-51), Mac(0x11), "Guest")
            .Entry(36, 0, Dbm(-63 - x / 10), Mac(0x20), "Staff");
    }
    const std::string site = Write("radios.ksf", points);
    std::ofstream(site + ".meta.json") << R"({"bssids": {
        "00:1d:7e:4a:10:10": {"frequency": 5955, "width_mhz": 160},
        "00:1d:7e:4a:10:11": {"frequency": 5955, "width_mhz": 160}},
      "noise": [{"x": 10, "y": 30, "frequency": 5955, "noise_dbm": -92},
                {"x": 40, "y": 30, "frequency": 5955, "noise_dbm": -80}],
      "estimated_levels": [{"x": 40, "y": 30}]})";

    const Outcome json = Ksf("points " + site + " --format json");
    const ordered_json all = ordered_json::parse(json.out);
    const ordered_json aps = all[0]["aps"];
    EXPECT_EQ(aps[0]["band"], "6") << "channel 1 at 5955 MHz";
    EXPECT_EQ(aps[2]["band"], "5");
    // The point where the adapter gave only a signal quality is marked.
    EXPECT_EQ(all[0]["levels_estimated"], false);
    EXPECT_EQ(all[1]["levels_estimated"], true);

    const Outcome check = Ksf("check " + site + " --profile voice");
    EXPECT_NE(check.out.find("second radio -70 dBm < -67 on 5 GHz"), std::string::npos)
        << check.out;

    const std::string html = dir + "/radios.html";
    const Outcome run =
        Ksf("report " + site + " -o " + html +
            " --method idw --customer 'Acme <Ltd>' --surveyor Kim --notes 'Floor 2'");
    ASSERT_EQ(run.status, 0) << run.err;
    std::string text = ReadText(html);
    for (const char* shown : {"inverse-distance weighting", "Acme &lt;Ltd&gt;", "Kim", "Floor 2",
                              "3 BSSIDs on 2 radios", "Coverage per band", "Signal to noise",
                              "6 GHz", "SNR", "estimated from a signal quality at 1 of 3 points"}) {
        EXPECT_NE(text.find(shown), std::string::npos) << shown;
    }
    EXPECT_NE(ReadText(site + ".meta.json").find("\"customer\": \"Acme <Ltd>\""),
              std::string::npos);

    // The fields stay; the method follows --method.
    ASSERT_EQ(Ksf("report " + site + " -o " + html).status, 0);
    text = ReadText(html);
    EXPECT_NE(text.find("path-loss trend"), std::string::npos);
    EXPECT_EQ(text.find("inverse-distance weighting"), std::string::npos);
    EXPECT_NE(text.find("Acme &lt;Ltd&gt;"), std::string::npos);

    // The scanner unit's survey has no noise: asking for SNR says so.
    const Outcome snr = Ksf("heatmap " + failing + " -o " + dir + "/snr.png --metric snr");
    EXPECT_EQ(snr.status, 0);
    EXPECT_NE(snr.err.find("no noise measurement"), std::string::npos) << snr.err;
}

TEST_F(KsfReport, ReportRefusesBadUsageAndLeavesNoFileOnFailure) {
    const std::string out = dir + "/out.pdf";
    for (const std::string& args :
         {"report " + failing, "report " + failing + " -o " + dir + "/out.txt",
          "report " + failing + " -o " + out + " --profile office",
          "report " + failing + " -o " + out + " --format docx",
          "report " + failing + " -o " + out + " --min-area -5"}) {
        const Outcome run = Ksf(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args << ": " << run.err;
    }
    EXPECT_EQ(Ksf("report " + dir + "/missing.ksf -o " + out).status, 1);
    EXPECT_EQ(Ksf("report " + failing + " -o " + dir + "/no/such/dir/out.pdf").status, 1);
    EXPECT_FALSE(std::ifstream(out).good());
    // --format names the format where the file name does not, e.g. for -o -.
    const Outcome toStdout = Ksf("report " + passing + " -o - --format pdf");
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out.rfind("%PDF-", 0), 0u);
}

}  // namespace
