// The demo survey that scripts/run shows a newcomer (with the simulated unit,
// and with --wifi-demo with replayed Wi-Fi scans), run as scripts/run runs
// it, in a scratch copy of the repository's layout: it must keep working as
// the program changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <QImage>

#include "kestrow_run.h"
#include "sitefile/site_reader.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class PointCounter : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint& point) override {
        positions.insert({point.x, point.y});
        ++points;
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& entry) override {
        entries += entry.channel != 0;
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    int points = 0;
    int entries = 0;
    std::set<std::pair<int, int>> positions;
};

// Every line the demo prints is one of the script's own output lines.
bool IsScriptLine(const std::string& line) {
    for (const char* prefix : {"MSGBOX ", "STATUS ", "INFO ", "SWATCH ", "DIALOG ", "ITEM "}) {
        if (line.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

const std::string kSource = KESTROW_SOURCE_DIR;

// Runs the demo with the scanner's arguments as scripts/run gives them.
// `sidecar`: the scanner reports what the site file cannot hold (the Wi-Fi
// adapter's frequencies and noise), written beside the site with the save.
void RunDemo(const std::string& scanner, bool sidecar = false) {
    ScratchFolder folder;
    // As scripts/run prepares it: a copy of the example site under out/.
    fs::create_directories(folder.Path() + "/out");
    fs::copy_file(kSource + "/examples/office.ksf", folder.Path() + "/out/demo-site.ksf");
    const KestrowResult run =
        RunKestrowWith(folder, scanner, ReadText(kSource + "/examples/demo.kscript"));
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    for (const std::string& line : run.lines) {
        EXPECT_TRUE(IsScriptLine(line)) << line;
    }

    // The saved site: at least eight points, each at its own place, every one
    // with access points heard, and a signature on the sign-off raster.
    const std::string site = folder.Path() + "/out/demo-site.ksf";
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    ASSERT_TRUE(reader.Open(site, error)) << error.detail;
    PointCounter counter;
    reader.VisitPoints(counter);
    EXPECT_GE(counter.points, 8);
    EXPECT_EQ(counter.positions.size(), static_cast<size_t>(counter.points));
    EXPECT_GE(counter.entries, counter.points);
    const std::vector<uint8_t> saved = ReadBytes(site);
    const size_t rasterOffset = sitefile::ReadU32(saved.data() + 142);
    ASSERT_GE(saved.size(), rasterOffset + 80000);
    int black = 0;
    for (size_t i = 0; i < 20000; ++i) {
        black += sitefile::ReadU32(saved.data() + rasterOffset + 4 * i) == 0;
    }
    EXPECT_GT(black, 100);

    // A tap-and-hold printed a point's information.
    int info = 0;
    for (const std::string& line : run.lines) {
        info += line.rfind("INFO AP's: ", 0) == 0;
    }
    EXPECT_EQ(info, 1);

    // Nothing but the site, its sidecar and its pictures was written, all
    // under out/.
    const std::string meta = ReadText(site + ".meta.json");
    EXPECT_EQ(meta.find("\"bssids\"") != std::string::npos, sidecar) << meta;
    EXPECT_EQ(meta.find("\"noise\"") != std::string::npos, sidecar) << meta;
    for (const auto& item : fs::recursive_directory_iterator(folder.Path())) {
        const std::string relative = fs::relative(item.path(), folder.Path()).string();
        if (relative == "out" || relative == "script.txt" || relative == "stderr.txt") {
            continue;
        }
        EXPECT_EQ(relative.rfind("out/", 0), 0u) << relative;
        if (item.path().extension() == ".png") {
            EXPECT_FALSE(QImage(QString::fromStdString(item.path().string())).isNull()) << relative;
        } else if (relative != "out/demo-site.ksf.meta.json" || !sidecar) {
            EXPECT_EQ(relative, "out/demo-site.ksf");
        }
    }
}

TEST(DemoScript, SurveysTheOfficeSignsAndSavesUnderOut) {
    RunDemo("--simulate='" + kSource + "/examples/office.json'");
}

// scripts/run --wifi-demo: the same walk with the example's replayed Wi-Fi scans.
TEST(DemoScript, RunsWithReplayedWifiScans) {
    RunDemo("--wifi-replay '" + kSource + "/examples/office-wifi.dump'", true);
}

}  // namespace
