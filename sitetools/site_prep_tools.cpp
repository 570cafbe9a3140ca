#include "sitetools/site_prep_tools.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDataStream>
#include <QDropEvent>
#include <QEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "coverage/coverage_map.h"
#include "coverage/survey.h"
#include "coverage/survey_input.h"
#include "picture/walls_picture.h"
#include "platform/message_box.h"
#include "sitefile/site_reader.h"
#include "sitetools/ap_estimator.h"
#include "sitetools/map_tools.h"
#include "survey/record_list.h"
#include "view/kestrow_view.h"
#include "workspace/canvas_geometry.h"
#include "workspace/map_canvas.h"

namespace sitetools {

namespace {

QString MaterialText(const sitefile::MaterialInfo& info) {
    return QStringLiteral("%1 (%2 / %3 / %4 dB)")
        .arg(QString::fromLatin1(info.name))
        .arg(info.lossDb[0])
        .arg(info.lossDb[1])
        .arg(info.lossDb[2]);
}

QIcon Swatch(QColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.fillRect(QRect(1, 6, 14, 5), colour);
    return QIcon(pixmap);
}

std::optional<double> AskMetres(QWidget* parent, double pixels) {
    bool ok = false;
    const double metres = QInputDialog::getDouble(
        parent, QObject::tr("Set the scale"),
        QObject::tr("The line is %1 pixels long. How many metres is it?").arg(pixels, 0, 'f', 1),
        1.0, 0.01, 100000.0, 2, &ok);
    return ok ? std::optional<double>(metres) : std::nullopt;
}

std::optional<double> AskPixelsPerMetre(QWidget* parent, std::optional<double> current) {
    bool ok = false;
    const double value = QInputDialog::getDouble(
        parent, QObject::tr("Set the scale"), QObject::tr("Pixels of the plan per metre:"),
        current.value_or(20.0), sitefile::kMinPixelsPerMetre, sitefile::kMaxPixelsPerMetre, 3, &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<sitefile::MacBytes> AskBssid(QWidget* parent, QPointF canvasPoint,
                                           const std::vector<HeardBssid>& heard) {
    QMenu menu(parent);
    menu.addSection(QObject::tr("Place here"));
    std::map<QAction*, sitefile::MacBytes> choices;
    for (const HeardBssid& h : heard) {
        const QString name =
            h.ssid.empty() ? QObject::tr("(hidden)") : QString::fromStdString(h.ssid);
        QString text = QStringLiteral("%1  %2  ch %3  best %4 dBm")
                           .arg(name, QString::fromStdString(coverage::BssidText(h.bssid)))
                           .arg(h.channel)
                           .arg(h.strongest);
        if (h.nearby > -128) {
            text += QObject::tr(", %1 dBm at the nearest point").arg(h.nearby);
        }
        choices[menu.addAction(text)] = h.bssid;
    }
    if (heard.empty()) {
        menu.addAction(QObject::tr("(no access point heard yet)"))->setEnabled(false);
    }
    QAction* other = menu.addAction(QObject::tr("Another BSSID…"));
    QAction* chosen = menu.exec(parent->mapToGlobal(canvasPoint.toPoint()));
    if (chosen == nullptr) {
        return std::nullopt;
    }
    if (chosen != other) {
        return choices[chosen];
    }
    bool ok = false;
    const QString text = QInputDialog::getText(parent, QObject::tr("Place an access point"),
                                               QObject::tr("BSSID (aa:bb:cc:dd:ee:ff):"),
                                               QLineEdit::Normal, QString(), &ok);
    sitefile::MacBytes bssid{};
    if (!ok) {
        return std::nullopt;
    }
    if (!coverage::ParseBssid(text.trimmed().toStdString(), bssid)) {
        SitePrepTools::Refused("'" + text.toStdString() +
                               "' is not a BSSID: write it as six pairs of hexadecimal digits, "
                               "aa:bb:cc:dd:ee:ff.");
        return std::nullopt;
    }
    return bssid;
}

// The BSSID a drag carries: a list row dragged from an item view (the Access
// points dock), or text. The first cell or word that reads as a BSSID.
std::optional<sitefile::MacBytes> DraggedBssid(const QMimeData& mime) {
    QStringList texts;
    const QString rows = QStringLiteral("application/x-qabstractitemmodeldatalist");
    if (mime.hasFormat(rows)) {
        QByteArray data = mime.data(rows);
        QDataStream stream(&data, QIODevice::ReadOnly);
        while (!stream.atEnd()) {
            int row = 0;
            int column = 0;
            QMap<int, QVariant> roles;
            stream >> row >> column >> roles;
            if (stream.status() != QDataStream::Ok) {
                break;
            }
            texts << roles.value(Qt::DisplayRole).toString();
        }
    }
    if (mime.hasText()) {
        texts << mime.text().split(QRegularExpression(QStringLiteral("\\s+")));
    }
    for (const QString& text : texts) {
        sitefile::MacBytes bssid{};
        const QString trimmed = text.trimmed();
        if (trimmed.size() == 17 && coverage::ParseBssid(trimmed.toStdString(), bssid)) {
            return bssid;
        }
    }
    return std::nullopt;
}

bool AskPlaceHere(QWidget* parent, QPointF canvasPoint, const EstimatedAp& estimate) {
    QMenu menu(parent);
    const QString name = estimate.label.empty()
                             ? QString::fromStdString(coverage::BssidText(estimate.bssid))
                             : QString::fromStdString(estimate.label);
    QAction* place = menu.addAction(QObject::tr("Place %1 here").arg(name));
    return menu.exec(parent->mapToGlobal(canvasPoint.toPoint())) == place;
}

// A label right of a mark at canvas point `at`, left of it where the canvas
// ends.
void MarkLabel(QPainter& painter, QPointF at, const QString& text, QColor colour) {
    const QRectF box = painter.fontMetrics().boundingRect(text).adjusted(-3, -1, 3, 1);
    QRectF placed = box.translated(at + QPointF(12, 5) - box.bottomLeft());
    if (placed.right() > painter.device()->width()) {
        placed.moveRight(at.x() - 12);
    }
    painter.fillRect(placed, QColor(255, 255, 255, 220));
    painter.setPen(colour);
    painter.drawText(placed, Qt::AlignCenter, text);
}

// A round length of at most `most` metres: 1, 2 or 5 times a power of ten.
double RoundMetres(double most) {
    double metres = std::pow(10.0, std::floor(std::log10(most)));
    for (double step : {5.0, 2.0}) {
        if (metres * step <= most) {
            return metres * step;
        }
    }
    return metres;
}

}  // namespace

SitePrepTools::SitePrepTools(QMainWindow& window, workspace::MapCanvas& canvas, CKestrowView& core)
    : QObject(&window),
      askMetres(AskMetres),
      askPixelsPerMetre(AskPixelsPerMetre),
      askBssid(AskBssid),
      askPlaceHere(AskPlaceHere),
      m_canvas(canvas),
      m_core(core),
      m_scaleTool(std::make_unique<ScaleTool>(*this)),
      m_wallTool(std::make_unique<WallTool>(*this)),
      m_apTool(std::make_unique<AccessPointTool>(*this)),
      m_estimator(std::make_unique<ApEstimator>(
          [this](std::vector<EstimatedAp> estimates) { SetEstimates(std::move(estimates)); })) {
    BuildActions(window);
    canvas.installEventFilter(this);
    canvas.setMouseTracking(true);
    // An access point dragged from a list is placed where it is dropped.
    canvas.setAcceptDrops(true);
    UpdateActions();
}

SitePrepTools::~SitePrepTools() = default;

const workspace::CanvasGeometry& SitePrepTools::Geometry() const {
    return m_canvas.Geometry();
}

void SitePrepTools::BuildActions(QMainWindow& window) {
    QMenu* menu = new QMenu(tr("&Site"), &window);
    // Before Help, where the window has one.
    QAction* before = nullptr;
    for (QAction* action : window.menuBar()->actions()) {
        if (action->text().remove(QLatin1Char('&')) == tr("Help")) {
            before = action;
        }
    }
    window.menuBar()->insertMenu(before, menu);
    m_toolBar = window.addToolBar(tr("Site preparation"));
    m_toolBar->setObjectName(QStringLiteral("sitePreparationToolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // What the chosen tool expects next, in the status bar.
    m_hint = new QLabel(&window);
    m_hint->setObjectName(QStringLiteral("toolHint"));
    window.statusBar()->addWidget(m_hint, 1);
    m_hint->hide();

    m_toolGroup = new QActionGroup(this);
    const auto tool = [&](const QString& text, const QString& tip, Tool which) {
        QAction* action = new QAction(text, this);
        action->setCheckable(true);
        action->setToolTip(tip);
        action->setStatusTip(tip);
        m_toolGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, which] { ChooseTool(which); });
        menu->addAction(action);
        m_toolBar->addAction(action);
        return action;
    };
    m_surveyAction = tool(tr("Survey"), tr("Clicks on the plan take survey points"), Tool::kSurvey);
    m_surveyAction->setChecked(true);
    m_scaleAction =
        tool(tr("Set scale"), tr("Click two points a known distance apart, then type the distance"),
             Tool::kScale);
    m_typeScaleAction = new QAction(tr("Type pixels per metre…"), this);
    connect(m_typeScaleAction, &QAction::triggered, this, [this] {
        if (std::optional<double> value = askPixelsPerMetre(&m_canvas, Meta().pixelsPerMetre)) {
            std::string error;
            if (!SetScale(*value, error)) {
                Refused("The scale was not set: " + error + ".");
            }
        }
    });
    menu->addAction(m_typeScaleAction);
    menu->addSeparator();
    m_wallAction = tool(tr("Draw walls"),
                        tr("Click each end of a wall; drag an end to move it; Delete removes "
                           "the wall selected"),
                        Tool::kWalls);

    m_material = new QComboBox;
    m_material->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_material->setToolTip(
        tr("The material of new walls and of the wall selected, with its "
           "loss at 2.4 / 5 / 6 GHz"));
    for (const sitefile::MaterialInfo& info : sitefile::AllMaterials()) {
        m_material->addItem(Swatch(picture::MaterialColour(info.material)), MaterialText(info),
                            static_cast<int>(info.material));
    }
    // The list shows each material's losses in full.
    // The list shows each material's losses in full (the menu's items are as
    // wide as the box, which otherwise cuts the widest short).
    int widest = 0;
    for (int i = 0; i < m_material->count(); ++i) {
        widest =
            std::max(widest, m_material->fontMetrics().horizontalAdvance(m_material->itemText(i)));
    }
    m_material->setMinimumWidth(widest + 64);
    m_toolBar->addWidget(m_material);
    connect(m_material, qOverload<int>(&QComboBox::activated), this, [this] {
        const std::optional<size_t> selected = m_wallTool->Selected();
        if (m_tool != Tool::kWalls || !selected || *selected >= EditedWalls().size()) {
            return;
        }
        sitefile::Wall wall = EditedWalls()[*selected];
        wall.material = CurrentMaterial();
        std::string error;
        if (!ChangeWall(*selected, wall, error)) {
            Refused("The wall's material was not changed: " + error + ".");
        }
    });

    m_detectAction = new QAction(tr("Detect walls"), this);
    m_detectAction->setToolTip(tr("Find the walls drawn in the plan and show them for review"));
    connect(m_detectAction, &QAction::triggered, this, [this] {
        std::string error;
        if (!DetectWalls(error)) {
            Refused(error);
        }
    });
    m_keepAction = new QAction(tr("Keep detected walls"), this);
    m_keepAction->setToolTip(tr("Keep the walls under review in place of those there were"));
    connect(m_keepAction, &QAction::triggered, this, [this] {
        std::string error;
        if (!KeepDetectedWalls(error)) {
            Refused("The detected walls were not kept: " + error + ".");
        }
    });
    m_discardAction = new QAction(tr("Discard detected walls"), this);
    connect(m_discardAction, &QAction::triggered, this, [this] { DiscardDetectedWalls(); });
    for (QAction* action : {m_detectAction, m_keepAction, m_discardAction}) {
        menu->addAction(action);
        m_toolBar->addAction(action);
    }
    menu->addSeparator();
    m_apAction = tool(tr("Place access points"),
                      tr("Click where an access point hangs and choose it; drag one to move it"),
                      Tool::kAccessPoints);
}

void SitePrepTools::UpdateActions() {
    const bool site = HasSite();
    for (QAction* action : m_toolGroup->actions()) {
        action->setEnabled(site || action == m_surveyAction);
    }
    m_typeScaleAction->setEnabled(site);
    m_detectAction->setEnabled(site && !m_reviewing);
    m_keepAction->setEnabled(m_reviewing);
    m_discardAction->setEnabled(m_reviewing);
    m_keepAction->setVisible(m_reviewing);
    m_discardAction->setVisible(m_reviewing);
    m_material->setEnabled(site);
}

void SitePrepTools::SiteShown(const std::string& sitePath, int mapWidth, int mapHeight,
                              uint64_t mapLoad) {
    if (sitePath.empty() || mapWidth <= 0 ||
        (sitePath == m_prep.SitePath() && mapLoad == m_shownLoad)) {
        return;
    }
    m_shownLoad = mapLoad;
    m_reviewing = false;
    m_proposals.clear();
    m_estimates.clear();
    m_estimator->Forget();
    std::string error;
    if (!m_prep.Load(sitePath, mapWidth, mapHeight, error)) {
        Refused(error +
                ". The site is open without its scale, walls and access points; the "
                "first change sets the damaged sidecar aside.");
    }
    ChooseTool(Tool::kSurvey);
    UpdateActions();
    SurveyChanged();
    m_canvas.update();
}

void SitePrepTools::SurveyChanged() {
    if (!HasSite()) {
        return;
    }
    coverage::Survey survey = coverage::SurveyFromRecords(g_surveyList);
    coverage::ApplySiteMeta(Meta(), survey);
    m_estimator->Estimate(std::move(survey), Geometry().MapWidth(), Geometry().MapHeight());
}

MapTool* SitePrepTools::ActiveTool() const {
    switch (m_tool) {
        case Tool::kScale:
            return m_scaleTool.get();
        case Tool::kWalls:
            return m_wallTool.get();
        case Tool::kAccessPoints:
            return m_apTool.get();
        case Tool::kSurvey:
            break;
    }
    return nullptr;
}

void SitePrepTools::ChooseTool(Tool tool) {
    if (MapTool* old = ActiveTool()) {
        old->Reset();
    }
    m_tool = HasSite() ? tool : Tool::kSurvey;
    const std::pair<Tool, QAction*> actions[] = {{Tool::kSurvey, m_surveyAction},
                                                 {Tool::kScale, m_scaleAction},
                                                 {Tool::kWalls, m_wallAction},
                                                 {Tool::kAccessPoints, m_apAction}};
    for (const auto& [which, action] : actions) {
        if (which == m_tool) {
            action->setChecked(true);
        }
    }
    MapTool* active = ActiveTool();
    m_canvas.setCursor(active ? Qt::CrossCursor : Qt::ArrowCursor);
    ShowHint();
    m_canvas.update();
}

void SitePrepTools::ShowHint() {
    MapTool* active = ActiveTool();
    m_hint->setText(active ? active->Hint() : QString());
    m_hint->setVisible(active != nullptr);
}

sitefile::Material SitePrepTools::CurrentMaterial() const {
    return static_cast<sitefile::Material>(m_material->currentData().toInt());
}

void SitePrepTools::SetMaterial(sitefile::Material material) {
    m_material->setCurrentIndex(m_material->findData(static_cast<int>(material)));
}

void SitePrepTools::Refused(const std::string& error) {
    platform::MessageBox(error, platform::kApplicationTitle,
                         platform::kMbOk | platform::kMbIconExclamation);
}

void SitePrepTools::Changed() {
    const std::string note = m_prep.TakeNote();
    if (!note.empty()) {
        Refused(note);
    }
    m_core.SetMapScale(Meta().pixelsPerMetre);
    m_core.SetSurveyExtras(Meta());
    m_core.SurveyChanged();
    SurveyChanged();
    UpdateActions();
    m_canvas.update();
}

bool SitePrepTools::Stored(bool stored) {
    if (stored) {
        Changed();
    }
    return stored;
}

bool SitePrepTools::SetScaleFromLine(QPointF a, QPointF b, double metres, std::string& error) {
    return Stored(m_prep.SetScaleFromLine(a.x(), a.y(), b.x(), b.y(), metres, error));
}

bool SitePrepTools::SetScale(double pixelsPerMetre, std::string& error) {
    return Stored(m_prep.SetScale(pixelsPerMetre, error));
}

const std::vector<sitefile::Wall>& SitePrepTools::EditedWalls() const {
    return m_reviewing ? m_proposals : Meta().walls;
}

bool SitePrepTools::AddWall(const sitefile::Wall& wall, std::string& error) {
    if (m_reviewing) {
        m_proposals.push_back(wall);
        m_canvas.update();
        return true;
    }
    return Stored(m_prep.AddWall(wall, error));
}

bool SitePrepTools::ChangeWall(size_t index, const sitefile::Wall& wall, std::string& error) {
    if (m_reviewing) {
        if (index >= m_proposals.size()) {
            error = "no such wall";
            return false;
        }
        m_proposals[index] = wall;
        m_canvas.update();
        return true;
    }
    return Stored(m_prep.ChangeWall(index, wall, error));
}

bool SitePrepTools::DeleteWall(size_t index, std::string& error) {
    if (m_reviewing) {
        if (index >= m_proposals.size()) {
            error = "no such wall";
            return false;
        }
        m_proposals.erase(m_proposals.begin() + static_cast<std::ptrdiff_t>(index));
        m_canvas.update();
        return true;
    }
    return Stored(m_prep.DeleteWall(index, error));
}

bool SitePrepTools::DetectWalls(std::string& error) {
    if (!HasSite()) {
        error = "open a site first";
        return false;
    }
    sitefile::SiteFileReader reader;
    sitefile::OpenError openError;
    sitefile::SiteMap map;
    if (!reader.Open(m_prep.SitePath(), openError) || !reader.ReadMap(map, openError)) {
        error = m_prep.SitePath() + ": " + openError.Text();
        return false;
    }
    std::vector<sitefile::Wall> found =
        plan::ProposeWalls(map, Meta().pixelsPerMetre, CurrentMaterial());
    if (found.empty()) {
        error =
            "No walls were found in the plan: draw them with the wall tool (walls are found as "
            "straight dark lines at least 2 pixels thick and a metre long).";
        return false;
    }
    m_proposals = std::move(found);
    m_reviewing = true;
    m_wallTool->Reset();
    ChooseTool(Tool::kWalls);
    UpdateActions();
    return true;
}

bool SitePrepTools::KeepDetectedWalls(std::string& error) {
    if (!m_reviewing) {
        error = "no detected walls are under review";
        return false;
    }
    if (!m_prep.ReplaceWalls(m_proposals, error)) {
        return false;
    }
    m_reviewing = false;
    m_proposals.clear();
    m_wallTool->Reset();
    Changed();
    return true;
}

void SitePrepTools::DiscardDetectedWalls() {
    m_reviewing = false;
    m_proposals.clear();
    m_wallTool->Reset();
    UpdateActions();
    m_canvas.update();
}

bool SitePrepTools::PlaceAccessPoint(const sitefile::MacBytes& bssid, QPointF at,
                                     const std::string& label, std::string& error) {
    return Stored(m_prep.PlaceAccessPoint(bssid, at.x(), at.y(), label, error));
}

bool SitePrepTools::UnplaceAccessPoint(const sitefile::MacBytes& bssid, std::string& error) {
    return Stored(m_prep.UnplaceAccessPoint(bssid, error));
}

void SitePrepTools::SetEstimates(std::vector<EstimatedAp> estimates) {
    m_estimates = std::move(estimates);
    m_canvas.update();
}

bool SitePrepTools::EstimateShown(const EstimatedAp& estimate) const {
    const workspace::CanvasGeometry& g = Geometry();
    return Meta().PlacedAt(estimate.bssid) == nullptr &&
           !coverage::TooVagueToDraw(estimate.uncertainty, g.MapWidth(), g.MapHeight());
}

const EstimatedAp* SitePrepTools::EstimateAt(QPointF at) const {
    const workspace::CanvasGeometry& g = Geometry();
    for (const EstimatedAp& estimate : m_estimates) {
        if (EstimateShown(estimate) &&
            std::hypot(g.MapToCanvasX(estimate.x) - at.x(), g.MapToCanvasY(estimate.y) - at.y()) <=
                kGrabDistance + 4) {
            return &estimate;
        }
    }
    return nullptr;
}

std::vector<HeardBssid> SitePrepTools::HeardBssids(QPointF near) {
    std::map<sitefile::MacBytes, HeardBssid> heard;
    // The survey point nearest `near`.
    std::optional<std::pair<int32_t, int32_t>> nearest;
    double best = 0;
    ApRecord* sentinel = g_surveyList.Sentinel();
    for (ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        const double d = std::hypot(r->x - near.x(), r->y - near.y());
        if (!nearest || d < best) {
            nearest = std::make_pair(r->x, r->y);
            best = d;
        }
        if (r->channel == 0) {
            continue;
        }
        sitefile::MacBytes bssid{};
        std::copy(std::begin(r->mac), std::end(r->mac), bssid.begin());
        HeardBssid& h = heard[bssid];
        h.bssid = bssid;
        if (h.ssid.empty()) {
            h.ssid.assign(r->ssid, strnlen(r->ssid, sizeof r->ssid));
        }
        if (r->rssi > h.strongest) {
            h.strongest = r->rssi;
            h.channel = r->channel;
        }
    }
    for (ApRecord* r = sentinel->next; r != sentinel && nearest; r = r->next) {
        if (r->channel != 0 && r->x == nearest->first && r->y == nearest->second) {
            sitefile::MacBytes bssid{};
            std::copy(std::begin(r->mac), std::end(r->mac), bssid.begin());
            heard[bssid].nearby = std::max<int>(heard[bssid].nearby, r->rssi);
        }
    }
    std::vector<HeardBssid> list;
    for (auto& [bssid, h] : heard) {
        list.push_back(h);
    }
    std::stable_sort(list.begin(), list.end(), [](const HeardBssid& a, const HeardBssid& b) {
        return a.nearby != b.nearby ? a.nearby > b.nearby : a.strongest > b.strongest;
    });
    return list;
}

bool SitePrepTools::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_canvas && HasSite() &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
         event->type() == QEvent::Drop)) {
        return Dropped(static_cast<QDropEvent&>(*event));
    }
    MapTool* tool = ActiveTool();
    if (watched != &m_canvas || tool == nullptr || !Geometry().HasMap()) {
        return QObject::eventFilter(watched, event);
    }
    const auto toolEvent = [this](const QMouseEvent& mouse) {
        const QPointF at = mouse.position();
        return ToolEvent{QPointF(Geometry().CanvasToMapX(at.x()), Geometry().CanvasToMapY(at.y())),
                         at, mouse.modifiers()};
    };
    switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // While a tool is chosen, Delete and Esc are its own (deleting what
            // it selected, dropping the line it draws), not the window's
            // point deletion or the survey point's cancel.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Delete || key == Qt::Key_Backspace || key == Qt::Key_Escape) {
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::MouseButtonDblClick:
            // Qt sends the second press of a double click as well.
            return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || m_spaceHeld) {
                break;
            }
            m_canvas.setFocus(Qt::MouseFocusReason);
            m_leftDown = true;
            tool->Press(toolEvent(*mouse));
            ShowHint();
            m_canvas.update();
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            tool->Move(toolEvent(*mouse), m_leftDown && !m_spaceHeld);
            m_canvas.update();
            break;  // the canvas still reports the cursor and pans
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || !m_leftDown) {
                break;
            }
            m_leftDown = false;
            tool->Release(toolEvent(*mouse));
            m_canvas.update();
            return true;
        }
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space) {
                m_spaceHeld = true;
                break;
            }
            if (tool->Key(key->key())) {
                ShowHint();
                m_canvas.update();
                return true;
            }
            break;
        }
        case QEvent::KeyRelease:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
                !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
                m_spaceHeld = false;
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

