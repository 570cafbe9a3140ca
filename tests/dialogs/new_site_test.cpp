// The new-site dialog as a surveyor fills it in: a PDF's pages with their
// preview, the width, the site written; a plan that cannot be read keeps the
// dialog open with the reason.
#include "dialogs/new_site_dlg.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "dialogs/qt_app.h"
#include "plan/plan_files.h"
#include "platform/message_box.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace {

TEST(NewSiteDialog, PdfPageIsPreviewedAndBecomesTheSite) {
    TestApp();
    QTemporaryDir dir;
    const std::string pdf = dir.filePath("plan.pdf").toStdString();
    // Two pages, the second twice as tall as wide with a black band on top.
    WritePdf(pdf, QSizeF(400, 300),
             {[](QPainter& p) { p.fillRect(QRectF(0, 0, 400, 300), Qt::gray); },
              [](QPainter& p) { p.fillRect(QRectF(0, 0, 400, 40), Qt::black); }});
    // A sidecar left where the site goes belongs to another plan.
    const std::string site = dir.filePath("floor.ksf").toStdString();
    {
        std::string error;
        ASSERT_TRUE(sitefile::WriteSiteScale(site, 42, error)) << error;
    }

    CNewSiteDlg dialog;
    dialog.SetPlan(pdf);
    EXPECT_EQ(dialog.Pages(), 2);
    EXPECT_EQ(dialog.SitePath(), dir.filePath("plan.ksf").toStdString());
    dialog.SetPage(2);
    const QImage preview = dialog.Preview();
    ASSERT_FALSE(preview.isNull());
    EXPECT_EQ(qGray(preview.pixel(preview.width() / 2, 2)), 0);
    EXPECT_EQ(qGray(preview.pixel(preview.width() / 2, preview.height() - 3)), 255);

    dialog.SetWidth(800);
    dialog.SetSitePath(dir.filePath("floor").toStdString());
    ASSERT_TRUE(dialog.Create()) << dialog.Problem();
    EXPECT_EQ(dialog.SitePath(), site);
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    sitefile::SiteMap map;
    ASSERT_TRUE(reader.Open(site, error) && reader.ReadMap(map, error)) << error.Text();
    EXPECT_EQ(map.width, 800);
    EXPECT_EQ(map.height, 600);
    // The old sidecar went aside, said so, and the new site has none.
    EXPECT_TRUE(QFile::exists(QString::fromStdString(sitefile::MetaPath(site) + ".replaced")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(sitefile::MetaPath(site))));
    ASSERT_EQ(dialog.Notes().size(), 1u);
    EXPECT_NE(dialog.Notes()[0].find("moved aside"), std::string::npos);
}

TEST(NewSiteDialog, UnreadablePlanKeepsTheDialogOpenWithTheReason) {
    TestApp();
    QTemporaryDir dir;
    const QString text = dir.filePath("notes.txt");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a plan\n");
    file.close();

    CNewSiteDlg dialog;
    dialog.SetPlan(text.toStdString());
    EXPECT_NE(dialog.Problem().find("not a plan Kestrow reads"), std::string::npos)
        << dialog.Problem();
    dialog.show();
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(QFile::exists(dir.filePath("notes.ksf")));
}

// Answers every question with `answer` and keeps what was asked.
class Answers : public platform::MessageBoxHandler {
  public:
    explicit Answers(int answer) : m_answer(answer) { platform::SetMessageBoxHandler(this); }
    ~Answers() override { platform::SetMessageBoxHandler(nullptr); }
    int Show(const std::string& text, const std::string&, unsigned) override {
        asked.push_back(text);
        return m_answer;
    }
    std::vector<std::string> asked;

  private:
    int m_answer;
};

TEST(NewSiteDialog, ASiteThereIsReplacedOnlyWhenTheSurveyorSaysSo) {
    TestApp();
    QTemporaryDir dir;
    const std::string pdf = dir.filePath("plan.pdf").toStdString();
    WritePdf(pdf, QSizeF(200, 100),
             {[](QPainter& p) { p.fillRect(QRectF(0, 0, 50, 50), Qt::black); }});
    const std::string site = dir.filePath("plan.ksf").toStdString();
    QFile old(QString::fromStdString(site));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a survey");
    old.close();

    CNewSiteDlg dialog;
    dialog.SetPlan(pdf);
    // The name proposed is a free one.
    EXPECT_EQ(dialog.SitePath(), dir.filePath("plan-2.ksf").toStdString());
    dialog.SetSitePath(site);
    {
        Answers no(platform::kIdNo);
        EXPECT_FALSE(dialog.Create());
        ASSERT_EQ(no.asked.size(), 1u);
        EXPECT_NE(no.asked[0].find("already exists"), std::string::npos);
    }
    EXPECT_EQ(QFileInfo(QString::fromStdString(site)).size(), 8);
    Answers yes(platform::kIdYes);
    ASSERT_TRUE(dialog.Create()) << dialog.Problem();
    EXPECT_GT(QFileInfo(QString::fromStdString(site)).size(), 8);
}

}  // namespace
