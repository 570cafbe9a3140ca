#include "edit/survey_edits.h"

#include <QUndoCommand>
#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "edit/point_names.h"
#include "report/report_site.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"

namespace edit {

namespace {

// The reach of a press, as the handheld's selection has it (squared map pixels).
constexpr int64_t kReach = 3200;
// A circle and its outline lie within this many map pixels of its point.
constexpr int32_t kCircleReach = 12;

using Nodes = std::vector<ApRecord*>;

bool SamePlace(const ApRecord* a, const ApRecord* b) {
    return a->x == b->x && a->y == b->y;
}

// The records of each point, in list order.
std::vector<Nodes> Runs() {
    std::vector<Nodes> runs;
    for (ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel(); r = r->next) {
        if (runs.empty() || !SamePlace(runs.back().back(), r)) {
            runs.emplace_back();
        }
        runs.back().push_back(r);
    }
    return runs;
}

size_t PositionOf(const ApRecord* node) {
    size_t position = 0;
    for (const ApRecord* r = g_surveyList.Sentinel()->next; r != node; r = r->next) {
        ++position;
    }
    return position;
}

size_t CountRecords() {
    size_t count = 0;
    for (const ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
         r = r->next) {
        ++count;
    }
    return count;
}

size_t HeardRecords(const Nodes& nodes) {
    return static_cast<size_t>(std::count_if(nodes.begin(), nodes.end(),
                                             [](const ApRecord* r) { return r->channel != 0; }));
}

std::string NameOf(const ApRecord* r) {
    return std::string(r->pointName, strnlen(r->pointName, sizeof r->pointName));
}

void SetName(ApRecord* r, const std::string& name) {
    const size_t n = std::min(name.size(), sizeof r->pointName - 1);
    std::memcpy(r->pointName, name.data(), n);
    std::memset(r->pointName + n, 0, sizeof r->pointName - n);
}

void Fail(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
}

}  // namespace

// Every step holds the records it changes: nodes of g_surveyList, or taken
// out of it (and then owned by the step) while the step is undone or done.
// The undo history only ever returns the survey to states it was in, so
// each step finds its records consecutive, as it left them.
class SurveyEdits::Step : public QUndoCommand {
  public:
    Step(SurveyEdits& edits, Nodes nodes, const QString& text)
        : QUndoCommand(text), m_edits(edits), m_nodes(std::move(nodes)) {}

  protected:
    // Takes the records out of the list, journaled as removed.
    void TakeOut() {
        const size_t first = PositionOf(m_nodes.front());
        for (ApRecord* r : m_nodes) {
            g_surveyList.Unlink(r);
        }
        m_edits.m_knownRecords -= m_nodes.size();
        m_out = true;
        if (m_edits.m_journal) {
            m_edits.m_journal->OnRecordsRemoved(first, m_nodes.size(), X(), Y());
        }
    }
    // Puts them back at the end of the list, journaled as a point taken
    // with the very same records.
    void PutBack() {
        for (ApRecord* r : m_nodes) {
            g_surveyList.Append(r);
        }
        m_edits.m_knownRecords += m_nodes.size();
        m_out = false;
        if (m_edits.m_journal) {
            m_edits.m_journal->OnPointCommitted(X(), Y());
        }
    }
    int32_t X() const { return m_nodes.front()->x; }
    int32_t Y() const { return m_nodes.front()->y; }

    SurveyEdits& m_edits;
    Nodes m_nodes;
    bool m_out = false;  // the nodes are not in the list: this step owns them

  public:
    ~Step() override {
        if (m_out) {
            for (ApRecord* r : m_nodes) {
                delete r;
            }
        }
    }
};

// A point taken: done by the commit before the step is pushed.
class SurveyEdits::TakeStep final : public Step {
  public:
    TakeStep(SurveyEdits& edits, Nodes nodes)
        : Step(edits, std::move(nodes), QObject::tr("Take point")) {}
    void undo() override {
        TakeOut();
        Counters(-1);
        m_edits.Changed({{X(), Y()}});
    }
    void redo() override {
        if (m_first) {
            m_first = false;
            return;
        }
        PutBack();
        Counters(+1);
        m_edits.Changed({{X(), Y()}});
    }

