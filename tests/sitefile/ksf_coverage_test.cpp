// ksf heatmap and ksf scale, run as a person runs them: outputs, files and
// exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "command_run.h"
#include "coverage/rssi_bands.h"
#include "site_builder.h"

namespace {

using namespace sitefile_test;

using KsfRun = CommandRun;

// Runs ksf with the arguments (a shell word list) and collects both outputs.
KsfRun Ksf(const std::string& args, const std::string& dir) {
    return RunCommand(std::string(KSF_PATH) + " " + args, dir);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

uint8_t Dbm(int dbm) {
    return static_cast<uint8_t>(static_cast<int8_t>(dbm));
}

class KsfCoverage : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kestrow_ksfcov_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        site = dir + "/site.ksf";
        // A 40 x 30 map; two points: (10, 10) hears A strongly and B; (30, 20)
        // hears B only.
        PointsBytes p;
        p.Point(10, 10, "P1", 2)
            .Entry(36, 0, Dbm(-45), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x01}, "Corp")
            .Entry(149, 0, Dbm(-72), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x02}, "Guest")
            .Point(30, 20, "P2", 1)
            .Entry(149, 0, Dbm(-58), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x02}, "Guest");
        bytes = SiteWithPoints(PatternMap(40, 30), p.bytes);
        std::ofstream(site, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    // The CSV value at map pixel (x, y) with one-pixel cells: its line.
    static std::string Value(const std::vector<std::string>& lines, int x, int y) {
        const std::string prefix = std::to_string(x) + "," + std::to_string(y) + ",";
        for (const std::string& line : lines) {
            if (line.rfind(prefix, 0) == 0) {
                return line.substr(prefix.size());
            }
        }
        return "missing";
    }

    std::string dir;
    std::string site;
    std::vector<uint8_t> bytes;
};

TEST_F(KsfCoverage, CsvHasOneRowPerCellAndValuesOnlyNearSurveyPoints) {
    const KsfRun run = Ksf("heatmap " + site + " -o - --format csv --cell 4 --radius 6", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u + 10 * 8);
    EXPECT_EQ(lines[0], "x,y,value");
    EXPECT_EQ(lines[1].rfind("1.5,1.5,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[10].rfind("37.5,1.5,", 0), 0u) << lines[10];
    EXPECT_EQ(lines[80].rfind("37.5,28.5,", 0), 0u) << "the last row is cut: " << lines[80];
    int withValue = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(lines[i].c_str(), "%lf,%lf,", &x, &y), 2) << lines[i];
        const bool near = std::hypot(x - 10, y - 10) <= 6 || std::hypot(x - 30, y - 20) <= 6;
        const bool hasValue = lines[i].back() != ',';
        EXPECT_EQ(hasValue, near) << lines[i];
        withValue += hasValue;
    }
    EXPECT_GT(withValue, 4);

    // The same rows to a file.
    const std::string csv = dir + "/map.csv";
    ASSERT_EQ(
        Ksf("heatmap " + site + " -o " + csv + " --format=csv --cell 4 --radius 6", dir).status, 0);
    EXPECT_EQ(ReadText(csv), run.out);

    // Inverse-distance weighting shows each point's own strongest reading there.
    const std::vector<std::string> exact =
        Lines(Ksf("heatmap " + site + " -o - --format csv --cell 1 --method idw", dir).out);
    EXPECT_EQ(Value(exact, 10, 10), "-45.0");
    EXPECT_EQ(Value(exact, 30, 20), "-58.0");
}

TEST_F(KsfCoverage, FiltersAndMetricsChooseWhatTheCellsShow) {
    const auto at = [&](const std::string& options, int x, int y) {
        const KsfRun run =
            Ksf("heatmap " + site + " -o - --format csv --cell 1 --method idw " + options, dir);
        EXPECT_EQ(run.status, 0) << options << ": " << run.err;
        return Value(Lines(run.out), x, y);
    };
    EXPECT_EQ(at("--ssid Guest", 10, 10), "-72.0");
    EXPECT_EQ(at("--bssid 001d7e4a1002", 10, 10), "-72.0");
    EXPECT_EQ(at("--bssid 00:1D:7E:4A:10:02 --bssid 00:1d:7e:4a:10:01", 10, 10), "-45.0");
    EXPECT_EQ(at("--channel 36", 30, 20), "-100.0") << "A was not heard at P2";
    EXPECT_EQ(at("--ssid Corp --channel 149", 10, 10), "-100.0") << "both kinds must match";
    EXPECT_EQ(at("--metric second", 10, 10), "-72.0");
    EXPECT_EQ(at("--metric count", 10, 10), "1");
    EXPECT_EQ(at("--metric count --threshold -80", 10, 10), "2");
    EXPECT_EQ(at("--metric cochannel --threshold -80", 10, 10), "1");
    EXPECT_EQ(at("--metric count --threshold=-40", 10, 10), "0");

    const KsfRun none = Ksf("heatmap " + site + " -o - --format csv --ssid Nobody", dir);
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.err.find("no access point"), std::string::npos) << none.err;
}

