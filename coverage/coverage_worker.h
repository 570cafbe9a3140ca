// Builds coverage models on a thread of their own, newest survey first: the
// way a window keeps its heatmap up to date while the survey goes on. Each
// committed or deleted point submits the survey as it now stands; a build
// still running for an older survey is abandoned, and only the newest
// survey's model is handed over.
//
//   coverage::CoverageWorker worker([&](uint64_t generation, auto model) {
//       // on the worker's thread: post the model to the UI thread
//   });
//   worker.Submit(coverage::SurveyFromRecords(g_surveyList), grid, {});
//
// A change of metric, threshold or filter needs no new build: ask the last
// model for another map.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "coverage/coverage_map.h"

namespace coverage {

class CoverageWorker {
  public:
    // Called on the worker's thread with the newest survey's model (null and
    // the reason if the grid was refused). A model whose survey has been
    // superseded by the time it is done is dropped, not handed over.
    using Done = std::function<void(uint64_t generation, std::shared_ptr<const CoverageModel>,
                                    const std::string& error)>;
    // Called on the worker's thread as a build goes on (see BuildProgress).
    using Progress = std::function<void(uint64_t generation, BuildStage stage, double done)>;

    explicit CoverageWorker(Done done, Progress progress = Progress());
    // Abandons any build and waits for the thread to end.
    ~CoverageWorker();
    CoverageWorker(const CoverageWorker&) = delete;
    CoverageWorker& operator=(const CoverageWorker&) = delete;

    // Asks for a model of this survey, superseding every earlier request.
    // Answers the request's generation, counted from 1. options.cancel is the
    // worker's own; options.only is copied.
    uint64_t Submit(Survey survey, const GridSpec& spec, BuildOptions options);

    // Abandons the build running and any waiting: nothing more is handed
    // over until the next Submit.
    void Cancel();

    // Waits until no build runs or waits.
    void WaitIdle();

  private:
    struct Request {
        uint64_t generation = 0;
        Survey survey;
        GridSpec spec;
        BuildOptions options;
        std::optional<ApFilter> only;
    };

    void Run();

    Done m_done;
    Progress m_progress;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::optional<Request> m_pending;
    uint64_t m_generation = 0;
    bool m_busy = false;
    bool m_stop = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;  // last, so it starts once everything else is ready
};

}  // namespace coverage
