// The survey view: the main window's content. It shows the start screen, the
// site map with the survey cursor, or the scan screen, and it owns the map
// geometry, the map image and the drawing objects.
//
// Drawing lives in kestrow_view_draw.cpp; the handlers for the stylus, keys,
// scroll bars, zoom and the scanner's messages in kestrow_view_interaction.cpp.
// The application owns the scanner (a ScanSource) and the open and save
// commands; it shows a site through ShowSiteMap and ShowStoredPoints.
#pragma once

#include <QAbstractScrollArea>
#include <QBrush>
#include <QImage>
#include <QPen>
#include <QRect>

#include <QBasicTimer>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "sitefile/site_meta.h"
#include "view/survey_listener.h"
#include "view/ui_services.h"
#include "view/viewport.h"

class CRecordList;
class QPainter;
class ScanSource;
struct SweepDetails;
namespace walk {
struct WalkProgress;
}
namespace coverage {
class CoverageModel;
class CoverageWorker;
struct Profile;
}  // namespace coverage
namespace platform {
class QtWindowHandle;
}
namespace sitefile {
struct PointCircle;
struct SiteMap;
}  // namespace sitefile

class CKestrowView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    enum ViewMode : int32_t { VIEW_START = 0, VIEW_MAP = 1, VIEW_SCAN = 2 };

    explicit CKestrowView(QWidget* parent = nullptr);
    ~CKestrowView() override;

    // Draws the screen of the current mode onto a client area whose top-left
    // corner is (0, 0). paintEvent calls it for the window; tests and the
    // screenshot command call it with an image.
    void OnDraw(QPainter& painter, const QRect& client);

    // Circles are painted into the map image, which the map screen copies;
    // the map as loaded is kept beside it.
    void PaintBandCircle(int32_t x, int32_t y, int16_t rssi);
    // The point just committed, at its own position (the site header's).
    void PaintPointCircle();
    // The map as loaded with the circle of every point of g_surveyList over
    // it, in list order: all of it, or only within `area` (map pixels; after a
    // deletion, where the deleted circle was).
    void RepaintCircles();
    void RepaintCircles(const Rect& area);

    // Builds the map image from an 8-bit, 256-colour picture: colors holds
    // 256 entries 0x??RRGGBB (a bitmap colour table read as little-endian
    // words; the top byte is ignored), pixels points at the top row and row y
    // starts at pixels + y * stride (a negative stride walks a bottom-up
    // bitmap upwards through memory). Sets m_mapWidth and m_mapHeight; the viewport is
    // left alone. Answers false, changing nothing, when the size is not
    // positive or memory runs out.
    bool LoadMapImage(int32_t width, int32_t height, const uint32_t* colors, const uint8_t* pixels,
                      int64_t stride);
    bool HasMap() const { return !m_mapDC.isNull(); }
    // The workspace draws the circles itself, at the screen's size: then the
    // map image holds the plan and the overlay only.
    void SetCirclesInMap(bool on) { m_circlesInMap = on; }
    // Counts the changes of the map image and of the survey's circles (drawn
    // in it or not), so a drawing of either can be cached.
    uint64_t MapGeneration() const { return m_mapGeneration; }
    // Called with every repaint the view asks for: the workspace's canvas,
    // which shows this view's map, follows it.
    void SetRepaintHook(std::function<void()> hook) { m_repaintHook = std::move(hook); }

    // The client area of the view (the scroll area's viewport widget).
    Rect ClientRect() const;
    // Ask for a repaint later / paint now (the sweep loop cannot wait for events).
    void Repaint();
    void RepaintNow();
    // Renders the client area as drawn now, e.g. for a screenshot.
    QImage Render();

    CViewport* GetViewport() const { return m_pViewport.get(); }

    // Scan-screen paint counter, 0..7, never reset: picks the radar frame.
    static int32_t s_radarFrame;

    // Survey interaction (kestrow_view_interaction.cpp).
    // The questions' answerers; set before the first update.
    void SetUiServices(UiServices services) { m_services = std::move(services); }
    const UiServices& Services() const { return m_services; }
    // Told of every commit and deletion before it is shown; none when null.
    void SetSurveyListener(SurveyListener* listener) { m_surveyListener = listener; }
    // Brings the scanner up (once), pauses pauseMs under the wait cursor and
    // asks the scanner who it is.
    void OnInitialUpdate(ScanSource& scanner, int pauseMs);
    ScanSource* Scanner() const { return m_scanner; }
    // The view's commands: zoom, colour ranges, help, about.
    void OnCommand(int command);
    void OnZoomIn();
    void OnZoomOut();
    void OnHScroll(int code, int position);
    void OnVScroll(int code, int position);
    void OnKeyDown(unsigned key);
    void OnLButtonDown(QPoint point, bool hold);
    // A tap-and-hold at map (x, y): selects the point nearest it and opens
    // its information dialog (whose delete button deletes it); false when
    // no point is near.
    bool HoldAtMap(int32_t mapX, int32_t mapY);
    // The survey can take a point: a site is open and the scanner is there.
    bool SiteLoaded() const;
    // Counts the maps loaded, so a window showing this view can tell a newly
    // opened site.
    uint64_t MapLoadCount() const { return m_mapLoads; }
    int OnKorvDraw(uintptr_t wParam, intptr_t lParam);
    // A walking survey runs the scanner: finished sweeps are its to commit.
    void SetWalking(bool walking) { m_walking = walking; }
    bool IsWalking() const { return m_walking; }
    // Commits a walk's finished scan as the point `name` at map (x, y), as a
    // tap's sweep is committed (the listener told, the circle painted, the
    // status and the overlay updated), without the message boxes that would
    // stop the walk; answers the name stored.
    std::string CommitWalkPoint(int32_t x, int32_t y, const std::string& name,
                                const CRecordList& scan, const SweepDetails& details);
    // The walk grew: the listener is told (the journal), the view repainted.
    void TellWalkProgress(const walk::WalkProgress& progress);
    // Stops the scanner and its posts to this view (program exit).
    void ShutDownScanner();

    // Shows a newly opened site: its map, the whole of it in view, the scroll
    // ranges and positions; false (nothing changed) when the map cannot be
    // held in memory.
    bool ShowSiteMap(const sitefile::SiteMap& map);
    // Paints the circles of stored points into the map.
    void ShowStoredPoints(const std::vector<sitefile::PointCircle>& circles);
    // The survey cursor: where a tap on the centre would take a point.
    int32_t CurrentX() const { return m_pViewport->GetCenterX(); }
    int32_t CurrentY() const { return m_pViewport->GetCenterY(); }
    bool IsSurveyPending() const;
    // The sweep's two ends, shared by the handheld's blocking loop and the
    // workspace's sweep on the event loop: BeginSurveyPoint settles a point
    // still waiting, starts the point named `name` at map (x, y) (kept on the
    // map) and the scanner's sweep, and answers false when there is no
    // scanner or site. EndSweep tells the surveyor how the sweep ended (the
    // beep, or why nothing was recorded); the commit itself is OnKorvDraw's.
    bool BeginSurveyPoint(int32_t x, int32_t y, const char* name);
    void EndSweep(SweepState state);
    // Commits a point whose sweep has finished but whose KORV_DRAW still
    // waits in the queue (before an open or a save).
    void SettlePendingPoint() { OnKorvDraw(0, 0); }
    // Posts KORV_STATUS_UPDATE to the frame with a map position.
    void PostStatusUpdate(int32_t x, int32_t y);

    // The coverage overlay over the map (kestrow_view_overlay.cpp): a
    // heatmap of a metric, drawn translucently between the plan and the
    // circles, computed off the user-interface thread after every change of
    // the survey, or the pass/fail map of the requirement profile. The overlay
    // key cycles off, strongest, pass/fail, off.
    enum class Overlay { kOff, kStrongest, kSecond, kCount, kPassFail, kCochannel, kSnr };
    void SetOverlay(Overlay overlay);
    Overlay CurrentOverlay() const { return m_overlay; }
    void CycleOverlay();
    // The survey changed (a point committed or deleted, a site opened): the
    // overlay is computed again.
    void SurveyChanged();
    // The map's scale (pixels per metre) where the site has one: cells farther
    // than 5 m from every survey point have no value (64 pixels without).
    void SetMapScale(std::optional<double> pixelsPerMetre);
    std::optional<double> MapScale() const { return m_pixelsPerMetre; }
    // What the site's sidecar adds to the survey the overlay maps: the
    // frequencies the Wi-Fi adapter reported (bands; the sweeps since add
    // theirs), the noise measured, the walls and the placed access points.
    void SetSurveyExtras(const sitefile::SiteMeta& meta);
    // Those extras; null before the first open.
    const sitefile::SiteMeta* SurveyExtras() const { return m_surveyExtras.get(); }
    // The requirement profile the pass/fail overlay judges (voice by default).
    void SetProfile(const coverage::Profile& profile);
    const coverage::Profile* CurrentProfile() const { return m_profile.get(); }
    // The threshold (dBm) the counting metrics count radios at, and which
    // access points the heatmap is about (all of them when empty): the
    // choices of ksf heatmap's --threshold, --bssid and --band.
    void SetOverlayChoices(double thresholdDbm, const coverage::ApFilter& filter);
    double OverlayThreshold() const { return m_overlayThreshold; }
    // True while the overlay shown waits for a computation.
    bool IsOverlayPending() const;
    // Abandons a computation of the overlay still running and turns the
    // overlay off; false when none was running.
    bool CancelCoverage();
    // What the overlay's computation is doing, or why it shows nothing;
    // drawn along the bottom of the map screen while it is not empty.
    const std::string& CoverageStatus() const { return m_coverageStatus; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

    void DrawStartScreen(QPainter& painter, const QRect& client);
    void DrawMapScreen(QPainter& painter, const QRect& client);
    void DrawScanScreen(QPainter& painter, const QRect& client);
    void PaintEllipse(QPainter& painter, const Rect& box, const QPen& pen, const QBrush& brush);

  public:
    std::unique_ptr<CViewport> m_pViewport;
    int32_t m_mapHeight = 0;
    int32_t m_mapWidth = 0;
    // The site map, Format_RGB32, circles painted in: the memory context and
    // its bitmap in one. Null until a map is loaded.
    QImage m_mapDC;
    // The map as loaded (8-bit, its colour table beside it), to paint the
    // circles over afresh.
    QImage m_mapPlan;
    QPen m_penBlack;
    QPen m_penBand1;
    QPen m_penBand2;
    QPen m_penBand3;
    QPen m_penBand4;
    QPen m_penBand5;
    QPen m_penWhite;
    QBrush m_brBlack;
    QBrush m_brWhite;
    QBrush m_brBand1;
    QBrush m_brBand2;
    QBrush m_brBand3;
    QBrush m_brBand4;
    QBrush m_brBand5;
    QImage m_cursorBitmap;  // the target mark, 32 x 32
    int32_t m_viewMode = VIEW_START;

  private:
    const QPen& BandPen(int band) const;
    const QBrush& BandBrush(int band) const;

    QImage m_frame;  // per-paint scratch for the scaled map copy
    bool m_circlesInMap = true;
    uint64_t m_mapGeneration = 0;
    uint64_t m_mapLoads = 0;
    std::function<void()> m_repaintHook;

    void SetScrollPositions();
    UiServices m_services;
    SurveyListener* m_surveyListener = nullptr;
    ScanSource* m_scanner = nullptr;

    // The overlay: its computation runs on a worker, whose result comes back
    // as an event; m_overlayCells holds one pixel a cell of m_overlaySpec.
    void RequestCoverage();
    void ShowCoverage();
    bool IsOverlayPendingFor(uint64_t generation) const;
    void DrawOverlayStatus(QPainter& painter, const QRect& client);
    std::string m_coverageStatus;
    Overlay m_overlay = Overlay::kOff;
    std::optional<double> m_pixelsPerMetre;
    std::unique_ptr<sitefile::SiteMeta> m_surveyExtras;
    std::unique_ptr<coverage::Profile> m_profile;
    std::unique_ptr<coverage::CoverageWorker> m_coverageWorker;
    std::shared_ptr<const coverage::CoverageModel> m_coverageModel;
    uint64_t m_coverageAsked = 0;  // generation of the newest request
    uint64_t m_coverageShown = 0;  // generation of m_coverageModel
    QImage m_overlayCells;
    coverage::GridSpec m_overlaySpec;
    double m_overlayThreshold = -67;
    coverage::ApFilter m_overlayFilter;
    // What the scanner posts KORV_DRAW through; detached at shut-down.
    std::unique_ptr<platform::QtWindowHandle> m_windowHandle;
    void SurveyAt(int32_t x, int32_t y);
    // The finished sweep's point at the site header's place and name, from
    // g_scanList or `scan`; `quiet` leaves out the warnings' message boxes.
    void CommitScan(const CRecordList* scan, const SweepDetails& details, bool quiet);
    bool m_walking = false;
    // The scanner's answers to the start-up requests post nothing, so they
    // usually arrive after the start screen was painted: while it shows, the
    // texts are looked at now and then and the screen repainted when they
    // differ from the ones drawn.
    QBasicTimer m_startTextTimer;
    std::string m_drawnFirmware;
    std::string m_drawnSerial;
    void CheckStartTexts();
    QBasicTimer m_holdTimer;  // a press still down when it fires is a tap-and-hold
    QPoint m_pressPoint;
    bool m_pressPending = false;
};