// The picture: the map in grey, cells near the points in the band colours.
TEST_F(KsfCoverage, PngIsTheMapInGreyWithTheBandsOverIt) {
    const std::string png = dir + "/map.png";
    ASSERT_EQ(Ksf("heatmap " + site + " -o " + png + " --radius 5 --method idw", dir).status, 0);
    const QImage picture(QString::fromStdString(png));
    ASSERT_EQ(picture.size(), QSize(40, 30));
    // Far from both points: the map's own colour in grey.
    const sitefile::SiteMap map = PatternMap(40, 30);
    const QRgb plan = map.ColorAt(20, 2) & 0xFFFFFF;
    const int grey = qGray(plan);
    EXPECT_EQ(picture.pixel(20, 2) & 0xFFFFFF,
              static_cast<QRgb>(qRgb(grey, grey, grey) & 0xFFFFFF));
    // At P1 (-45 dBm): orange over grey.
    const QColor orange(ColorRefToRgb(kRssiBands[1].colorRef));
    const QColor shown = picture.pixelColor(10, 10);
    const int mapGrey = qGray(map.ColorAt(10, 10));
    EXPECT_GT(shown.red(), mapGrey);
    EXPECT_NEAR(shown.blue(), mapGrey * (255 - 150) / 255 + orange.blue() * 150 / 255, 3);

    // Standard output gives the same bytes.
    const KsfRun toStdout = Ksf("heatmap " + site + " -o - --radius 5 --method idw", dir);
    EXPECT_EQ(toStdout.out, ReadText(png));
}

TEST_F(KsfCoverage, BadValuesAreUsageErrorsAndFailuresLeaveNoFile) {
    const char* usage[] = {
        "heatmap SITE",                     // no output
        "heatmap -o OUT",                   // no site
        "heatmap SITE -o OUT --cell -1",    //
        "heatmap SITE -o OUT --cell 0",     //
        "heatmap SITE -o OUT --cell 2.5",   //
        "heatmap SITE -o OUT --cell 4x",    //
        "heatmap SITE -o OUT --radius -3",  //
        "heatmap SITE -o OUT --radius nan",
        "heatmap SITE -o OUT --metric loudest",
        "heatmap SITE -o OUT --method spline",
        "heatmap SITE -o OUT --format jpg",
        "heatmap SITE -o OUT --threshold loud",
        "heatmap SITE -o OUT --bssid 00:1d:7e:4a:10",
        "heatmap SITE -o OUT --bssid 00:1d:7e:4a:10:0g",
        "heatmap SITE -o OUT --channel 0",
        "heatmap SITE -o OUT --channel 36.5",
        "heatmap SITE -o OUT --ssid",
        "heatmap SITE -o OUT --colour red",
        "heatmap SITE -o SITE",  // the output would replace the site
    };
    for (std::string args : usage) {
        for (size_t at = args.find("SITE"); at != std::string::npos; at = args.find("SITE")) {
            args.replace(at, 4, site);
        }
        const size_t out = args.find("OUT");
        if (out != std::string::npos) {
            args.replace(out, 3, dir + "/out.png");
        }
        const KsfRun run = Ksf(args, dir);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args << ": " << run.err;
    }
    EXPECT_FALSE(std::ifstream(dir + "/out.png").good());

    EXPECT_EQ(Ksf("heatmap " + dir + "/missing.ksf -o " + dir + "/out.png", dir).status, 1);
    std::ofstream(dir + "/text.ksf") << "not a site file";
    const KsfRun notSite = Ksf("heatmap " + dir + "/text.ksf -o " + dir + "/out.png", dir);
    EXPECT_EQ(notSite.status, 1);
    EXPECT_NE(notSite.err.find("Not a Site File."), std::string::npos) << notSite.err;
    const KsfRun unwritable = Ksf("heatmap " + site + " -o " + dir + "/no/such/dir/out.png", dir);
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(std::count(unwritable.err.begin(), unwritable.err.end(), '\n'), 1) << unwritable.err;
    EXPECT_FALSE(std::ifstream(dir + "/out.png").good());
}

