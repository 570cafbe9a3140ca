// Site preparation in the workspace: the Site menu and tool bar (the scale,
// wall and access-point tools, wall detection, the material chooser), the
// walls, access points and scale bar drawn over the plan, and every change
// written to the open site's sidecar at once (plan::SitePreparation).
//
// Detected walls are first shown for review: while they are, the wall tool
// edits them instead of the walls kept, and nothing reaches the sidecar until
// they are kept (or they are discarded).
#pragma once

#include <QObject>
#include <QPointF>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plan/site_prep.h"
#include "sitefile/site_meta.h"

class CKestrowView;
class QAction;
class QActionGroup;
class QComboBox;
class QDropEvent;
class QLabel;
class QMainWindow;
class QPainter;
class QToolBar;

namespace workspace {
class MapCanvas;
class CanvasGeometry;
}  // namespace workspace

namespace sitetools {

class MapTool;
class WallTool;

// A BSSID heard in the survey, for the access-point tool's choice.
struct HeardBssid {
    sitefile::MacBytes bssid{};
    std::string ssid;
    int channel = 0;
    int strongest = -128;  // dBm, anywhere in the survey
    int nearby = -128;     // dBm at the survey point nearest the place asked
};

// Where the coverage model puts an access point that is not placed.
struct EstimatedAp {
    sitefile::MacBytes bssid{};
    std::string label;  // its network name, or empty
    double x = 0;       // map pixels
    double y = 0;
    double uncertainty = 0;  // map pixels
};

class ApEstimator;

class SitePrepTools : public QObject {
    Q_OBJECT
  public:
    enum class Tool { kSurvey, kScale, kWalls, kAccessPoints };

    // Adds the Site menu and tool bar to `window` and watches `canvas`.
    SitePrepTools(QMainWindow& window, workspace::MapCanvas& canvas, CKestrowView& core);
    ~SitePrepTools() override;

    // The site the window shows: when it is another site (or the same one
    // opened again, `mapLoad` counting the opens) its sidecar is read, and
    // the review and the tools reset.
    void SiteShown(const std::string& sitePath, int mapWidth, int mapHeight, uint64_t mapLoad);

    void ChooseTool(Tool tool);
    Tool CurrentTool() const { return m_tool; }
    sitefile::Material CurrentMaterial() const;
    void SetMaterial(sitefile::Material material);

    // The changes, as the tools and the script make them. Each answers false
    // with the reason, nothing changed, when it cannot be made.
    bool SetScaleFromLine(QPointF a, QPointF b, double metres, std::string& error);
    bool SetScale(double pixelsPerMetre, std::string& error);
    // The walls the wall tool edits: those under review while there are
    // any, else those kept.
    const std::vector<sitefile::Wall>& EditedWalls() const;
    bool AddWall(const sitefile::Wall& wall, std::string& error);
    bool ChangeWall(size_t index, const sitefile::Wall& wall, std::string& error);
    bool DeleteWall(size_t index, std::string& error);
    // Finds the walls drawn in the plan and shows them for review (none
    // found is said so and nothing is shown).
    bool DetectWalls(std::string& error);
    bool Reviewing() const { return m_reviewing; }
    // Keeps the walls under review in place of those there were.
    bool KeepDetectedWalls(std::string& error);
    void DiscardDetectedWalls();
    bool PlaceAccessPoint(const sitefile::MacBytes& bssid, QPointF at, const std::string& label,
                          std::string& error);
    bool UnplaceAccessPoint(const sitefile::MacBytes& bssid, std::string& error);

    // The coverage model's estimates of where the access points not placed
    // hang: drawn hollow inside a dashed circle of their uncertainty, and a
    // click on one with the access-point tool offers to place it there.
    void SetEstimates(std::vector<EstimatedAp> estimates);
    // The survey changed: its estimates are worked out again, off this thread.
    void SurveyChanged();
    const std::vector<EstimatedAp>& Estimates() const { return m_estimates; }
    // The estimate drawn under canvas point `at`, if any (placed ones are not).
    const EstimatedAp* EstimateAt(QPointF at) const;

    const sitefile::SiteMeta& Meta() const { return m_prep.Meta(); }
    bool HasSite() const { return !m_prep.SitePath().empty(); }
    // The BSSIDs of the survey, the loudest at the survey point nearest
    // `near` first.
    static std::vector<HeardBssid> HeardBssids(QPointF near);

    // Draws the walls, the walls under review, the access points, the scale
    // bar and the chosen tool's marks over the plan (canvas pixels).
    void Draw(QPainter& painter, QSize size) const;
    workspace::MapCanvas& Canvas() { return m_canvas; }
    const workspace::CanvasGeometry& Geometry() const;

    // A refusal from a tool: shown in a message box.
    static void Refused(const std::string& error);
    // The questions the tools ask: a person's dialogs unless replaced.
    std::function<std::optional<double>(QWidget* parent, double pixels)> askMetres;
    std::function<std::optional<double>(QWidget* parent, std::optional<double> current)>
        askPixelsPerMetre;
    std::function<std::optional<sitefile::MacBytes>(QWidget* parent, QPointF canvasPoint,
                                                    const std::vector<HeardBssid>& heard)>
        askBssid;
    // "Place here": whether to place the estimated access point where it is.
    std::function<bool(QWidget* parent, QPointF canvasPoint, const EstimatedAp& estimate)>
        askPlaceHere;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildActions(QMainWindow& window);
    // After every change: the view's scale and overlay, the canvas.
    void Changed();
    // A change to the sidecar: Changed() when it was stored.
    bool Stored(bool stored);
    void UpdateActions();
    void ShowHint();
    void DrawWalls(QPainter& painter, const std::vector<sitefile::Wall>& walls,
                   bool proposals) const;
    void DrawAccessPoints(QPainter& painter) const;
    void DrawEstimates(QPainter& painter) const;
    bool EstimateShown(const EstimatedAp& estimate) const;
    void DrawScaleBar(QPainter& painter, QSize size) const;
    void DrawReviewBanner(QPainter& painter, QSize size) const;
    MapTool* ActiveTool() const;
    // A BSSID dragged onto the plan (from the Access points dock) is placed there.
    bool Dropped(QDropEvent& event);

    workspace::MapCanvas& m_canvas;
    CKestrowView& m_core;
    plan::SitePreparation m_prep;
    Tool m_tool = Tool::kSurvey;
    std::unique_ptr<MapTool> m_scaleTool;
    std::unique_ptr<WallTool> m_wallTool;
    std::unique_ptr<MapTool> m_apTool;
    bool m_reviewing = false;
    std::vector<sitefile::Wall> m_proposals;
    std::vector<EstimatedAp> m_estimates;
    std::unique_ptr<ApEstimator> m_estimator;
    QActionGroup* m_toolGroup = nullptr;
    QAction* m_surveyAction = nullptr;
    QAction* m_scaleAction = nullptr;
    QAction* m_typeScaleAction = nullptr;
    QAction* m_wallAction = nullptr;
    QAction* m_detectAction = nullptr;
    QAction* m_keepAction = nullptr;
    QAction* m_discardAction = nullptr;
    QAction* m_apAction = nullptr;
    QComboBox* m_material = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_hint = nullptr;
    bool m_leftDown = false;
    bool m_spaceHeld = false;
    uint64_t m_shownLoad = 0;
};

}  // namespace sitetools