  private:
    // The status counters count points taken and access points heard.
    void Counters(int sign) {
        if (g_siteHeader) {
            g_siteHeader->m_pointCount += sign;
            g_siteHeader->m_apCount += sign * static_cast<int32_t>(HeardRecords(m_nodes));
        }
    }
    bool m_first = true;
};

// A point deleted; undone, it comes back at the end of the survey.
class SurveyEdits::RemoveStep final : public Step {
  public:
    RemoveStep(SurveyEdits& edits, Nodes nodes)
        : Step(edits, std::move(nodes), QObject::tr("Delete point")) {}
    void undo() override {
        PutBack();
        m_edits.Changed({{X(), Y()}});
    }
    void redo() override {
        TakeOut();
        m_edits.Changed({{X(), Y()}});
    }
};

class SurveyEdits::MoveStep final : public Step {
  public:
    MoveStep(SurveyEdits& edits, Nodes nodes, int32_t toX, int32_t toY)
        : Step(edits, std::move(nodes), QObject::tr("Move point")),
          m_from{m_nodes.front()->x, m_nodes.front()->y},
          m_to{toX, toY} {}
    void undo() override { MoveTo(m_from); }
    void redo() override { MoveTo(m_to); }

  private:
    void MoveTo(std::pair<int32_t, int32_t> to) {
        const int32_t x = X();
        const int32_t y = Y();
        for (ApRecord* r : m_nodes) {
            r->x = to.first;
            r->y = to.second;
        }
        if (m_edits.m_journal) {
            m_edits.m_journal->OnRecordsMoved(PositionOf(m_nodes.front()), m_nodes.size(), x, y,
                                              to.first, to.second);
        }
        m_edits.Changed({{x, y}, to});
    }
    std::pair<int32_t, int32_t> m_from;
    std::pair<int32_t, int32_t> m_to;
};

class SurveyEdits::RenameStep final : public Step {
  public:
    RenameStep(SurveyEdits& edits, Nodes nodes, std::string name)
        : Step(edits, std::move(nodes), QObject::tr("Rename point")), m_name(std::move(name)) {
        for (const ApRecord* r : m_nodes) {
            m_old.push_back(NameOf(r));
        }
    }
    void undo() override {
        // A point made of several taken at one place may have had several names.
        const size_t first = PositionOf(m_nodes.front());
        for (size_t i = 0, start = 0; i < m_nodes.size(); ++i) {
            SetName(m_nodes[i], m_old[i]);
            if (i + 1 == m_nodes.size() || m_old[i + 1] != m_old[start]) {
                Journal(first + start, i + 1 - start, m_old[start]);
                start = i + 1;
            }
        }
        m_edits.Changed({});
    }
    void redo() override {
        for (ApRecord* r : m_nodes) {
            SetName(r, m_name);
        }
        Journal(PositionOf(m_nodes.front()), m_nodes.size(), m_name);
        m_edits.Changed({});
    }

