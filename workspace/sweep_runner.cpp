#include "workspace/sweep_runner.h"

#include <mutex>

#include "scanner/scan_source.h"
#include "survey/record_list.h"
#include "view/kestrow_view.h"

namespace workspace {

SweepRunner::SweepRunner(CKestrowView& view, QObject* parent) : QObject(parent), m_view(view) {
    // Each pass waits a few milliseconds at most for the answer in flight
    // (the slice set at Start); between passes every waiting event is handled.
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &SweepRunner::Pass);
}

bool SweepRunner::Start(int32_t x, int32_t y, const std::string& name) {
    if (m_running || !m_view.BeginSurveyPoint(x, y, name.c_str())) {
        return false;
    }
    // The window's events wait for no answer from the scanner.
    m_view.Scanner()->SetSweepSlice(std::chrono::milliseconds(15));
    m_running = true;
    m_x = x;
    m_y = y;
    m_progress = m_view.Scanner()->ProgressText();
    m_timer.start();
    emit Progressed();
    return true;
}

void SweepRunner::Pass() {
    ScanSource* scanner = m_view.Scanner();
    if (!m_running || scanner == nullptr) {
        m_timer.stop();
        return;
    }
    const SweepState state = scanner->ContinueSweep();
    m_progress = scanner->ProgressText();
    if (state == SweepState::kRunning) {
        emit Progressed();
        return;
    }
    m_timer.stop();
    m_running = false;
    m_view.EndSweep(state);
    // The device's KORV_DRAW may still be queued: commit now, as its
    // handling would.
    const bool committed = state == SweepState::kDone && m_view.IsSurveyPending();
    if (state == SweepState::kDone) {
        m_view.SettlePendingPoint();
    }
    emit Finished(committed);
}

void SweepRunner::Cancel() {
    if (!m_running) {
        return;
    }
    m_timer.stop();
    m_running = false;
    if (ScanSource* scanner = m_view.Scanner()) {
        scanner->CancelSweep();
    }
    {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    m_progress.clear();
    emit Finished(false);
}

}  // namespace workspace
