#include "sitetools/ap_estimator.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <string>

#include "coverage/coverage_map.h"

namespace sitetools {

std::vector<EstimatedAp> EstimateAccessPoints(const coverage::Survey& survey, int mapWidth,
                                              int mapHeight) {
    const coverage::SiteSamples samples = coverage::PrepareSamples(survey);
    // One thread: the window's own work and the heatmap's have the others.
    const std::vector<coverage::SourceEstimate> places = coverage::LocateAccessPoints(survey, 1);
    std::vector<EstimatedAp> out;
    for (const std::vector<size_t>& box :
         coverage::MarkedPlaces(samples.aps, places, mapWidth, mapHeight)) {
        const coverage::SourceEstimate& surest = places[box.front()];
        if (surest.placed) {
            continue;  // drawn as placed
        }
        EstimatedAp estimate{
            samples.aps[box.front()].bssid, {}, surest.x, surest.y, surest.uncertainty};
        // The box's networks, surest first.
        std::set<std::string> named;
        for (const size_t a : box) {
            const std::string& ssid = samples.aps[a].ssid;
            if (!ssid.empty() && named.insert(ssid).second) {
                estimate.label += (estimate.label.empty() ? "" : ", ") + ssid;
            }
        }
        out.push_back(std::move(estimate));
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

void ApEstimator::Estimate(coverage::Survey survey, int mapWidth, int mapHeight) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = Request{std::move(survey), mapWidth, mapHeight};
    }
    m_wake.notify_one();
}

void ApEstimator::Forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_next.reset();
    ++m_site;
}

void ApEstimator::Work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_next.has_value(); });
        if (m_stop) {
            return;
        }
        Request request = std::move(*m_next);
        m_next.reset();
        const uint64_t site = m_site;
        lock.unlock();
        const auto started = std::chrono::steady_clock::now();
        std::vector<EstimatedAp> estimates =
            EstimateAccessPoints(request.survey, request.mapWidth, request.mapHeight);
        const auto took = std::chrono::steady_clock::now() - started;
        lock.lock();
        if (m_site != site || m_stop) {
            continue;  // another site by now
        }
        // Delivered on this object's thread, even when a newer survey waits:
        // during a walk the newest is always on its way, and these estimates
        // are still newer than those shown.
        QMetaObject::invokeMethod(
            this,
            [this, site, estimates = std::move(estimates)]() mutable {
                bool current = false;
                {
                    std::lock_guard<std::mutex> check(m_mutex);
                    current = m_site == site;
                }
                if (current) {
                    m_done(std::move(estimates));
                }
            },
            Qt::QueuedConnection);
        // At most half a core: as long again before the next survey, and at
        // least a second (a walk brings a point every few seconds).
        const auto rest =
            std::max<std::chrono::steady_clock::duration>(took, std::chrono::seconds(1));
        m_wake.wait_for(lock, rest, [this] { return m_stop; });
    }
}

}  // namespace sitetools