// The scale goes beside the site, never into it; info shows it and the
// heatmap's radius becomes 5 m.
TEST_F(KsfCoverage, ScaleIsStoredBesideTheSiteAndSetsTheDefaultRadius) {
    const std::string meta = site + ".meta.json";
    const auto csv = [&](const std::string& options) {
        return Ksf("heatmap " + site + " -o - --format csv " + options, dir).out;
    };
    EXPECT_NE(Ksf("info " + site, dir).out.find("scale: not set\n"), std::string::npos);
    EXPECT_EQ(csv(""), csv("--radius 64"));

    const KsfRun set = Ksf("scale " + site + " --pixels-per-metre 1.5", dir);
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(nlohmann::json::parse(ReadText(meta)).value("pixels_per_metre", 0.0), 1.5);
    EXPECT_NE(Ksf("info " + site, dir).out.find("scale: 1.5 pixels per metre\n"),
              std::string::npos);
    EXPECT_EQ(csv(""), csv("--radius 7.5"));
    EXPECT_NE(csv(""), csv("--radius 64"));

    // A line of 50 pixels that is 10 m long; other fields are kept.
    std::ofstream(meta) << R"({"pixels_per_metre": 1.5, "surveyor": "KS"})";
    ASSERT_EQ(Ksf("scale " + site + " --line 0,0,30,40 --metres 10", dir).status, 0);
    const std::string updated = ReadText(meta);
    EXPECT_NE(updated.find("\"pixels_per_metre\": 5.0"), std::string::npos) << updated;
    EXPECT_NE(updated.find("\"surveyor\": \"KS\""), std::string::npos) << updated;
    EXPECT_EQ(ReadText(site), std::string(bytes.begin(), bytes.end())) << "the site is unchanged";

    for (const char* bad :
         {"", "--pixels-per-metre 0", "--pixels-per-metre -2", "--pixels-per-metre x",
          "--pixels-per-metre 1e9", "--line 0,0,30,40", "--metres 3", "--line 0,0,30 --metres 3",
          "--line 0,0,30,40, --metres 3", "--line 5,5,5,5 --metres 3",
          "--line 0,0,30,40 --metres 0", "--pixels-per-metre 2 --metres 3"}) {
        const KsfRun run = Ksf("scale " + site + " " + bad, dir);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << bad << ": " << run.err;
    }
    EXPECT_EQ(Ksf("scale " + dir + "/missing.ksf --pixels-per-metre 2", dir).status, 1);
    EXPECT_FALSE(std::ifstream(dir + "/missing.ksf.meta.json").good());

    // A damaged sidecar is reported; a new scale repairs it, the damaged
    // bytes kept aside.
    std::ofstream(meta) << "{\"pixels_per_metre\": ";
    EXPECT_EQ(Ksf("heatmap " + site + " -o - --format csv", dir).status, 1);
    EXPECT_EQ(Ksf("info " + site, dir).status, 1);
    const KsfRun repaired = Ksf("scale " + site + " --pixels-per-metre 2", dir);
    EXPECT_EQ(repaired.status, 0);
    EXPECT_NE(repaired.err.find("moved aside to " + meta + ".damaged"), std::string::npos)
        << repaired.err;
    EXPECT_EQ(ReadText(meta + ".damaged"), "{\"pixels_per_metre\": ");
    EXPECT_EQ(Ksf("heatmap " + site + " -o - --format csv --radius 3", dir).status, 0)
        << "a radius given needs no scale";
}

}  // namespace

