#include "sitetools/ap_estimator.h"

#include <QMetaObject>

#include "coverage/coverage_map.h"

namespace sitetools {

std::vector<EstimatedAp> EstimateAccessPoints(const coverage::Survey& survey) {
    const coverage::SiteSamples samples = coverage::PrepareSamples(survey);
    // One thread: the window's own work and the heatmap's have the others.
    const std::vector<coverage::SourceEstimate> places = coverage::LocateAccessPoints(survey, 1);
    std::vector<EstimatedAp> out;
    for (size_t i = 0; i < places.size() && i < samples.aps.size(); ++i) {
        if (places[i].located && !places[i].placed) {
            out.push_back({samples.aps[i].bssid, samples.aps[i].ssid, places[i].x, places[i].y,
                           places[i].uncertainty});
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