bool SitePrepTools::Dropped(QDropEvent& event) {
    const std::optional<sitefile::MacBytes> bssid = DraggedBssid(*event.mimeData());
    const QPointF at = event.position();
    const QPointF map(Geometry().CanvasToMapX(at.x()), Geometry().CanvasToMapY(at.y()));
    const bool onPlan = map.x() >= 0 && map.y() >= 0 && map.x() <= Geometry().MapWidth() &&
                        map.y() <= Geometry().MapHeight();
    if (!bssid || !onPlan) {
        event.ignore();
        return true;
    }
    event.acceptProposedAction();
    if (event.type() != QEvent::Drop) {
        return true;
    }
    std::string label;
    for (const HeardBssid& heard : HeardBssids(map)) {
        if (heard.bssid == *bssid) {
            label = heard.ssid;
        }
    }
    std::string error;
    if (!PlaceAccessPoint(*bssid, map, label, error)) {
        Refused("The access point was not placed: " + error + ".");
    }
    return true;
}

// ---- drawing --------------------------------------------------------------

void SitePrepTools::DrawWalls(QPainter& painter, const std::vector<sitefile::Wall>& walls,
                              bool proposals) const {
    const workspace::CanvasGeometry& g = Geometry();
    // Wide enough to see at any zoom, never wider than the wall drawn.
    const double width = std::clamp(g.Scale() * 4, 3.0, 6.0);
    for (const sitefile::Wall& wall : walls) {
        const QPointF a(g.MapToCanvasX(wall.x1), g.MapToCanvasY(wall.y1));
        const QPointF b(g.MapToCanvasX(wall.x2), g.MapToCanvasY(wall.y2));
        QColor colour = picture::MaterialColour(wall.material);
        if (proposals) {
            painter.setPen(QPen(QColor(255, 255, 255, 200), width + 2, Qt::SolidLine, Qt::FlatCap));
            painter.drawLine(a, b);
            painter.setPen(QPen(colour, width, Qt::DashLine, Qt::FlatCap));
        } else {
            if (m_reviewing) {
                colour.setAlpha(70);  // the walls the review would replace
            }
            painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
        }
        painter.drawLine(a, b);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(a, width * 0.8, width * 0.8);
        painter.drawEllipse(b, width * 0.8, width * 0.8);
    }
}