namespace {

// ksf aps end to end: the JSON shape, an estimate only where the BSSID was
// heard at three points or more, placing and unplacing through the sidecar,
// and the heatmap's picture with the walls and access points on it.
TEST_F(KsfCoverage, ApsListsPlacedAndEstimatedAccessPoints) {
    // A third point where only A is heard, and a fourth: A at four points.
    PointsBytes p;
    p.Point(10, 10, "P1", 2)
        .Entry(36, 0, Dbm(-45), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x01}, "Corp")
        .Entry(149, 0, Dbm(-72), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x02}, "Guest")
        .Point(30, 20, "P2", 1)
        .Entry(36, 0, Dbm(-60), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x01}, "Corp")
        .Point(30, 5, "P3", 1)
        .Entry(36, 0, Dbm(-57), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x01}, "Corp")
        .Point(5, 25, "P4", 1)
        .Entry(36, 0, Dbm(-55), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x01}, "Corp");
    const std::vector<uint8_t> four = SiteWithPoints(PatternMap(40, 30), p.bytes);
    std::ofstream(site, std::ios::binary)
        .write(reinterpret_cast<const char*>(four.data()),
               static_cast<std::streamsize>(four.size()));
    ASSERT_EQ(Ksf("scale " + site + " --pixels-per-metre 2", dir).status, 0);

    const auto list = [&] {
        const KsfRun run = Ksf("aps " + site + " --format json", dir);
        EXPECT_EQ(run.status, 0) << run.err;
        return nlohmann::ordered_json::parse(run.out);
    };
    nlohmann::ordered_json aps = list();
    ASSERT_EQ(aps.size(), 2u);
    const std::vector<std::string> keys = {"bssid", "ssid", "radio",  "band",          "channel",
                                           "x",     "y",    "placed", "uncertainty_m", "points"};
    for (const auto& ap : aps) {
        std::vector<std::string> got;
        for (auto it = ap.begin(); it != ap.end(); ++it) {
            got.push_back(it.key());
        }
        EXPECT_EQ(got, keys);
    }
    EXPECT_EQ(aps[0]["bssid"], "00:1d:7e:4a:10:01");
    EXPECT_EQ(aps[0]["band"], "5");
    EXPECT_EQ(aps[0]["points"], 4);
    EXPECT_FALSE(aps[0]["placed"].get<bool>());
    EXPECT_TRUE(aps[0]["x"].is_number() && aps[0]["uncertainty_m"].is_number());
    EXPECT_EQ(aps[1]["points"], 1);
    EXPECT_TRUE(aps[1]["x"].is_null() && aps[1]["uncertainty_m"].is_null());

    ASSERT_EQ(Ksf("aps " + site + " --place 00:1d:7e:4a:10:02 12 7.5 --label Hall", dir).status, 0);
    aps = list();
    EXPECT_TRUE(aps[1]["placed"].get<bool>());
    EXPECT_EQ(aps[1]["x"], 12);
    EXPECT_EQ(aps[1]["y"], 7.5);
    EXPECT_EQ(aps[1]["uncertainty_m"], 0);
    EXPECT_NE(Ksf("aps " + site, dir).out.find("placed at 12, 8 (Hall)"), std::string::npos);
    for (const char* bad :
         {"--place 00:1d:7e:4a:10:02 12", "--place nonsense 1 2", "--place 00:1d:7e:4a:10:02 99 2",
          "--unplace 1 --place 2 1 1", "--format xml", "--walls maybe"}) {
        EXPECT_EQ(Ksf("aps " + site + " " + bad, dir).status, 2) << bad;
    }
    ASSERT_EQ(Ksf("aps " + site + " --unplace 001d7e4a1002", dir).status, 0);
    EXPECT_TRUE(list()[1]["x"].is_null());
}

// The heatmap picture of a plan with a wall: the wall in its material's
// colour over the cells, the legend in its unit; over no data, hatched.
TEST_F(KsfCoverage, HeatmapPictureDrawsTheWallsAndALegend) {
    PointsBytes p;
    for (int i = 0; i < 6; ++i) {
        p.Point(40 + 50 * i, 60 + 20 * (i % 3), "P", 1)
            .Entry(36, 0, Dbm(-45 - 6 * i), {0x00, 0x1D, 0x7E, 0x4A, 0x10, 0x01}, "Corp");
    }
    const std::vector<uint8_t> wide = SiteWithPoints(PatternMap(320, 200), p.bytes);
    std::ofstream(site, std::ios::binary)
        .write(reinterpret_cast<const char*>(wide.data()),
               static_cast<std::streamsize>(wide.size()));
    ASSERT_EQ(Ksf("walls " + site + " --add 160,20,160,180,concrete", dir).status, 0);
    const std::string png = dir + "/map.png";
    const KsfRun run = Ksf("heatmap " + site + " -o " + png + " --radius 80", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const QImage picture(QString::fromStdString(png));
    ASSERT_EQ(picture.size(), QSize(320, 200));
    const QColor wall = picture.pixelColor(160, 100);
    EXPECT_GT(wall.blue(), wall.green() + 60) << "concrete purple";
    // The legend's box in the top right corner: the red of its first band.
    int legendRed = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 240; x < 320; ++x) {
            const QColor c = picture.pixelColor(x, y);
            legendRed += c.red() > 240 && c.green() < 20 && c.blue() < 20;
        }
    }
    EXPECT_GT(legendRed, 10);

    // Filters that select nothing: the map is hatched, not a clean grey plan.
    ASSERT_EQ(Ksf("heatmap " + site + " -o " + png + " --ssid Nobody", dir).status, 0);
    const QImage empty(QString::fromStdString(png));
    const sitefile::SiteMap map = PatternMap(320, 200);
    int differ = 0;
    for (int x = 0; x < 60; ++x) {
        const int grey = qGray(map.ColorAt(x, 190));
        differ += std::abs(qGray(empty.pixel(x, 190)) - grey) > 8;
    }
    EXPECT_GT(differ, 10);
}

}  // namespace
