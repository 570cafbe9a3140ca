// The survey view's handlers: its first update (which brings up the scanner),
// the commands, the scroll bars, the joystick keys, the stylus and the
// scanner's KORV_DRAW messages.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include "dialogs/about_dlg.h"
#include "dialogs/color_ranges_dlg.h"
#include "dialogs/help_dlg.h"
#include "dialogs/point_info_dlg.h"
#include "platform/message_box.h"
#include "platform/qt/qt_window_handle.h"
#include "platform/qt/wait_cursor.h"
#include "platform/sound/sound.h"
#include "platform/window_messages.h"
#include "scanner/scan_source.h"
#include "sitefile/site_reader.h"
#include "survey/site_header.h"
#include "view/command_ids.h"
#include "view/kestrow_view.h"

namespace {

constexpr int kLineStep = 10;      // map pixels per line scroll
constexpr int kJoystickStep = 10;  // map pixels per joystick step
constexpr const char* kPointName = "TEST";

// The surveyor's messages of the survey flow.
constexpr const char* kOpenSiteFirst = "Open a site file first.";
constexpr const char* kCoverageWarning = "COVERAGE WARNING";
constexpr const char* kNoAnswer = "The scanner did not respond.";
constexpr const char* kNothingRecorded = "No survey point was recorded.";
constexpr const char* kNothingHeard = "No Access Points Detected!";

// A press held this long within kHoldSlop pixels is a tap-and-hold.
constexpr int kHoldMs = 500;
constexpr int kHoldSlop = 6;

// Scroll-bar request codes.
enum ScrollCode {
    kLineUp = 0,
    kLineDown = 1,
    kPageUp = 2,
    kPageDown = 3,
    kThumbPosition = 4,
    kThumbTrack = 5,
    kEndScroll = 8,
};

enum JoystickKey : unsigned {
    kKeyLeft = 0x25,
    kKeyUp = 0x26,
    kKeyRight = 0x27,
    kKeyDown = 0x28,
    kKeyAction = 0x86,
};

platform::MessageId KorvDrawMessage() {
    static const platform::MessageId id = platform::RegisterWindowMessage("KORV_DRAW");
    return id;
}

int ScrollCodeOf(int sliderAction) {
    switch (sliderAction) {
        case QAbstractSlider::SliderSingleStepSub:
            return kLineUp;
        case QAbstractSlider::SliderSingleStepAdd:
            return kLineDown;
        case QAbstractSlider::SliderPageStepSub:
            return kPageUp;
        case QAbstractSlider::SliderPageStepAdd:
            return kPageDown;
        case QAbstractSlider::SliderMove:
            return kThumbTrack;
        default:
            return -1;  // to the edges: a code that changes nothing
    }
}

}  // namespace

void CKestrowView::OnInitialUpdate(ScanSource& scanner, int pauseMs) {
    if (m_scanner != nullptr) {
        return;  // the scanner is brought up once for the program's life
    }
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    // The scroll bars' own requests come here as the platform's codes; the
    // handlers then set the bar to the survey cursor's position.
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int action) {
        OnHScroll(ScrollCodeOf(action), horizontalScrollBar()->sliderPosition());
    });
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int action) {
        OnVScroll(ScrollCodeOf(action), verticalScrollBar()->sliderPosition());
    });
    connect(horizontalScrollBar(), &QAbstractSlider::sliderReleased, this, [this] {
        OnHScroll(kThumbPosition, horizontalScrollBar()->sliderPosition());
        OnHScroll(kEndScroll, 0);
    });
    connect(verticalScrollBar(), &QAbstractSlider::sliderReleased, this, [this] {
        OnVScroll(kThumbPosition, verticalScrollBar()->sliderPosition());
        OnVScroll(kEndScroll, 0);
    });
    setFocusPolicy(Qt::StrongFocus);

    m_scanner = &scanner;
    m_windowHandle = std::make_unique<platform::QtWindowHandle>(this);
    scanner.Connect(m_windowHandle.get());

    {
        platform::WaitCursor wait;
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    scanner.RequestIdentity();
    Repaint();
}