void SitePrepTools::DrawAccessPoints(QPainter& painter) const {
    const workspace::CanvasGeometry& g = Geometry();
    QFont font = painter.font();
    font.setPixelSize(12);
    font.setBold(true);
    font.setItalic(false);
    painter.setFont(font);
    for (const sitefile::PlacedAccessPoint& ap : Meta().accessPoints) {
        const QPointF at(g.MapToCanvasX(ap.x), g.MapToCanvasY(ap.y));
        // A dark square with radio arcs: placed, where it is known to be.
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(QColor(0x10, 0x50, 0x20));
        painter.drawRoundedRect(QRectF(at - QPointF(8, 8), QSizeF(16, 16)), 3, 3);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(at - QPointF(5, 5), QSizeF(10, 10)), 30 * 16, 120 * 16);
        painter.drawArc(QRectF(at - QPointF(2.5, 2.5), QSizeF(5, 5)), 30 * 16, 120 * 16);
        painter.drawPoint(at + QPointF(0, 2));
        const QString label = ap.label.empty()
                                  ? QString::fromStdString(coverage::BssidText(ap.bssid))
                                  : QString::fromStdString(ap.label);
        MarkLabel(painter, at, label, QColor(0x10, 0x50, 0x20));
    }
}

void SitePrepTools::DrawEstimates(QPainter& painter) const {
    const workspace::CanvasGeometry& g = Geometry();
    const QColor colour(0x10, 0x50, 0x20);
    for (const EstimatedAp& estimate : m_estimates) {
        if (!EstimateShown(estimate)) {
            continue;
        }
        const QPointF at(g.MapToCanvasX(estimate.x), g.MapToCanvasY(estimate.y));
        // A hollow diamond inside a dashed circle: estimated, this uncertain.
        const double radius = estimate.uncertainty * g.Scale();
        painter.setPen(QPen(colour, 1.5, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);  // many estimates overlap: outlines only
        painter.drawEllipse(at, radius, radius);
        const QPointF diamond[] = {at + QPointF(0, -8), at + QPointF(8, 0), at + QPointF(0, 8),
                                   at + QPointF(-8, 0)};
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::white);
        painter.drawPolygon(diamond, 4);
        QString label = estimate.label.empty()
                            ? QString::fromStdString(coverage::BssidText(estimate.bssid))
                            : QString::fromStdString(estimate.label);
        if (Meta().pixelsPerMetre) {
            label += QStringLiteral(" ±%1 m").arg(estimate.uncertainty / *Meta().pixelsPerMetre, 0,
                                                  'f', 1);
        }
        label += tr(" (estimated)");
        QFont font = painter.font();
        font.setPixelSize(11);
        font.setBold(false);
        font.setItalic(true);
        painter.setFont(font);
        MarkLabel(painter, at, label, colour);
    }
}

