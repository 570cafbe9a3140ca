#include "sitetools/ap_estimator.h"

#include <QMetaObject>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>

#include "coverage/coverage_map.h"

namespace sitetools {

std::vector<EstimatedAp> EstimateAccessPoints(const coverage::Survey& survey) {
    const coverage::SiteSamples samples = coverage::PrepareSamples(survey);
    // One thread: the window's own work and the heatmap's have the others.
    const std::vector<coverage::SourceEstimate> places = coverage::LocateAccessPoints(survey, 1);
    // One estimate a radio (the BSSIDs of its networks hang in one place):
    // the surest of its BSSIDs'.
    const std::vector<int> radios = coverage::RadioNumbers(samples.aps);
    std::map<int, EstimatedAp> byRadio;
    for (size_t i = 0; i < places.size() && i < samples.aps.size(); ++i) {
        if (!places[i].located || places[i].placed) {
            continue;
        }
        const EstimatedAp estimate{samples.aps[i].bssid, samples.aps[i].ssid, places[i].x,
                                   places[i].y, places[i].uncertainty};
        const int radio = i < radios.size() ? radios[i] : -static_cast<int>(i) - 1;
        const auto [at, added] = byRadio.emplace(radio, estimate);
        if (!added && estimate.uncertainty < at->second.uncertainty) {
            at->second = estimate;
        }
    }
    // Radios estimated within each other's uncertainty are one box (an
    // access point's 2.4, 5 and 6 GHz radios): one mark, the surest place,
    // naming every network it carries.
    std::vector<EstimatedAp> surest;
    for (const auto& [radio, estimate] : byRadio) {
        surest.push_back(estimate);
    }
    std::stable_sort(surest.begin(), surest.end(), [](const EstimatedAp& a, const EstimatedAp& b) {
        return a.uncertainty < b.uncertainty;
    });
    std::vector<EstimatedAp> out;
    std::vector<std::set<std::string>> networks;
    for (const EstimatedAp& estimate : surest) {
        size_t box = 0;
        while (box < out.size() && std::hypot(out[box].x - estimate.x, out[box].y - estimate.y) >
                                       std::min(out[box].uncertainty, estimate.uncertainty)) {
            ++box;
        }
        if (box == out.size()) {
            out.push_back(estimate);
            networks.emplace_back();
        }
        if (!estimate.label.empty() && networks[box].insert(estimate.label).second &&
            networks[box].size() > 1) {
            out[box].label += ", " + estimate.label;
        }
    }
    return out;
}

ApEstimator::ApEstimator(std::function<void(std::vector<EstimatedAp>)> done, QObject* parent)
    : QObject(parent), m_done(std::move(done)), m_thread([this] { Work(); }) {}

ApEstimator::~ApEstimator() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_next.reset();
    }
    m_wake.notify_one();
    // A fit under way ends on its own; what it posts dies with this object.
    m_thread.join();
}

void ApEstimator::Estimate(coverage::Survey survey) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = std::move(survey);
        ++m_asked;
    }
    m_wake.notify_one();
}

void ApEstimator::Forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_next.reset();
    ++m_asked;
}

void ApEstimator::Work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_next.has_value(); });
        if (m_stop) {
            return;
        }
        coverage::Survey survey = std::move(*m_next);
        m_next.reset();
        const uint64_t asked = m_asked;
        lock.unlock();
        std::vector<EstimatedAp> estimates = EstimateAccessPoints(survey);
        lock.lock();
        if (m_asked != asked || m_stop) {
            continue;  // overtaken
        }
        // Delivered on this object's thread; a later request still overtakes
        // it there.
        QMetaObject::invokeMethod(
            this,
            [this, asked, estimates = std::move(estimates)]() mutable {
                bool current = false;
                {
                    std::lock_guard<std::mutex> check(m_mutex);
                    current = m_asked == asked;
                }
                if (current) {
                    m_done(std::move(estimates));
                }
            },
            Qt::QueuedConnection);
    }
}

}  // namespace sitetools
