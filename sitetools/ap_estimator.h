#pragma once
// Where the survey puts the access points nobody placed: the coverage
// model's fit of each one's source, worked out on a thread of its own so the
// window never waits on it. The latest survey asked for is the next worked
// on (those between are skipped), at most one a second; estimates of another
// site than the one shown are dropped.
#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "coverage/survey.h"
#include "sitetools/site_prep_tools.h"

namespace sitetools {

// The estimates of a survey on a map this large: the marks of
// coverage::MarkedPlaces that are not placed, named by their networks.
std::vector<EstimatedAp> EstimateAccessPoints(const coverage::Survey& survey, int mapWidth,
                                              int mapHeight);

class ApEstimator : public QObject {
    Q_OBJECT
  public:
    // `done` is called on the object's thread with each survey's estimates.
    explicit ApEstimator(std::function<void(std::vector<EstimatedAp>)> done,
                         QObject* parent = nullptr);
    ~ApEstimator() override;

    void Estimate(coverage::Survey survey, int mapWidth, int mapHeight);
    // Whatever is under way or asked for is of no more use (another site).
    void Forget();

  private:
    void Work();

    std::function<void(std::vector<EstimatedAp>)> m_done;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    struct Request {
        coverage::Survey survey;
        int mapWidth = 0;
        int mapHeight = 0;
    };
    std::optional<Request> m_next;
    uint64_t m_site = 0;  // counts the forgets (another site), under m_mutex
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace sitetools
