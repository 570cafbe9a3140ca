// The workspace's sweep: the same passes of the scanner's sweep as the
// handheld's loop, with their waits and deadlines, but one pass at a time
// from the event loop, so the window repaints, the live-scan panel fills and
// Esc is heard while a scan takes seconds. The point is started and
// committed by the view's own code, as the handheld's is.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <string>

class CKestrowView;

namespace workspace {

class SweepRunner : public QObject {
    Q_OBJECT
  public:
    explicit SweepRunner(CKestrowView& view, QObject* parent = nullptr);

    // Starts the point `name` at map (x, y); false when a sweep is running
    // already or the view cannot start one (no scanner, no site).
    bool Start(int32_t x, int32_t y, const std::string& name);
    bool IsRunning() const { return m_running; }
    // Abandons the sweep: nothing is recorded.
    void Cancel();
    // Where the running sweep is (the scanner's progress figure).
    const std::string& Progress() const { return m_progress; }
    int32_t PointX() const { return m_x; }
    int32_t PointY() const { return m_y; }

  signals:
    // After each pass of a running sweep.
    void Progressed();
    // The sweep ended: committed (the point is in the survey) or not
    // (given up, or cancelled).
    void Finished(bool committed);

  private:
    void Pass();

    CKestrowView& m_view;
    QTimer m_timer;
    bool m_running = false;
    std::string m_progress;
    int32_t m_x = 0;
    int32_t m_y = 0;
};

}  // namespace workspace
