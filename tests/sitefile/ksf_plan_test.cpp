// ksf create from plans and ksf walls, run as a surveyor runs them: the site
// and sidecar they leave, what they print, their exit codes.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "command_run.h"
#include "plan/plan_files.h"
#include "sitefile/site_reader.h"

namespace {

CommandRun Ksf(const std::string& args, const std::string& dir) {
    return RunCommand(std::string(KSF_PATH) + " " + args, dir);
}

class KsfPlan : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { NeedGuiApplication(); }  // for writing the PDF plan
    void SetUp() override {
        char templ[] = "/tmp/kestrow_ksfplan_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        site = dir + "/site.ksf";
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    // A site from a 200 x 100 plan with two walls: along the top and, as
    // two pieces either side of a door, down the middle.
    void MakeSite() {
        QImage plan(200, 100, QImage::Format_RGB32);
        plan.fill(Qt::white);
        QPainter p(&plan);
        p.fillRect(QRect(10, 10, 180, 4), Qt::black);
        p.fillRect(QRect(98, 14, 4, 30), Qt::black);
        p.fillRect(QRect(98, 70, 4, 24), Qt::black);
        p.end();
        ASSERT_TRUE(plan.save(QString::fromStdString(dir + "/plan.png")));
        ASSERT_EQ(Ksf("create --map " + dir + "/plan.png -o " + site, dir).status, 0);
    }

    std::string dir;
    std::string site;
};

TEST_F(KsfPlan, CreateTakesAPdfPageAtAWidth) {
    const std::string pdf = dir + "/plan.pdf";
    WritePdf(
        pdf, QSizeF(400, 200),
        {[](QPainter&) {}, [](QPainter& p) { p.fillRect(QRectF(0, 0, 100, 100), Qt::black); }});
    const CommandRun made = Ksf("create --map " + pdf + " --page 2 --width 300 -o " + site, dir);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out,
              "site: " + site + ", a map of 300 x 150 pixels from page 2 of 2 of the PDF\n");
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    sitefile::SiteMap map;
    ASSERT_TRUE(reader.Open(site, error) && reader.ReadMap(map, error)) << error.detail;
    EXPECT_EQ(map.width, 300);
    EXPECT_EQ(map.ColorAt(5, 5), 0xFF000000u);
    EXPECT_EQ(map.ColorAt(295, 145), 0xFFFFFFFFu);

    const CommandRun missingPage = Ksf("create --map " + pdf + " --page 3 -o " + site, dir);
    EXPECT_EQ(missingPage.status, 1);
    EXPECT_NE(missingPage.err.find("there is no page 3: the PDF has 2 pages"), std::string::npos);
    for (const char* bad : {"--width 8001", "--width 0", "--page 0", "--page x", "--width"}) {
        EXPECT_EQ(Ksf("create --map " + pdf + " -o " + site + " " + bad, dir).status, 2) << bad;
    }
}

// Walls added, listed, drawn, detected, cleared; each change keeps the rest
// of the sidecar and never touches the site.
TEST_F(KsfPlan, WallsRoundTripThroughTheSidecar) {
    MakeSite();
    const std::string site0 = ReadText(site);
    const std::string meta = site + ".meta.json";
    std::ofstream(meta) << R"({"pixels_per_metre": 20, "report": {"customer": "ACME"}})";

    EXPECT_EQ(Ksf("walls " + site, dir).out, "");
    const CommandRun added =
        Ksf("walls " + site + " --add 10,12,190,12 --add 100,14,100,90.5,concrete", dir);
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "walls: 2 (2 added), in " + meta + "\n");
    EXPECT_EQ(Ksf("walls " + site, dir).out, "10,12,190,12,drywall\n100,14,100,90.5,concrete\n");
    const nlohmann::json listed =
        nlohmann::json::parse(Ksf("walls " + site + " --format json", dir).out);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1]["y2"], 90.5);
    EXPECT_EQ(listed[1]["material"], "concrete");
    EXPECT_NE(Ksf("info " + site, dir).out.find("walls: 2 (1 concrete, 1 drywall)\n"),
              std::string::npos);

    // Detection replaces them with the walls of the plan, the door left open.
    const CommandRun detected =
        Ksf("walls " + site + " --detect --material brick -o " + dir + "/walls.png", dir);
    ASSERT_EQ(detected.status, 0) << detected.err;
    EXPECT_EQ(detected.out, "walls: 3 found in the plan (11.8 m), replacing 2, in " + meta + "\n");
    EXPECT_EQ(Ksf("walls " + site, dir).out,
              "10,12,190,12,brick\n100,12,100,44,brick\n100,70,100,94,brick\n");
    EXPECT_EQ(QImage(QString::fromStdString(dir + "/walls.png")).size(), QSize(200, 100));
    const nlohmann::json kept = nlohmann::json::parse(ReadText(meta));
    EXPECT_EQ(kept["report"]["customer"], "ACME");
    EXPECT_EQ(kept["pixels_per_metre"], 20);

    EXPECT_EQ(Ksf("walls " + site + " --clear", dir).out,
              "walls: none (3 removed), in " + meta + "\n");
    EXPECT_EQ(Ksf("walls " + site, dir).out, "");
    EXPECT_EQ(ReadText(site), site0);

    for (const char* bad :
         {"--add 1,2,3", "--add 1,2,3,4,stone", "--add 1,2,1,2", "--add 0,0,201,0",
          "--material glass", "--clear --detect", "--add 1,2,3,4 --clear", "--format xml",
          "--clear --format json", "-o -"}) {
        const CommandRun run = Ksf("walls " + site + " " + bad, dir);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_NE(Ksf("walls " + site + " --add 1,2,3,4,stone", dir).err.find("drywall, glass"),
              std::string::npos);

    // A damaged sidecar cannot be listed; a change sets it aside and says so.
    std::ofstream(meta) << "{ not json";
    EXPECT_EQ(Ksf("walls " + site, dir).status, 1);
    const CommandRun repaired = Ksf("walls " + site + " --add 10,12,190,12", dir);
    EXPECT_EQ(repaired.status, 0);
    EXPECT_NE(repaired.err.find("moved aside to " + meta + ".damaged"), std::string::npos)
        << repaired.err;
    EXPECT_EQ(ReadText(meta + ".damaged"), "{ not json");
}

// What the sidecar holds, a line each; text from the file is escaped.
TEST_F(KsfPlan, InfoSaysWhatTheSidecarHolds) {
    MakeSite();
    std::ofstream(site + ".meta.json") << R"({
      "walls": [{"x1": 0, "y1": 0, "x2": 10, "y2": 0, "material": "glass"}],
      "access_points": [{"bssid": "02:00:00:00:00:a1", "x": 5, "y": 5}],
      "bssids": {"02:00:00:00:00:a1": {"frequency": 5180}},
      "noise": [{"x": 1, "y": 2, "frequency": 5180, "noise_dbm": -95}],
      "walks": [{"path": [[0, 0], [10, 0]], "points": ["1", "2"]}],
      "report": {"customer": "ACME\u001b[2J"}, "floor": 3})";
    const CommandRun info = Ksf("info " + site, dir);
    ASSERT_EQ(info.status, 0) << info.err;
    const std::string expected =
        "scale: not set\n"
        "walls: 1 (1 glass)\n"
        "placed access points: 1\n"
        "bssids with channel details: 1\n"
        "noise readings: 1\n"
        "walks: 1 (2 points)\n"
        "report customer: ACME\\x1b[2J\n"
        "other field: floor\n";
    EXPECT_NE(info.out.find(expected), std::string::npos) << info.out;
}

}  // namespace
