// The workspace's docked panels: what the running sweep hears, every access
// point of the site (choosing those the overlay maps), everything heard at
// the selected point, and the overlay's choices.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "workspace/survey_points.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTreeWidget;

namespace workspace {

// Live scan: band, channel, SSID in full, BSSID and signal of each access
// point as the sweep hears it, and the sweep's progress.
class LiveScanPanel : public QWidget {
    Q_OBJECT
  public:
    explicit LiveScanPanel(QWidget* parent = nullptr);
    // The sweep's progress figure (a channel step 1..17 for the scanner
    // unit); running false shows the last sweep's list as it ended.
    // `extras`: the frequencies known of the BSSIDs (the bands).
    void Update(const std::string& progress, bool running, const sitefile::SiteMeta* extras);
    QTableWidget* Table() const { return m_table; }

  private:
    QTableWidget* m_table;
    QProgressBar* m_progress;
    QLabel* m_state;
};

// Access points: every BSSID of the site grouped by SSID, with its band,
// channel, best signal, the points that heard it and its radio. The check
// boxes choose which feed the overlay.
class AccessPointsPanel : public QWidget {
    Q_OBJECT
  public:
    explicit AccessPointsPanel(QWidget* parent = nullptr);
    void Rebuild(const std::vector<SiteAccessPoint>& aps);
    // The BSSIDs checked; `all` true when none is unchecked.
    std::vector<coverage::Bssid> Checked(bool& all) const;
    QTreeWidget* Tree() const { return m_tree; }

  signals:
    void SelectionChanged();

  private:
    QTreeWidget* m_tree;
    QLabel* m_summary;
    bool m_filling = false;
};

// Point: everything heard at the selected point, sortable by any column,
// with its rename and delete buttons.
class PointPanel : public QWidget {
    Q_OBJECT
  public:
    explicit PointPanel(QWidget* parent = nullptr);
    // `title` names the point; an empty one shows that none is selected.
    void Show(const QString& title, const std::vector<HeardEntry>& heard);
    QTableWidget* Table() const { return m_table; }

    std::function<void()> onRename;
    std::function<void()> onDelete;

  private:
    QLabel* m_title;
    QTableWidget* m_table;
    QPushButton* m_rename;
    QPushButton* m_delete;
};

// Overlay: the metric (or the profile's pass/fail map), the threshold the
// counting metrics use, the requirement profile, and the bands mapped.
class OverlayPanel : public QWidget {
    Q_OBJECT
  public:
    explicit OverlayPanel(QWidget* parent = nullptr);
    // Index of the metric combo: 0 off, then strongest, second, count,
    // co-channel, signal-to-noise, pass/fail.
    int MetricIndex() const;
    void SetMetricIndex(int index);
    int ThresholdDbm() const;
    std::string ProfileName() const;
    std::vector<channels::Band> Bands() const;

  signals:
    void Changed();

  private:
    QComboBox* m_metric;
    QSpinBox* m_threshold;
    QComboBox* m_profile;
    std::vector<QCheckBox*> m_bands;
};

}  // namespace workspace
