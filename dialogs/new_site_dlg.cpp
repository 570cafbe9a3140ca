#include "dialogs/new_site_dlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "plan/site_prep.h"
#include "platform/message_box.h"
#include "platform/qt/wait_cursor.h"

namespace {

// The preview is drawn this many pixels wide at most.
constexpr int kPreviewWidth = 480;
constexpr int kPreviewHeight = 340;

std::optional<std::string> AskPlan(QWidget* parent) {
    const QString chosen = QFileDialog::getOpenFileName(parent, QObject::tr("Choose a floor plan"),
                                                        QString(), CNewSiteDlg::PlanFilter());
    return chosen.isEmpty() ? std::nullopt : std::optional<std::string>(chosen.toStdString());
}

std::optional<std::string> AskSite(QWidget* parent, const std::string& suggested) {
    QFileDialog dialog(parent, QObject::tr("Save the new site as"),
                       QFileInfo(QString::fromStdString(suggested)).absolutePath(),
                       QObject::tr("Site files (*.ksf *.KSF)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("ksf"));
    dialog.selectFile(QString::fromStdString(suggested));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first().toStdString();
}

}  // namespace

QString CNewSiteDlg::PlanFilter() {
    return QObject::tr(
        "Floor plans (*.pdf *.svg *.svgz *.png *.jpg *.jpeg *.bmp *.gif *.tif *.tiff *.webp "
        "*.PDF *.SVG *.PNG *.JPG *.JPEG);;All files (*)");
}

CNewSiteDlg::CNewSiteDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("New site from floor plan"));
    m_choosers = {AskPlan, AskSite};

    m_planEdit = new QLineEdit(this);
    m_planEdit->setPlaceholderText(tr("a picture, an SVG drawing or a PDF"));
    auto* choosePlan = new QPushButton(tr("Choose…"), this);
    auto* planRow = new QHBoxLayout;
    planRow->addWidget(m_planEdit, 1);
    planRow->addWidget(choosePlan);

    m_page = new QSpinBox(this);
    m_page->setRange(1, 1);
    m_pageCount = new QLabel(this);
    auto* pageRow = new QHBoxLayout;
    pageRow->addWidget(m_page);
    pageRow->addWidget(m_pageCount, 1);

    m_width = new QSpinBox(this);
    m_width->setRange(100, plan::kMaxPlanSide);
    m_width->setSingleStep(250);
    m_width->setValue(plan::kDefaultDrawWidth);
    m_width->setSuffix(tr(" pixels"));
    m_width->setToolTip(
        tr("SVG drawings and PDF pages are drawn this wide; "
           "a picture keeps its own size"));

    m_previewLabel = new QLabel(this);
    m_previewLabel->setFixedSize(kPreviewWidth + 4, kPreviewHeight + 4);
    m_previewLabel->setAlignment(Qt::AlignCenter);
    m_previewLabel->setFrameShape(QFrame::StyledPanel);
    m_previewLabel->setText(tr("No plan chosen"));

    m_info = new QLabel(this);
    m_info->setWordWrap(true);
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_siteEdit = new QLineEdit(this);
    m_siteEdit->setPlaceholderText(tr("where to save the new site (.ksf)"));
    auto* chooseSite = new QPushButton(tr("Save as…"), this);
    auto* siteRow = new QHBoxLayout;
    siteRow->addWidget(m_siteEdit, 1);
    siteRow->addWidget(chooseSite);