void SitePrepTools::DrawScaleBar(QPainter& painter, QSize size) const {
    if (!Meta().pixelsPerMetre) {
        return;
    }
    const double canvasPerMetre = *Meta().pixelsPerMetre * Geometry().Scale();
    const double metres = RoundMetres(160.0 / canvasPerMetre);
    const double length = metres * canvasPerMetre;
    if (!std::isfinite(length) || length < 8) {
        return;
    }
    const QString label = metres >= 1 ? QStringLiteral("%1 m").arg(metres)
                                      : QStringLiteral("%1 cm").arg(metres * 100);
    QFont font = painter.font();
    font.setPixelSize(12);
    font.setBold(false);
    painter.setFont(font);
    const int textWidth = painter.fontMetrics().horizontalAdvance(label);
    // Bottom right: the overlay's legend takes the bottom left.
    const double boxWidth = length + textWidth + 26;
    const QRectF box(size.width() - 10 - boxWidth, size.height() - 40, boxWidth, 30);
    painter.setPen(QPen(QColor(0, 0, 0, 120), 1));
    painter.setBrush(QColor(255, 255, 255, 225));
    painter.drawRect(box);
    const double left = box.left() + 8;
    const double base = box.top() + 19;
    painter.fillRect(QRectF(left, base - 3, length, 3), Qt::black);
    painter.fillRect(QRectF(left, base - 9, 2, 9), Qt::black);
    painter.fillRect(QRectF(left + length - 2, base - 9, 2, 9), Qt::black);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(left + length + 6, box.top(), textWidth + 6, box.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, label);
}

