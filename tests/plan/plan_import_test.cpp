// Floor plans in every form become the same picture, a damaged or hostile one
// ends in one clear line, and the 256-colour map keeps a plan's paper, lines
// and greys.
#include "plan/plan_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "plan/plan_files.h"
#include "plan/plan_palette.h"

namespace {

class PlanImport : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { NeedGuiApplication(); }
    void SetUp() override {
        char templ[] = "/tmp/kestrow_plan_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        return dir + "/" + name;
    }
    // The reason LoadPlan gives for `path`, which must fail.
    std::string Refusal(const std::string& path, plan::PlanOptions options = {}) {
        plan::Plan out;
        std::string error;
        EXPECT_FALSE(plan::LoadPlan(path, options, out, error)) << path;
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        return error;
    }
    std::string dir;
};

// A well-formed PDF of these objects, numbered from 1 (the first the catalog).
std::string PdfOf(const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.4\n";
    std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 0; i < objects.size(); ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    return pdf + xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(pdf.size()) + "\n%%EOF\n";
}

// A plan 200 x 150 units: a black wall along the top, grey text in the middle.
void Draw(QPainter& p) {
    p.fillRect(QRect(0, 0, 200, 150), Qt::white);
    p.fillRect(QRect(10, 10, 180, 6), Qt::black);
    p.setPen(QColor(0x60, 0x60, 0x60));
    p.drawText(QRect(0, 60, 200, 30), Qt::AlignCenter, "Lab");
}