    auto* form = new QFormLayout;
    form->addRow(tr("Floor plan:"), planRow);
    form->addRow(tr("Page:"), pageRow);
    form->addRow(tr("Width:"), m_width);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_create = buttons->addButton(tr("Create site"), QDialogButtonBox::AcceptRole);
    m_create->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_previewLabel, 0, Qt::AlignHCenter);
    layout->addWidget(m_info);
    auto* siteForm = new QFormLayout;
    siteForm->addRow(tr("Save site as:"), siteRow);
    layout->addLayout(siteForm);
    layout->addWidget(buttons);

    connect(choosePlan, &QPushButton::clicked, this, &CNewSiteDlg::ChoosePlan);
    connect(chooseSite, &QPushButton::clicked, this, &CNewSiteDlg::ChooseSite);
    connect(m_planEdit, &QLineEdit::editingFinished, this,
            [this] { SetPlan(m_planEdit->text().toStdString()); });
    connect(m_page, qOverload<int>(&QSpinBox::valueChanged), this, [this] { UpdatePreview(); });
    connect(m_width, qOverload<int>(&QSpinBox::valueChanged), this, [this] { UpdatePreview(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &CNewSiteDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CNewSiteDlg::reject);
    UpdatePreview();
}

void CNewSiteDlg::SetPlan(const std::string& path) {
    if (path == m_planPath && !path.empty()) {
        return;
    }
    m_planPath = path;
    m_planEdit->setText(QString::fromStdString(path));
    m_pages = 0;
    m_updating = true;
    m_page->setRange(1, 1);
    m_page->setValue(1);
    m_updating = false;
    if (!path.empty() && m_siteEdit->text().isEmpty()) {
        // Beside the plan, under a name no site has yet.
        const QFileInfo file(QString::fromStdString(path));
        const QString stem = file.absolutePath() + QLatin1Char('/') + file.completeBaseName();
        QString site = stem + QStringLiteral(".ksf");
        for (int n = 2; QFileInfo::exists(site) && n < 1000; ++n) {
            site = stem + QStringLiteral("-%1.ksf").arg(n);
        }
        m_siteEdit->setText(site);
    }
    UpdatePreview();
}

void CNewSiteDlg::SetPage(int page) {
    m_page->setValue(page);
    UpdatePreview();
}

void CNewSiteDlg::SetWidth(int width) {
    m_width->setValue(width);
}

void CNewSiteDlg::SetSitePath(const std::string& path) {
    m_siteEdit->setText(QString::fromStdString(path));
}

std::string CNewSiteDlg::SitePath() const {
    return m_siteEdit->text().trimmed().toStdString();
}

plan::PlanOptions CNewSiteDlg::Options() const {
    plan::PlanOptions options;
    options.page = m_page->value();
    options.width = m_width->value();
    return options;
}

void CNewSiteDlg::ChoosePlan() {
    if (std::optional<std::string> chosen = m_choosers.plan(this)) {
        SetPlan(*chosen);
    }
}

void CNewSiteDlg::ChooseSite() {
    if (std::optional<std::string> chosen = m_choosers.site(this, SitePath())) {
        SetSitePath(*chosen);
        m_confirmedSite =
            QFileInfo(QString::fromStdString(*chosen)).absoluteFilePath().toStdString();
    }
}

void CNewSiteDlg::ShowProblem(const std::string& problem) {
    m_problem = problem;
    m_info->setStyleSheet(QStringLiteral("color: #a00000"));
    m_info->setText(QString::fromStdString(problem));
}

// Draws the chosen page small and says what the site's map will be.
void CNewSiteDlg::UpdatePreview() {
    if (m_updating) {
        return;
    }
    m_problem.clear();
    m_notes.clear();
    m_preview = QImage();
    m_info->setStyleSheet(QString());
    m_create->setEnabled(!m_planPath.empty());
    if (m_planPath.empty()) {
        m_previewLabel->setPixmap(QPixmap());
        m_previewLabel->setText(tr("No plan chosen"));
        m_info->setText(
            tr("Choose the floor plan the surveyor is to walk: a picture (PNG, "
               "JPEG, ...), an SVG drawing or a page of a PDF."));
        m_page->setEnabled(false);
        m_width->setEnabled(false);
        return;
    }
    platform::WaitCursor wait;
    plan::PlanOptions small;
    small.page = m_page->value();
    small.width = kPreviewWidth;
    plan::Plan drawn;
    std::string error;
    if (!plan::LoadPlan(m_planPath, small, drawn, error)) {
        m_previewLabel->setPixmap(QPixmap());
        m_previewLabel->setText(tr("No preview"));
        m_page->setEnabled(false);
        m_width->setEnabled(false);
        m_create->setEnabled(false);
        ShowProblem(error);
        return;
    }
    m_kind = drawn.kind;
    m_pages = drawn.pages;
    m_updating = true;
    m_page->setRange(1, std::max(1, m_pages));
    m_updating = false;
    m_page->setEnabled(m_pages > 1);
    m_pageCount->setText(tr("of %1").arg(m_pages));
    const bool vector = drawn.kind != plan::PlanKind::kPicture;
    m_width->setEnabled(vector);
    m_preview = drawn.image.scaled(kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio,
                                   Qt::SmoothTransformation);
    m_previewLabel->setPixmap(QPixmap::fromImage(m_preview));

    QString text = QString::fromLatin1(plan::PlanKindName(drawn.kind));
    text[0] = text[0].toUpper();
    if (m_pages > 1) {
        text += tr(", page %1 of %2").arg(m_page->value()).arg(m_pages);
    }
    if (vector) {
        text += tr(": the site's map will be %1 pixels wide.").arg(m_width->value());
    } else {
        m_notes = drawn.notes;
        text += tr(": the site's map will be %1 x %2 pixels.")
                    .arg(drawn.image.width())
                    .arg(drawn.image.height());
        for (const std::string& note : drawn.notes) {
            text += QLatin1Char(' ') + QString::fromStdString(note) + QLatin1Char('.');
        }
    }
    m_info->setText(text);
}

bool CNewSiteDlg::Create() {
    m_problem.clear();
    if (m_planPath.empty()) {
        ShowProblem("choose a floor plan first");
        return false;
    }
    std::string site = SitePath();
    if (site.empty()) {
        ShowProblem("say where to save the new site");
        return false;
    }
    if (QFileInfo(QString::fromStdString(site)).suffix().isEmpty()) {
        site += ".ksf";
    }
    site = QFileInfo(QString::fromStdString(site)).absoluteFilePath().toStdString();
    SetSitePath(site);
    if (QFileInfo(QString::fromStdString(site)).absoluteFilePath() ==
        QFileInfo(QString::fromStdString(m_planPath)).absoluteFilePath()) {
        ShowProblem("the site would replace its own plan: save it under another name");
        return false;
    }
    // A site there has a survey of its own: it is replaced only when the
    // surveyor says so (the Save as dialog has asked already).
    if (site != m_confirmedSite && QFileInfo::exists(QString::fromStdString(site)) &&
        platform::MessageBox(site + " already exists. Replace it with a new, empty site? Its "
                                    "survey points would be lost.",
                             "New site from floor plan",
                             platform::kMbYesNo | platform::kMbIconExclamation) !=
            platform::kIdYes) {
        ShowProblem("choose another name for the new site");
        return false;
    }
    platform::WaitCursor wait;
    std::string error;
    std::vector<std::string> notes;
    if (!plan::CreateSiteFromPlan(m_planPath, Options(), site, notes, error)) {
        ShowProblem(error);
        return false;
    }
    m_notes = notes;
    return true;
}

void CNewSiteDlg::accept() {
    if (Create()) {
        QDialog::accept();
    }
}
