#include "app/survey_guard.h"

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "platform/message_box.h"
#include "platform/qt/qt_window_handle.h"
#include "platform/window_messages.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace {

constexpr unsigned kQuestion = 0x20;  // the question-mark icon

void Tell(const std::string& text) {
    platform::MessageBox(text, platform::kApplicationTitle,
                         platform::kMbOk | platform::kMbIconExclamation);
}

std::string FileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One circle for each run of records at one place, in the strongest level
// heard there; a point where nothing was heard is drawn as the weakest.
std::vector<sitefile::PointCircle> CirclesOf(const CRecordList& list) {
    std::vector<sitefile::PointCircle> circles;
    for (const ApRecord* r = list.Sentinel()->next; r != list.Sentinel(); r = r->next) {
        if (circles.empty() || circles.back().x != r->x || circles.back().y != r->y) {
            circles.push_back({r->x, r->y, -120});
        }
        if (r->channel != 0) {
            circles.back().rssi = std::max(circles.back().rssi, r->rssi);
        }
    }
    return circles;
}

}  // namespace

namespace {

// At most this many refused records are named.
constexpr size_t kRecordsNamed = 3;

// "2 journaled records cannot be true and are left out: ...; and 1 more"
std::string Refused(const std::vector<std::string>& refused) {
    std::string text = std::to_string(refused.size()) +
                       (refused.size() == 1 ? " journaled record cannot be true and is"
                                            : " journaled records cannot be true and are") +
                       " left out: ";
    for (size_t i = 0; i < refused.size() && i < kRecordsNamed; ++i) {
        text += (i > 0 ? "; " : "") + refused[i];
    }
    if (refused.size() > kRecordsNamed) {
        text += "; and " + std::to_string(refused.size() - kRecordsNamed) + " more";
    }
    return text;
}

// "3 entries of the journal are damaged and cannot be read"
std::string UnreadEntries(const journal::JournalContents& contents) {
    const size_t n = contents.unreadEntries;
    return std::to_string(n) + (n == 1 ? " entry" : " entries") + " of the journal " +
           (n == 1 ? "is" : "are") + " damaged and cannot be read (" + contents.damage + ")";
}

}  // namespace

void SurveyGuard::SiteOpened(const std::string& path, const sitefile::SiteMap& map,
                             std::vector<sitefile::PointCircle>& circles) {
    m_journal.Stop();
    m_findings = {};
    m_unsaved = false;
    m_warned = false;
    journal::SiteIdentity site;
    site.path = path;
    journal::SetMap(site, map);
    std::string error;
    journal::StatSite(site, error);  // just read: only a race could make it fail

    const std::string journalName = FileName(journal::JournalPath(path));
    const journal::Finding found = journal::InspectJournal(site);
    const journal::Aside unreadable =
        found.damaged ? journal::Aside::kDamaged : journal::Aside::kDeclined;
    switch (found.kind) {
        case journal::Finding::kNone:
            break;
        case journal::Finding::kNothing:
            if (found.damaged) {
                SetAside(path, journal::Aside::kDamaged,
                         "The survey journal " + journalName + " holds no entry that can be read.");
            } else {
                // Begun but never given an entry: there is nothing to keep.
                journal::RemoveJournal(path, error);
            }
            break;
        case journal::Finding::kRecoverable:
            if (!journal::ChangesAnything(found.contents.entries, site.mapWidth, site.mapHeight)) {
                // Points taken and deleted again: nothing to offer, and
                // nothing to keep unless part of it could not be read.
                if (found.damaged || !found.refused.empty()) {
                    SetAside(path, journal::Aside::kDamaged,
                             "The survey journal " + journalName + " holds no point to recover" +
                                 (found.damaged ? "; " + UnreadEntries(found.contents) : "") +
                                 (found.refused.empty() ? "" : "; " + Refused(found.refused)) +
                                 ".");
                } else {
                    journal::RemoveJournal(path, error);
                }
                break;
            }
            Offer(found, site, circles);
            return;
        case journal::Finding::kUnreadable:
            SetAside(
                path, unreadable,
                "The survey journal " + journalName + " cannot be read (" + found.problem + ").");
            break;
        case journal::Finding::kOtherSite:
            SetAside(path, unreadable,
                     "The survey journal " + journalName + " belongs to another site (" +
                         found.contents.header.site.path + ") and is not recovered.");
            break;
        case journal::Finding::kOtherMap: {
            const journal::SiteIdentity& other = found.contents.header.site;
            SetAside(path, unreadable,
                     "The survey journal " + journalName +
                         " was written over another map of this site (" +
                         std::to_string(other.mapWidth) + " x " + std::to_string(other.mapHeight) +
                         " pixels, not the map the site has now) and is not recovered.");
            break;
        }
        case journal::Finding::kInUse:
            m_journal.Follow(site, g_surveyList);
            Unprotected(journalName + " is in use by another copy of Kestrow");
            return;
    }
    m_journal.Follow(site, g_surveyList);
}