  private:
    void Journal(size_t first, size_t count, const std::string& name) {
        if (m_edits.m_journal) {
            m_edits.m_journal->OnRecordsRenamed(first, count, X(), Y(), name.c_str());
        }
    }
    std::string m_name;
    std::vector<std::string> m_old;
};

SurveyEdits::SurveyEdits(CKestrowView& view, SurveyListener* journal, QObject* parent)
    : QObject(parent), m_view(view), m_journal(journal), m_knownRecords(CountRecords()) {}

SurveyEdits::~SurveyEdits() = default;

void SurveyEdits::Clear() {
    m_stack.clear();
    m_knownRecords = CountRecords();
    emit surveyChanged();
}

std::vector<PointSummary> SurveyEdits::Points() const {
    std::vector<PointSummary> points;
    size_t first = 0;
    for (const Nodes& run : Runs()) {
        PointSummary p;
        p.index = static_cast<int>(points.size());
        p.x = run.front()->x;
        p.y = run.front()->y;
        p.name = NameOf(run.front());
        p.firstRecord = first;
        p.records = run.size();
        for (const ApRecord* r : run) {
            if (r->channel != 0) {
                p.bestRssi = std::max(p.bestRssi, r->rssi);
            }
        }
        first += run.size();
        points.push_back(std::move(p));
    }
    return points;
}

std::optional<PointSummary> SurveyEdits::Point(int index) const {
    std::vector<PointSummary> points = Points();
    if (index < 0 || static_cast<size_t>(index) >= points.size()) {
        return std::nullopt;
    }
    return std::move(points[static_cast<size_t>(index)]);
}

std::optional<int> SurveyEdits::PointNear(int32_t x, int32_t y) const {
    std::optional<int> nearest;
    int64_t best = kReach + 1;
    int index = -1;
    const ApRecord* previous = nullptr;
    for (const ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
         r = r->next) {
        if (previous == nullptr || !SamePlace(previous, r)) {
            ++index;
            const int64_t dx = int64_t{r->x} - x;
            const int64_t dy = int64_t{r->y} - y;
            if (std::llabs(dx) <= kReach && std::llabs(dy) <= kReach && dx * dx + dy * dy < best) {
                best = dx * dx + dy * dy;
                nearest = index;
            }
        }
        previous = r;
    }
    return nearest;
}

namespace {

std::optional<Nodes> RunOf(int index, std::string* error) {
    std::vector<Nodes> runs = Runs();
    if (index < 0 || static_cast<size_t>(index) >= runs.size()) {
        Fail(error, "there is no point " + std::to_string(index + 1) + " in the survey (it has " +
                        std::to_string(runs.size()) + ")");
        return std::nullopt;
    }
    return std::move(runs[static_cast<size_t>(index)]);
}

}  // namespace

bool SurveyEdits::DeletePoint(int index, std::string* error) {
    std::optional<Nodes> run = RunOf(index, error);
    if (!run) {
        return false;
    }
    m_stack.push(new RemoveStep(*this, std::move(*run)));
    return true;
}

bool SurveyEdits::MovePoint(int index, int32_t x, int32_t y, std::string* error) {
    if (x < 0 || y < 0 || x >= m_view.m_mapWidth || y >= m_view.m_mapHeight) {
        Fail(error, "(" + std::to_string(x) + ", " + std::to_string(y) + ") is off the " +
                        std::to_string(m_view.m_mapWidth) + " x " +
                        std::to_string(m_view.m_mapHeight) + " map");
        return false;
    }
    std::optional<Nodes> run = RunOf(index, error);
    if (!run) {
        return false;
    }
    if (run->front()->x != x || run->front()->y != y) {
        m_stack.push(new MoveStep(*this, std::move(*run), x, y));
    }
    return true;
}

bool SurveyEdits::RenamePoint(int index, const std::string& name, std::string* error) {
    const std::string problem = NameProblem(name);
    if (!problem.empty()) {
        Fail(error, problem);
        return false;
    }
    std::optional<Nodes> run = RunOf(index, error);
    if (!run) {
        return false;
    }
    const bool same = std::all_of(run->begin(), run->end(),
                                  [&name](const ApRecord* r) { return NameOf(r) == name; });
    if (!same) {
        m_stack.push(new RenameStep(*this, std::move(*run), name));
    }
    return true;
}

bool SurveyEdits::Undo() {
    if (!m_stack.canUndo()) {
        return false;
    }
    m_stack.undo();
    return true;
}

bool SurveyEdits::Redo() {
    if (!m_stack.canRedo()) {
        return false;
    }
    m_stack.redo();
    return true;
}

std::string SurveyEdits::NextPointName() const {
    std::vector<std::string> names;
    for (const Nodes& run : Runs()) {
        for (const ApRecord* r : run) {
            if (names.empty() || names.back() != NameOf(r)) {
                names.push_back(NameOf(r));
            }
        }
    }
    return edit::NextPointName(names);
}

bool SurveyEdits::HasUnsavedChanges() const {
    return m_document != nullptr && m_document->HasUnsavedChanges();
}

bool SurveyEdits::Save() {
    if (m_document == nullptr || !m_document->Save()) {
        return false;
    }
    m_stack.setClean();
    emit surveyChanged();
    return true;
}

bool SurveyEdits::SaveAs(const std::string& path) {
    if (m_document == nullptr || !m_document->SaveAs(path)) {
        return false;
    }
    m_stack.setClean();
    emit surveyChanged();
    return true;
}

bool SurveyEdits::ExportReport(const std::string& path, const report::ReportOptions& options,
                               std::string& error) {
    if (m_document == nullptr || m_document->SitePath().empty()) {
        error = "no site is open";
        return false;
    }
    if (m_document->HasUnsavedChanges()) {
        error =
            "the survey has changes that are not saved; save it first, so that the report "
            "shows the survey as it was signed";
        return false;
    }
    return report::WriteSiteReport(m_document->SitePath(), options, path, error);
}

void SurveyEdits::OnPointCommitted(int32_t x, int32_t y) {
    const size_t total = CountRecords();
    ApRecord* last = g_surveyList.Sentinel()->prev;
    if (m_desktop && g_siteHeader && total == m_knownRecords + 1 && last->channel == 0) {
        // The marker of a point where nothing was heard keeps the point's
        // name, given before it is journaled.
        std::memcpy(last->pointName, g_siteHeader->m_curName, sizeof last->pointName);
    }
    if (m_journal) {
        m_journal->OnPointCommitted(x, y);
    }
    if (total <= m_knownRecords) {
        m_knownRecords = total;
        return;
    }
    Nodes nodes(total - m_knownRecords);
    ApRecord* r = g_surveyList.Sentinel();
    for (size_t i = nodes.size(); i > 0; --i) {
        r = r->prev;
        nodes[i - 1] = r;
    }
    m_knownRecords = total;
    m_stack.push(new TakeStep(*this, std::move(nodes)));
    emit surveyChanged();
}

void SurveyEdits::OnSweepDetails(int32_t x, int32_t y, const SweepDetails& details) {
    if (m_journal) {
        m_journal->OnSweepDetails(x, y, details);
    }
}

void SurveyEdits::OnPointDeleted(int32_t x, int32_t y) {
    if (m_journal) {
        m_journal->OnPointDeleted(x, y);
    }
    // Records the steps hold may be gone.
    m_stack.clear();
    m_knownRecords = CountRecords();
    emit surveyChanged();
}

bool SurveyEdits::DeleteSelectedPoint() {
    if (!m_desktop || !g_siteHeader || g_siteHeader->m_selFirstIndex < 1) {
        return false;
    }
    // The point whose records include the selection's first (1-based).
    const size_t record = static_cast<size_t>(g_siteHeader->m_selFirstIndex) - 1;
    for (const PointSummary& p : Points()) {
        if (record >= p.firstRecord && record < p.firstRecord + p.records) {
            return DeletePoint(p.index);
        }
    }
    return false;
}

void SurveyEdits::Changed(const std::vector<std::pair<int32_t, int32_t>>& places) {
    const auto clamp = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    for (const auto& [x, y] : places) {
        // The circle goes (or comes) and the plan and the other circles there
        // are painted afresh.
        m_view.RepaintCircles(
            Rect{clamp(int64_t{x} - kCircleReach), clamp(int64_t{y} - kCircleReach),
                 clamp(int64_t{x} + kCircleReach + 1), clamp(int64_t{y} + kCircleReach + 1)});
    }
    if (!places.empty()) {
        m_view.PostStatusUpdate(places.back().first, places.back().second);
        m_view.SurveyChanged();
    }
    m_view.Repaint();
    emit surveyChanged();
}

}  // namespace edit