void SitePrepTools::DrawReviewBanner(QPainter& painter, QSize size) const {
    const QString found = m_proposals.size() == 1
                              ? tr("1 wall")
                              : tr("%1 walls").arg(static_cast<qulonglong>(m_proposals.size()));
    const QString text = tr("%1 found in the plan (dashed). Check them with the wall tool, then "
                            "Keep detected walls, or Discard.")
                             .arg(found);
    QFont font = painter.font();
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    const QRect box = painter.fontMetrics().boundingRect(text).adjusted(-10, -6, 10, 6);
    // Below the canvas's status line.
    const QRect placed(QPoint((size.width() - box.width()) / 2, 36), box.size());
    painter.setPen(QPen(QColor(0xB0, 0x70, 0x00), 1));
    painter.setBrush(QColor(0xFF, 0xF4, 0xD0, 235));
    painter.drawRoundedRect(placed, 4, 4);
    painter.setPen(Qt::black);
    painter.drawText(placed, Qt::AlignCenter, text);
}

void SitePrepTools::Draw(QPainter& painter, QSize size) const {
    if (!HasSite() || !Geometry().HasMap()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    DrawWalls(painter, Meta().walls, false);
    if (m_reviewing) {
        DrawWalls(painter, m_proposals, true);
    }
    DrawEstimates(painter);
    DrawAccessPoints(painter);
    if (MapTool* tool = ActiveTool()) {
        tool->Draw(painter, Geometry());
    }
    DrawScaleBar(painter, size);
    if (m_reviewing) {
        DrawReviewBanner(painter, size);
    }
    painter.restore();
}

}  // namespace sitetools