void CKestrowView::ShutDownScanner() {
    if (m_scanner) {
        m_scanner->Disconnect();
    }
    if (m_windowHandle) {
        m_windowHandle->Detach();
    }
}

bool CKestrowView::IsSurveyPending() const {
    return m_scanner != nullptr && m_scanner->IsSweepRequested();
}

bool CKestrowView::ShowSiteMap(const sitefile::SiteMap& map) {
    // The file's rows stay in their order: a bottom-up map is read from its
    // last row upwards.
    const int64_t stride = static_cast<int64_t>(map.stride);
    if (!LoadMapImage(map.width, map.height, map.colors, map.Row(0),
                      map.bottomUp ? -stride : stride)) {
        return false;
    }
    m_pViewport->SetMapBounds(0, 0, map.width, map.height);
    m_pViewport->SetVisibleRect(0, 0, map.width, map.height);
    verticalScrollBar()->setRange(0, map.height);
    horizontalScrollBar()->setRange(0, map.width);
    verticalScrollBar()->setValue(m_pViewport->GetCenterY());
    horizontalScrollBar()->setValue(m_pViewport->GetCenterX());
    return true;
}

void CKestrowView::ShowStoredPoints(const std::vector<sitefile::PointCircle>& circles) {
    for (const sitefile::PointCircle& circle : circles) {
        PaintBandCircle(circle.x, circle.y, circle.rssi);
    }
}

void CKestrowView::OnCommand(int command) {
    switch (command) {
        case ID_ZOOM_IN:
            OnZoomIn();
            break;
        case ID_ZOOM_OUT:
            OnZoomOut();
            break;
        case ID_COLOR_RANGES: {
            CColorRangesDlg dialog;
            m_services.RunModal(dialog);
            break;
        }
        case ID_HELP: {
            CHelpDlg dialog;
            m_services.RunModal(dialog);
            break;
        }
        case ID_ABOUT: {
            CAboutDlg dialog;
            m_services.RunModal(dialog);
            break;
        }
        default:
            break;
    }
}

void CKestrowView::OnZoomIn() {
    m_pViewport->ZoomIn();
    Repaint();
}

void CKestrowView::OnZoomOut() {
    m_pViewport->ZoomOut();
    // Zooming out moves the centre back to where the zoom-in started.
    SetScrollPositions();
    Repaint();
}

void CKestrowView::OnHScroll(int code, int position) {
    const int width = ClientRect().Width();
    switch (code) {
        case kLineUp:
            m_pViewport->ScrollLeft(kLineStep);
            break;
        case kLineDown:
            m_pViewport->ScrollRight(kLineStep);
            break;
        case kPageUp:
            m_pViewport->ScrollLeft(width);
            break;
        case kPageDown:
            m_pViewport->ScrollRight(width);
            break;
        case kThumbTrack:
            m_pViewport->SetCenterX(position);
            break;
        default:
            break;
    }
    horizontalScrollBar()->setValue(m_pViewport->GetCenterX());
    Repaint();
}

void CKestrowView::OnVScroll(int code, int position) {
    const int height = ClientRect().Height();
    switch (code) {
        case kLineUp:
            m_pViewport->ScrollUp(kLineStep);
            break;
        case kLineDown:
            m_pViewport->ScrollDown(kLineStep);
            break;
        case kPageUp:
            m_pViewport->ScrollUp(height);
            break;
        case kPageDown:
            m_pViewport->ScrollDown(height);
            break;
        case kThumbTrack:
            m_pViewport->SetCenterY(position);
            break;
        default:
            break;
    }
    verticalScrollBar()->setValue(m_pViewport->GetCenterY());
    Repaint();
}

void CKestrowView::SetScrollPositions() {
    horizontalScrollBar()->setValue(m_pViewport->GetCenterX());
    verticalScrollBar()->setValue(m_pViewport->GetCenterY());
}

