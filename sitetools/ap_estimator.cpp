#include "sitetools/ap_estimator.h"

#include <QMetaObject>
#include <algorithm>
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
        Request request = std::move(*m_next);
        m_next.reset();
        const uint64_t asked = m_asked;
        lock.unlock();
        std::vector<EstimatedAp> estimates =
            EstimateAccessPoints(request.survey, request.mapWidth, request.mapHeight);
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
