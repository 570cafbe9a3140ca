#include "app/survey_guard.h"

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>
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
    switch (found.kind) {
        case journal::Finding::kNone:
            break;
        case journal::Finding::kNothing:
            // Begun but never given a whole entry: there is nothing to keep.
            journal::RemoveJournal(path, error);
            break;
        case journal::Finding::kRecoverable:
            if (!journal::ChangesAnything(found.contents.entries)) {
                // Points taken and deleted again: nothing to offer.
                journal::RemoveJournal(path, error);
                break;
            }
            Offer(found, site, circles);
            return;
        case journal::Finding::kUnreadable:
            SetAside(path, "The survey journal " + journalName + " cannot be read (" +
                               found.problem + ").");
            break;
        case journal::Finding::kOtherSite:
            SetAside(path, "The survey journal " + journalName + " belongs to another site (" +
                               found.contents.header.site.path + ") and is not recovered.");
            break;
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
    if (!found.contents.damage.empty()) {
        text += " The end of the journal is damaged (" + found.contents.damage +
                "); only what comes before it is recovered.";
    }
    if (platform::MessageBox(text, platform::kApplicationTitle, platform::kMbYesNo | kQuestion) !=
        platform::kIdYes) {
        // Declined: kept aside, never offered again.
        std::string error;
        if (!journal::SetAsideJournal(site.path, error)) {
            Tell("The survey journal cannot be set aside: " + error);
        }
        m_journal.Follow(site, g_surveyList);
        return;
    }

    const journal::ReplayOutcome outcome = journal::Replay(found.contents.entries, g_surveyList);
    for (const journal::Entry& entry : outcome.compacted) {
        m_findings.Add(entry);
    }
    if (g_siteHeader) {
        g_siteHeader->m_pointCount += outcome.points;
        g_siteHeader->m_apCount += outcome.apRecords;
    }
    circles = CirclesOf(g_surveyList);
    m_unsaved = true;
    std::string failure;
    if (!m_journal.FollowRecovered(site, g_surveyList, outcome, failure)) {
        Unprotected(failure);
    }
    if (outcome.points > 0 && m_view != nullptr) {
        QCoreApplication::postEvent(
            m_view->window(),
            new platform::WindowMessageEvent(platform::RegisterWindowMessage("KORV_STATUS_UPDATE"),
                                             static_cast<uintptr_t>(outcome.lastX),
                                             static_cast<intptr_t>(outcome.lastY)));
    }
}

void SurveyGuard::SetAside(const std::string& sitePath, const std::string& why) {
    std::string error;
    if (journal::SetAsideJournal(sitePath, error)) {
        Tell(why + " It was kept as " + FileName(journal::DeclinedPath(sitePath)) + ".");
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

void SurveyGuard::SiteSaved(const std::string& sitePath) {
    m_unsaved = false;
    if (!m_findings.Empty()) {
        std::set<std::pair<double, double>> positions;
        for (const ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
             r = r->next) {
            positions.insert({r->x, r->y});
        }
        std::string error, note;
        if (sitefile::UpdateSiteMeta(
                sitePath,
                [&](sitefile::SiteMeta& meta, std::string&) {
                    m_findings.MergeInto(meta, positions);
                    return true;
                },
                error, &note)) {
            m_findings = {};
        } else {
            Tell(
                "The survey was saved, but the channels and noise its scans reported cannot "
                "be written beside it (" +
                error + "); the next save tries again.");
        }
        if (!note.empty()) {
            Tell(note);
        }
    }
    if (!m_journal.Following()) {
        return;
    }
    m_warned = false;
    std::string failure;
    if (!m_journal.SiteSaved(g_surveyList, failure)) {
        Tell("The survey was saved, but its journal cannot be removed: " + failure);
    }
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
            if (m_journal.Following() && !m_journal.SetAside(failure)) {
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

void SurveyGuard::OnPointDeleted(int32_t x, int32_t y) {
    m_unsaved = true;
    const int32_t first = g_siteHeader ? g_siteHeader->m_selFirstIndex : 0;
    std::string failure;
    if (!m_journal.PointDeleted(x, y, first, g_surveyList, failure)) {
        Unprotected(failure);
    }
}