void SurveyGuard::Offer(const journal::Finding& found, const journal::SiteIdentity& site,
                        std::vector<sitefile::PointCircle>& circles) {
    const int count = std::max(0, found.pointsAdded - found.deletions);
    std::string text =
        kRecoverQuestionStart + std::to_string(count) +
        (count == 1 ? " survey point that was not saved?" : " survey points that were not saved?");
    if (found.siteChanged) {
        text +=
            " The site file has been saved since they were taken, perhaps by another copy "
            "of Kestrow.";
    }
    if (found.damaged) {
        text += " " + UnreadEntries(found.contents) + "; every other entry is recovered.";
    }
    if (!found.refused.empty()) {
        text += " " + Refused(found.refused) + ".";
    }
    if (platform::MessageBox(text, platform::kApplicationTitle, platform::kMbYesNo | kQuestion) !=
        platform::kIdYes) {
        // Declined: kept aside, never offered again.
        SetAside(site.path, journal::Aside::kDeclined,
                 "The survey journal " + FileName(journal::JournalPath(site.path)) +
                     " is not recovered.");
        m_journal.Follow(site, g_surveyList);
        return;
    }
    if (found.damaged || !found.refused.empty()) {
        // The journal is rewritten below: the damaged one is kept as it was.
        std::string aside;
        std::string error;
        if (!journal::KeepDamagedCopy(site.path, aside, error)) {
            // Left exactly as it is, for another try.
            Tell(
                "The survey journal is damaged and cannot be kept aside, so it is not "
                "recovered now: " +
                error);
            m_journal.Follow(site, g_surveyList);
            return;
        }
        Tell("The survey journal, as it was found, was kept as " + FileName(aside) + ".");
    }
    const journal::ReplayOutcome outcome = RecoverInto(found, circles);
    std::string failure;
    if (!m_journal.FollowRecovered(site, g_surveyList, outcome, failure)) {
        Unprotected(failure);
    }
}

journal::ReplayOutcome SurveyGuard::RecoverInto(const journal::Finding& found,
                                                std::vector<sitefile::PointCircle>& circles) {
    const journal::ReplayOutcome outcome =
        journal::Replay(found.contents.entries, g_surveyList, found.contents.header.site.mapWidth,
                        found.contents.header.site.mapHeight);
    for (const journal::Entry& entry : outcome.compacted) {
        m_findings.Add(entry);
    }
    if (g_siteHeader) {
        g_siteHeader->m_pointCount += outcome.points;
        g_siteHeader->m_apCount += outcome.apRecords;
    }
    circles = CirclesOf(g_surveyList);
    m_unsaved = true;
    if (outcome.points > 0 && m_view != nullptr) {
        QCoreApplication::postEvent(
            m_view->window(),
            new platform::WindowMessageEvent(platform::RegisterWindowMessage("KORV_STATUS_UPDATE"),
                                             static_cast<uintptr_t>(outcome.lastX),
                                             static_cast<intptr_t>(outcome.lastY)));
    }
    return outcome;
}

void SurveyGuard::SetAside(const std::string& sitePath, journal::Aside kind,
                           const std::string& why) {
    std::string aside;
    std::string error;
    if (journal::SetAsideJournal(sitePath, kind, aside, error)) {
        Tell(aside.empty() ? why : why + " It was kept as " + FileName(aside) + ".");
    } else {
        Tell(why + " It cannot be set aside either: " + error);
    }
}

void SurveyGuard::Unprotected(const std::string& reason) {
    if (!m_warned) {
        m_warned = true;
        Tell(kUnprotected + reason);
    }
}

void SurveyGuard::StoreFindings(const std::string& sitePath) {
    if (!m_findings.Empty()) {
        std::set<std::pair<double, double>> positions;
        for (const ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
             r = r->next) {
            positions.insert({r->x, r->y});
        }
        // The name of the point at each place; a point where nothing was
        // heard has only its marker, whose name is not the point's.
        std::map<std::pair<int32_t, int32_t>, std::string> namesAt;
        for (const ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
             r = r->next) {
            std::string& name = namesAt[{r->x, r->y}];
            if (name.empty() && r->channel != 0) {
                name.assign(r->pointName, strnlen(r->pointName, sizeof r->pointName));
            }
        }
        std::string error, note;
        if (sitefile::UpdateSiteMeta(
                sitePath,
                [&](sitefile::SiteMeta& meta, std::string&) {
                    m_findings.MergeInto(meta, positions);
                    m_findings.MergeWalksInto(meta, namesAt);
                    return true;
                },
                error, &note)) {
            m_findings = {};
        } else {
            Tell(
                "The survey was saved, but the channels, noise and walks its scans reported "
                "cannot be written beside it (" +
                error + "); the next save tries again.");
        }
        if (!note.empty()) {
            Tell(note);
        }
    }
}