TEST_F(PlanImport, EveryFormatGivesThePlanAtItsSize) {
    QImage picture(200, 150, QImage::Format_RGB32);
    {
        QPainter p(&picture);
        Draw(p);
    }
    const std::string png = dir + "/plan.png";
    const std::string jpeg = dir + "/plan.jpg";
    ASSERT_TRUE(picture.save(QString::fromStdString(png)));
    ASSERT_TRUE(picture.save(QString::fromStdString(jpeg), "JPEG", 90));
    const std::string svg = dir + "/plan.svg";
    {
        QSvgGenerator generator;
        generator.setFileName(QString::fromStdString(svg));
        generator.setSize(QSize(200, 150));
        generator.setViewBox(QRect(0, 0, 200, 150));
        QPainter p(&generator);
        Draw(p);
    }
    // Two pages: the plan, then a page that is black all over.
    const std::string pdf = dir + "/plan.pdf";
    WritePdf(pdf, QSizeF(200, 150),
             {Draw, [](QPainter& p) { p.fillRect(QRect(0, 0, 200, 150), Qt::black); }});
    // The extension says nothing: a PDF named .png is still a PDF.
    const std::string disguised = dir + "/really-a-pdf.png";
    ASSERT_EQ(std::system(("cp " + pdf + " " + disguised).c_str()), 0);

    struct Case {
        std::string path;
        plan::PlanOptions options;
        plan::PlanKind kind;
        QSize size;
        int pages;
    };
    const Case cases[] = {
        {png, {}, plan::PlanKind::kPicture, {200, 150}, 1},
        {jpeg, {}, plan::PlanKind::kPicture, {200, 150}, 1},
        {svg, {1, 400}, plan::PlanKind::kSvg, {400, 300}, 1},
        {pdf, {1, 400}, plan::PlanKind::kPdf, {400, 300}, 2},
        {disguised, {}, plan::PlanKind::kPdf, {2000, 1500}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        plan::Plan out;
        std::string error;
        ASSERT_TRUE(plan::LoadPlan(c.path, c.options, out, error)) << error;
        EXPECT_EQ(out.kind, c.kind);
        EXPECT_EQ(out.pages, c.pages);
        ASSERT_EQ(out.image.size(), c.size);
        EXPECT_EQ(out.image.format(), QImage::Format_RGB32);
        const double s = c.size.width() / 200.0;
        EXPECT_LT(qGray(out.image.pixel(static_cast<int>(100 * s), static_cast<int>(13 * s))), 40);
        EXPECT_GT(qGray(out.image.pixel(static_cast<int>(100 * s), static_cast<int>(40 * s))), 245);
    }
    plan::Plan second;
    std::string error;
    ASSERT_TRUE(plan::LoadPlan(pdf, {2, 100}, second, error)) << error;
    EXPECT_LT(qGray(second.image.pixel(50, 40)), 10);
    EXPECT_NE(Refusal(pdf, {3, {}}).find("there is no page 3: the PDF has 2 pages"),
              std::string::npos);
}

// A big picture is scaled to 8000 px a side, with a note; one too big to
// decode at all says so, with what to do, before anything is decoded.
TEST_F(PlanImport, BigPicturesAreScaledOrRefusedWithWhatToDo) {
    QImage wide(8200, 30, QImage::Format_RGB32);
    wide.fill(Qt::white);
    const std::string path = dir + "/wide.png";
    ASSERT_TRUE(wide.save(QString::fromStdString(path)));
    plan::Plan out;
    std::string error;
    ASSERT_TRUE(plan::LoadPlan(path, {}, out, error)) << error;
    EXPECT_EQ(out.image.size(), QSize(8000, 29));
    ASSERT_EQ(out.notes.size(), 1u);
    EXPECT_NE(out.notes[0].find("scaled from 8200 x 30 pixels to 8000 x 29 pixels"),
              std::string::npos);

    // A PNG header of 20000 x 20000 pixels with no picture behind it.
    auto chunk = [](const std::string& type, const std::string& data) {
        std::string out;
        for (int shift = 24; shift >= 0; shift -= 8) {
            out += static_cast<char>((data.size() >> shift) & 0xFF);
        }
        const std::string body = type + data;
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        out += body;
        for (int shift = 24; shift >= 0; shift -= 8) {
            out += static_cast<char>((crc >> shift) & 0xFF);
        }
        return out;
    };
    const std::string header("\x00\x00\x4E\x20\x00\x00\x4E\x20\x08\x02\x00\x00\x00", 13);
    const std::string huge =
        Write("huge.png", std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", header) +
                              chunk("IDAT", "") + chunk("IEND", ""));
    const std::string reason = Refusal(huge);
    EXPECT_NE(reason.find("20000 x 20000 pixels, more than Kestrow reads"), std::string::npos);
    EXPECT_NE(reason.find("scale it down to at most 8000 pixels a side"), std::string::npos);
}

// Plans of no size a floor plan has are drawn at the width asked for, in
// bounded time and memory: ten thousand pages, a page 100 m square, an SVG a
// million kilometres wide.
TEST_F(PlanImport, ExtremePlansAreDrawnAtTheWidthAsked) {
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (int i = 0; i < 10000; ++i) {
        kids += std::to_string(i + 3) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count 10000 >>";
    const std::string content = "0 g 0 0 283465 1000 re f";
    const std::string large =
        PdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 283465 283465] /Contents 4 0 R >>",
               "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                   "\nendstream"});
    const std::string wide =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1e9 1e9\"><rect y=\"5e8\" "
        "width=\"1e9\" height=\"1e8\"/></svg>";
    const std::tuple<std::string, plan::PlanOptions, QSize, int> cases[] = {
        {Write("pages.pdf", PdfOf(objects)), {10000, 100}, {100, 142}, 10000},
        {Write("large.pdf", large), {}, {2000, 2000}, 1},
        {Write("wide.svg", wide), {}, {2000, 2000}, 1},
    };
    for (const auto& [path, options, size, pages] : cases) {
        plan::Plan out;
        std::string error;
        ASSERT_TRUE(plan::LoadPlan(path, options, out, error)) << error;
        EXPECT_EQ(out.image.size(), size) << path;
        EXPECT_EQ(out.pages, pages) << path;
    }
}

// Whatever the file, one line that names what is wrong, in bounded time; no
// file the plan names is ever opened.
TEST_F(PlanImport, DamagedAndHostilePlansAreRefusedWithAReason) {
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
    mkdir((dir + "/folder").c_str(), 0700);
    const std::string pdfNoPages =
        PdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"});
    std::string deep = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 10 10\">";
    for (int i = 0; i < 5000; ++i) {
        deep += "<g>";
    }
    std::string uses =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
        "viewBox=\"0 0 10 10\"><rect id=\"u0\" width=\"1\" height=\"1\"/>";
    for (int i = 1; i < 30; ++i) {
        uses += "<g id=\"u" + std::to_string(i) + "\"><use xlink:href=\"#u" +
                std::to_string(i - 1) + "\"/><use xlink:href=\"#u" + std::to_string(i - 1) +
                "\"/></g>";
    }
    uses += "</svg>";
    const std::pair<std::string, std::string> cases[] = {
        {dir + "/missing.png", "no such file"},
        {dir + "/folder", "is a folder"},
        {dir + "/pipe", "is not a regular file"},
        {Write("empty.pdf", ""), "is empty"},
        {Write("none.pdf", pdfNoPages), "the PDF has no pages"},
        {Write("broken.pdf", "%PDF-1.7\nnothing here"), "damaged PDF"},
        {Write("deep.svg", deep), "nests elements more than 256 deep"},
        {Write("uses.svg", uses), "would draw more than 1000000 elements"},
        {Write("loop.svg",
               "<svg xmlns=\"http://www.w3.org/2000/svg\" "
               "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><g id=\"g\"><use "
               "xlink:href=\"#g\"/></g></svg>"),
         "a <use> that draws itself"},
        {Write("html.svg", "<svg-less><html/></svg-less>"), "not SVG"},
        {Write("torn.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><g></svg>"),
         "not well-formed XML"},
        {Write("plan.dwg", std::string("AC1032\0\0\0", 9)), "AutoCAD DWG drawing"},
        {Write("plan.txt", "just words"), "save or export the plan as PDF, SVG or PNG"},
    };
    for (const auto& [path, words] : cases) {
        const std::string reason = Refusal(path);
        EXPECT_NE(reason.find(words), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }

    // Links to the web, to a device and to a pipe (which would block a read
    // for ever) are left out, with a note; the rest is drawn.
    const std::string links = Write(
        "links.svg",
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
        "viewBox=\"0 0 100 100\"><image xlink:href=\"http://example.com/a.png\" width=\"9\" "
        "height=\"9\"/><image href=\"/dev/zero\" width=\"9\" height=\"9\"/><image "
        "xlink:href=\"pipe\" width=\"9\" height=\"9\"/><rect y=\"50\" width=\"100\" "
        "height=\"10\"/></svg>");
    plan::Plan out;
    std::string error;
    ASSERT_TRUE(plan::LoadPlan(links, {1, 100}, out, error)) << error;
    ASSERT_EQ(out.notes.size(), 1u);
    EXPECT_NE(out.notes[0].find("3 links to other files or the web left out"), std::string::npos);
    EXPECT_LT(qGray(out.image.pixel(50, 55)), 10);
}

// A plan of more than 256 colours: anti-aliased lines over a gradient, on
// paper with a scanner's noise.
TEST(PlanPalette, ReducedPlanKeepsPaperWhiteAndLinesWhole) {
    QImage plan(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            const int noise = (x * 7 + y * 13) % 6;  // 250 to 255: paper
            plan.setPixel(x, y, qRgb(255 - noise, 255 - noise, 255 - (noise + 1) / 2));
        }
    }
    for (int x = 0; x < 300; ++x) {  // a band of 300 colours, red to blue
        for (int y = 150; y < 200; ++y) {
            plan.setPixel(x, y, qRgb(255 - x * 255 / 300, 80, x * 255 / 300));
        }
    }
    for (int x = 20; x < 280; ++x) {
        plan.setPixel(x, 50, qRgb(0x80, 0x80, 0x80));   // a 1-px grey line
        plan.setPixel(x, 100, qRgb(0x20, 0x20, 0x20));  // a dark one
    }
    const sitefile::SiteMap map = plan::IndexedSiteMap(plan);
    ASSERT_EQ(map.width, 300);
    ASSERT_EQ(map.height, 200);
    std::set<uint32_t> paper;
    for (int y = 0; y < 140; ++y) {
        for (int x = 0; x < 300; ++x) {
            if (y != 50 && y != 100) {
                paper.insert(map.ColorAt(x, y));
            }
        }
    }
    EXPECT_EQ(paper, std::set<uint32_t>{0xFFFFFFFFu});  // no specks in the paper
    for (int x = 20; x < 280; ++x) {
        ASSERT_EQ(map.ColorAt(x, 50), map.ColorAt(20, 50)) << x;  // one colour, not dithered
        ASSERT_EQ(map.ColorAt(x, 100), map.ColorAt(20, 100)) << x;
    }
    EXPECT_NEAR(qGray(map.ColorAt(20, 50)), 0x80, 6);
    EXPECT_NEAR(qGray(map.ColorAt(20, 100)), 0x20, 6);
    for (int x = 0; x < 300; x += 10) {  // the band stays close to itself
        const QRgb was = plan.pixel(x, 170);
        const uint32_t now = map.ColorAt(x, 170);
        EXPECT_NEAR(qRed(now), qRed(was), 12) << x;
        EXPECT_NEAR(qBlue(now), qBlue(was), 12) << x;
    }
    const sitefile::SiteMap again = plan::IndexedSiteMap(plan);
    EXPECT_EQ(again.pixels, map.pixels);
    EXPECT_TRUE(std::equal(std::begin(again.colors), std::end(again.colors), map.colors));
}

}  // namespace
