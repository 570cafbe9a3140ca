// File → New site from floor plan: choose a plan (a picture, an SVG or a
// PDF), for a PDF the page (with a preview of it), for SVG and PDF the width
// to draw it at, then where to save the site. Create writes the new site
// file; the window then opens it.
#pragma once

#include <QDialog>
#include <QImage>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plan/plan_import.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CNewSiteDlg : public QDialog {
    Q_OBJECT
  public:
    // The file choosers: a person's file dialogs unless a script answers.
    struct Choosers {
        std::function<std::optional<std::string>(QWidget* parent)> plan;
        std::function<std::optional<std::string>(QWidget* parent, const std::string& suggested)>
            site;
    };

    explicit CNewSiteDlg(QWidget* parent = nullptr);
    void SetChoosers(Choosers choosers) { m_choosers = std::move(choosers); }

    // What a person fills in, for the window and for scripts.
    void SetPlan(const std::string& path);
    void SetPage(int page);
    void SetWidth(int width);
    void SetSitePath(const std::string& path);

    const std::string& PlanPath() const { return m_planPath; }
    int Pages() const { return m_pages; }
    std::string SitePath() const;
    // Why the plan cannot be read or the site not written; empty when fine.
    const std::string& Problem() const { return m_problem; }
    // What the surveyor should know of the plan as drawn (scaled down, ...).
    const std::vector<std::string>& Notes() const { return m_notes; }
    // The preview as shown.
    QImage Preview() const { return m_preview; }

    // Writes the site; false (the dialog stays open, the reason shown) when
    // the plan cannot be drawn or the site cannot be written, or when a file
    // is there already and the surveyor does not want it replaced.
    bool Create();

    // The file dialogs' filter of floor plans.
    static QString PlanFilter();

  public slots:
    void accept() override;

  private:
    void ChoosePlan();
    void ChooseSite();
    void UpdatePreview();
    void ShowProblem(const std::string& problem);
    plan::PlanOptions Options() const;

    Choosers m_choosers;
    QLineEdit* m_planEdit;
    QSpinBox* m_page;
    QLabel* m_pageCount;
    QSpinBox* m_width;
    QLabel* m_previewLabel;
    QLabel* m_info;
    QLineEdit* m_siteEdit;
    QPushButton* m_create;
    std::string m_planPath;
    int m_pages = 0;
    plan::PlanKind m_kind = plan::PlanKind::kPicture;
    QImage m_preview;
    std::string m_problem;
    std::vector<std::string> m_notes;
    bool m_updating = false;
    // The site path the Save as dialog chose (and so asked to replace).
    std::string m_confirmedSite;
};