void CKestrowView::OnKeyDown(unsigned key) {
    switch (key) {
        case kKeyLeft:
            m_pViewport->ScrollLeft(kJoystickStep);
            horizontalScrollBar()->setValue(m_pViewport->GetCenterX());
            Repaint();
            break;
        case kKeyUp:
            m_pViewport->ScrollUp(kJoystickStep);
            verticalScrollBar()->setValue(m_pViewport->GetCenterY());
            Repaint();
            break;
        case kKeyRight:
            m_pViewport->ScrollRight(kJoystickStep);
            horizontalScrollBar()->setValue(m_pViewport->GetCenterX());
            Repaint();
            break;
        case kKeyDown:
            m_pViewport->ScrollDown(kJoystickStep);
            verticalScrollBar()->setValue(m_pViewport->GetCenterY());
            Repaint();
            break;
        case kKeyAction:
            // The joystick's point is taken at the survey cursor, with the
            // same sweep loop as a tap.
            if (!SiteLoaded()) {
                platform::MessageBox(kOpenSiteFirst, platform::kApplicationTitle,
                                     platform::kMbOk | platform::kMbIconExclamation);
                break;
            }
            SurveyAt(m_pViewport->GetCenterX(), m_pViewport->GetCenterY());
            break;
        default:
            break;
    }
}

bool CKestrowView::SiteLoaded() const {
    return g_siteHeader != nullptr && HasMap();
}

