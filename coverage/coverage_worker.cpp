#include "coverage/coverage_worker.h"

#include <utility>

namespace coverage {

CoverageWorker::CoverageWorker(Done done, Progress progress)
    : m_done(std::move(done)), m_progress(std::move(progress)), m_thread([this] { Run(); }) {}

CoverageWorker::~CoverageWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_cancel = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

uint64_t CoverageWorker::Submit(Survey survey, const GridSpec& spec, BuildOptions options) {
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        generation = ++m_generation;
        Request request;
        request.generation = generation;
        request.survey = std::move(survey);
        request.spec = spec;
        request.options = options;
        if (options.only != nullptr) {
            request.only = *options.only;
        }
        m_pending = std::move(request);
        // The build in progress, if any, is for an older survey.
        m_cancel = true;
    }
    m_wake.notify_all();
    return generation;
}

void CoverageWorker::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.reset();
    ++m_generation;  // whatever is running answers an older request now
    m_cancel = true;
}

void CoverageWorker::WaitIdle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_stop || (!m_busy && !m_pending); });
}

void CoverageWorker::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_pending.has_value(); });
        if (m_stop) {
            break;
        }
        Request request = std::move(*m_pending);
        m_pending.reset();
        m_busy = true;
        m_cancel = false;
        lock.unlock();

        request.options.cancel = &m_cancel;
        request.options.only = request.only ? &*request.only : nullptr;
        if (m_progress) {
            const uint64_t generation = request.generation;
            request.options.progress = [this, generation](BuildStage stage, double done) {
                m_progress(generation, stage, done);
            };
        }
        std::string error;
        std::shared_ptr<const CoverageModel> model =
            CoverageModel::Build(request.survey, request.spec, request.options, error);

        lock.lock();
        // Handed over only while it is still the newest request's answer.
        const bool current = request.generation == m_generation && !m_stop;
        if (current && (model || error != "cancelled")) {
            lock.unlock();
            m_done(request.generation, std::move(model), error);
            lock.lock();
        }
        m_busy = false;
        m_idle.notify_all();
    }
    m_busy = false;
    m_idle.notify_all();
}

}  // namespace coverage