void SurveyGuard::SiteSaved(const std::string& sitePath) {
    m_unsaved = false;
    StoreFindings(sitePath);
    if (!m_journal.Following()) {
        return;
    }
    m_warned = false;
    std::string failure;
    if (!m_journal.SiteSaved(g_surveyList, failure)) {
        Tell("The survey was saved, but its journal cannot be removed: " + failure);
    }
}

void SurveyGuard::SiteSavedAs(const std::string& newPath) {
    m_unsaved = false;
    StoreFindings(newPath);
    // A journal already at the new path is of a survey that is not this
    // one: kept aside, never lost, and never written into.
    if (journal::InspectJournal({newPath}).kind != journal::Finding::kNone) {
        SetAside(newPath, journal::Aside::kDeclined,
                 "The survey journal " + FileName(journal::JournalPath(newPath)) +
                     " belongs to the site that was saved over.");
    }
    journal::SiteIdentity site = m_journal.Site();
    site.path = newPath;
    std::string error;
    journal::StatSite(site, error);
    m_warned = false;
    std::string failure;
    if (!m_journal.SiteSavedAs(site, g_surveyList, failure)) {
        Tell("The survey was saved, but the journal of its old site cannot be removed: " + failure);
    }
}

void SurveyGuard::Edited(journal::Entry::Kind kind, size_t first, size_t count, int32_t x,
                         int32_t y, int32_t toX, int32_t toY, const std::string& name) {
    m_unsaved = true;
    std::string failure;
    if (!m_journal.RecordsEdited(kind, first, count, x, y, g_surveyList, failure, toX, toY, name)) {
        Unprotected(failure);
    }
}

void SurveyGuard::OnRecordsRemoved(size_t first, size_t count, int32_t x, int32_t y) {
    Edited(journal::Entry::Kind::kRemoved, first, count, x, y);
}

void SurveyGuard::OnRecordsMoved(size_t first, size_t count, int32_t x, int32_t y, int32_t toX,
                                 int32_t toY) {
    Edited(journal::Entry::Kind::kMoved, first, count, x, y, toX, toY);
}

void SurveyGuard::OnRecordsRenamed(size_t first, size_t count, int32_t x, int32_t y,
                                   const char* name) {
    Edited(journal::Entry::Kind::kRenamed, first, count, x, y, 0, 0, name);
}

bool SurveyGuard::ConfirmClose(const std::function<bool()>& save) {
    if (!m_unsaved) {
        return true;
    }
    switch (platform::MessageBox(kCloseQuestion, platform::kApplicationTitle,
                                 platform::kMbSaveDiscardCancel | kQuestion)) {
        case platform::kIdYes:
            return save();
        case platform::kIdNo: {
            std::string failure;
            std::string aside;
            if (m_journal.Following() && !m_journal.SetAside(aside, failure)) {
                Tell("The survey journal cannot be set aside: " + failure);
            }
            m_unsaved = false;
            return true;
        }
        default:
            return false;
    }
}

void SurveyGuard::OnPointCommitted(int32_t, int32_t) {
    m_unsaved = true;
    std::string failure;
    if (!m_journal.PointCommitted(g_surveyList, failure)) {
        Unprotected(failure);
    }
}

void SurveyGuard::OnSweepDetails(int32_t x, int32_t y, const SweepDetails& details) {
    const std::vector<journal::Entry> entries = journal::SweepEntries(x, y, details);
    for (const journal::Entry& entry : entries) {
        m_findings.Add(entry);
    }
    std::string failure;
    if (!m_journal.SweepLearnt(entries, failure)) {
        Unprotected(failure);
    }
}

void SurveyGuard::OnWalkProgress(const walk::WalkProgress& progress) {
    if (progress.begun || m_walk == 0) {
        m_walk = m_findings.NextWalkNumber();
    }
    journal::Entry entry;
    entry.kind = journal::Entry::Kind::kWalk;
    entry.walk.walk = m_walk;
    entry.walk.speed = progress.speed;
    for (const walk::Corner& c : progress.corners) {
        entry.walk.corners.push_back({c.place.x, c.place.y, c.timeS});
    }
    for (const walk::WalkPoint& p : progress.points) {
        entry.walk.points.push_back({p.x, p.y, p.name});
    }
    m_findings.Add(entry);
    m_unsaved = true;
    std::string failure;
    if (!m_journal.SweepLearnt({entry}, failure)) {
        Unprotected(failure);
    }
}

void SurveyGuard::OnPointDeleted(int32_t x, int32_t y) {
    m_unsaved = true;
    const int32_t first = g_siteHeader ? g_siteHeader->m_selFirstIndex : 0;
    std::string failure;
    if (!m_journal.PointDeleted(x, y, first, g_surveyList, failure)) {
        Unprotected(failure);
    }
}