void CKestrowView::OnLButtonDown(QPoint point, bool hold) {
    const Rect client = ClientRect();
    if (hold) {
        int32_t mapX = 0;
        int32_t mapY = 0;
        m_pViewport->ClientToMap(client, point.x(), point.y(), mapX, mapY);
        HoldAtMap(mapX, mapY);
        return;
    }
    if (!SiteLoaded()) {
        platform::MessageBox(kOpenSiteFirst, platform::kApplicationTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
        return;
    }
    m_pViewport->CenterOnClientPoint(client, point.x(), point.y());
    SetScrollPositions();
    RepaintNow();
    SurveyAt(m_pViewport->GetCenterX(), m_pViewport->GetCenterY());
}

bool CKestrowView::HoldAtMap(int32_t mapX, int32_t mapY) {
    if (!g_siteHeader || g_siteHeader->SelectPointNear(mapX, mapY) == 0) {
        return false;
    }
    // Where the selected point's circle lies (its outline reaches a pixel
    // past the box).
    const int64_t x = std::llround(g_siteHeader->m_selX);
    const int64_t y = std::llround(g_siteHeader->m_selY);
    CPointInfoDlg info(this);
    if (m_surveyListener) {
        info.SetDeleter([this] { return m_surveyListener->DeleteSelectedPoint(); });
    }
    if (m_services.RunModal(info) == CPointInfoDlg::kDeletedResult && !info.DeletedByDeleter()) {
        if (m_surveyListener) {
            m_surveyListener->OnPointDeleted(static_cast<int32_t>(x), static_cast<int32_t>(y));
        }
        // The deleted point's circle goes and the plan under it comes back.
        auto clamp = [](int64_t v) {
            return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
        };
        RepaintCircles(Rect{clamp(x - 11), clamp(y - 11), clamp(x + 12), clamp(y + 12)});
        Repaint();
        SurveyChanged();
    }
    return true;
}

// Starts a survey point at map (x, y) and drives the sweep from channel step
// 1 to 16 on this thread. A unit that leaves kSweepGiveUpAfter requests in a
// row unanswered (250 ms each) is given up on: the UI thread must not stay
// blocked for ever. KORV_DRAW messages wait in the queue meanwhile; the
// first one handled afterwards commits the point.
void CKestrowView::SurveyAt(int32_t x, int32_t y) {
    if (!BeginSurveyPoint(x, y, kPointName)) {
        return;
    }
    m_viewMode = VIEW_SCAN;
    RepaintNow();

    while (true) {
        const SweepState state = m_scanner->ContinueSweep();
        // No events are handled here: paint the scan screen directly.
        RepaintNow();
        if (state == SweepState::kRunning) {
            continue;
        }
        if (state == SweepState::kGaveUp) {
            m_viewMode = VIEW_MAP;
            RepaintNow();
        }
        EndSweep(state);
        return;
    }
}

bool CKestrowView::BeginSurveyPoint(int32_t x, int32_t y, const char* name) {
    ScanSource* scanner = m_scanner;
    if (scanner == nullptr || !g_siteHeader) {
        return false;
    }
    // The point lies on the map, also when the cursor was scrolled to rest
    // one past its last column or row.
    x = std::clamp(x, 0, std::max(m_mapWidth - 1, 0));
    y = std::clamp(y, 0, std::max(m_mapHeight - 1, 0));
    // The last sweep may have finished with its KORV_DRAW still queued (a
    // tap or key that was waiting behind the sweep came first): record that
    // point now, before this one empties the scan list.
    OnKorvDraw(0, 0);
    platform::PlayWaveAsync("ping");
    g_siteHeader->BeginPoint(x, y, name);
    scanner->BeginSweep(x, y);
    return true;
}

void CKestrowView::EndSweep(SweepState state) {
    if (state == SweepState::kGaveUp) {
        const std::string reason = m_scanner ? m_scanner->GaveUpReason() : std::string();
        platform::MessageBox((reason.empty() ? kNoAnswer : reason) + " " + kNothingRecorded,
                             kCoverageWarning, platform::kMbOk | platform::kMbIconExclamation);
    } else if (state == SweepState::kDone) {
        platform::MessageBeep(platform::kMbIconExclamation);
    }
}

int CKestrowView::OnKorvDraw(uintptr_t, intptr_t) {
    // A walk takes its own finished scans.
    if (m_scanner == nullptr || !g_siteHeader || m_walking || !m_scanner->TakeFinishedSweep()) {
        Repaint();
        return 0;
    }
    m_viewMode = VIEW_MAP;
    CommitScan(nullptr, m_scanner->FinishedSweepDetails(), false);
    return 0;
}

std::string CKestrowView::CommitWalkPoint(int32_t x, int32_t y, const std::string& name,
                                          const CRecordList& scan, const SweepDetails& details) {
    if (!g_siteHeader) {
        return std::string();
    }
    g_siteHeader->m_curX = std::clamp(x, 0, std::max(m_mapWidth - 1, 0));
    g_siteHeader->m_curY = std::clamp(y, 0, std::max(m_mapHeight - 1, 0));
    std::snprintf(g_siteHeader->m_curName, sizeof g_siteHeader->m_curName, "%s", name.c_str());
    CommitScan(&scan, details, true);
    return g_siteHeader->m_curName;
}

void CKestrowView::TellWalkProgress(const walk::WalkProgress& progress) {
    if (m_surveyListener) {
        m_surveyListener->OnWalkProgress(progress);
    }
    Repaint();
}

void CKestrowView::CommitScan(const CRecordList* scan, const SweepDetails& details, bool quiet) {
    // The channels the adapter reported: the survey's bands (6 GHz shares
    // channel numbers with the other bands) before the sidecar has them.
    if (!details.channels.empty()) {
        if (!m_surveyExtras) {
            m_surveyExtras = std::make_unique<sitefile::SiteMeta>();
        }
        for (const SweepBssChannel& c : details.channels) {
            m_surveyExtras->bssids[c.mac] = {c.frequencyMhz, c.widthMhz};
        }
    }
    const int heard = scan ? g_siteHeader->CommitPoint(*scan) : g_siteHeader->CommitPoint();
    if (m_surveyListener) {
        m_surveyListener->OnPointCommitted(g_siteHeader->m_curX, g_siteHeader->m_curY);
        if (!details.channels.empty() || !details.noise.empty()) {
            m_surveyListener->OnSweepDetails(g_siteHeader->m_curX, g_siteHeader->m_curY, details);
        }
    }
    // A walk goes on: its empty points show as the weakest circles.
    if (heard == 0 && !quiet) {
        platform::PlayWaveSync("REDALERT");
        platform::MessageBox(kNothingHeard, kCoverageWarning,
                             platform::kMbOk | platform::kMbIconExclamation);
    }
    if (!details.refused.empty() && !quiet) {
        std::string text = "The scanner reported what cannot be true, left out of this point: ";
        for (size_t i = 0; i < details.refused.size(); ++i) {
            text += (i > 0 ? "; " : "") + details.refused[i];
        }
        platform::MessageBox(text + ".", kCoverageWarning,
                             platform::kMbOk | platform::kMbIconExclamation);
    }
    // The point is shown where it was taken, which is not the survey
    // cursor when another tap has moved it since.
    PaintPointCircle();
    PostStatusUpdate(g_siteHeader->m_curX, g_siteHeader->m_curY);
    Repaint();
    SurveyChanged();
}

void CKestrowView::PostStatusUpdate(int32_t x, int32_t y) {
    QCoreApplication::postEvent(
        window(), new platform::WindowMessageEvent(
                      platform::RegisterWindowMessage("KORV_STATUS_UPDATE"),
                      static_cast<uintptr_t>(static_cast<intptr_t>(x)), static_cast<intptr_t>(y)));
}

void CKestrowView::customEvent(QEvent* event) {
    if (event->type() == platform::WindowMessageEvent::Type()) {
        auto* message = static_cast<platform::WindowMessageEvent*>(event);
        if (message->Message() == KorvDrawMessage()) {
            OnKorvDraw(message->WParam(), message->LParam());
        }
        return;
    }
    QAbstractScrollArea::customEvent(event);
}

void CKestrowView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            OnKeyDown(kKeyLeft);
            break;
        case Qt::Key_Up:
            OnKeyDown(kKeyUp);
            break;
        case Qt::Key_Right:
            OnKeyDown(kKeyRight);
            break;
        case Qt::Key_Down:
            OnKeyDown(kKeyDown);
            break;
        case Qt::Key_O:
            CycleOverlay();
            break;
        case Qt::Key_Escape:
            if (!CancelCoverage()) {
                QAbstractScrollArea::keyPressEvent(event);
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            // The joystick pressed in the middle.
            if (!event->isAutoRepeat()) {
                OnKeyDown(kKeyAction);
            }
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    event->accept();
}

// A press becomes a plain tap when it is released before kHoldMs, and a
// tap-and-hold when it is still down then (a touch long-press arrives as the
// same held press). A right-click is a tap-and-hold at once.
void CKestrowView::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        m_holdTimer.stop();
        m_pressPending = false;
        OnLButtonDown(point, true);
    } else if (event->button() == Qt::LeftButton) {
        m_pressPoint = point;
        m_pressPending = true;
        m_holdTimer.start(kHoldMs, this);
    }
    event->accept();
}

void CKestrowView::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressPending &&
        (event->position().toPoint() - m_pressPoint).manhattanLength() > kHoldSlop) {
        // Moved away: no longer a hold; the release makes it a tap.
        m_holdTimer.stop();
    }
    event->accept();
}

void CKestrowView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_pressPending) {
        m_holdTimer.stop();
        m_pressPending = false;
        OnLButtonDown(m_pressPoint, false);
    }
    event->accept();
}

void CKestrowView::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_startTextTimer.timerId()) {
        CheckStartTexts();
        return;
    }
    if (event->timerId() == m_holdTimer.timerId()) {
        m_holdTimer.stop();
        if (m_pressPending) {
            m_pressPending = false;
            OnLButtonDown(m_pressPoint, true);
        }
        return;
    }
    QAbstractScrollArea::timerEvent(event);
}
