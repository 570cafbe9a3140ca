#include "workspace/survey_panels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>

namespace workspace {

namespace {

QTableWidgetItem* TextItem(const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

// Numbers sort as numbers.
QTableWidgetItem* NumberItem(int value) {
    auto* item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

QTableWidget* HeardTable(QWidget* parent) {
    auto* table = new QTableWidget(0, 5, parent);
    table->setHorizontalHeaderLabels({QObject::tr("dBm"), QObject::tr("Ch"), QObject::tr("GHz"),
                                      QObject::tr("BSSID"), QObject::tr("SSID")});
    table->horizontalHeaderItem(0)->setToolTip(QObject::tr("Signal level"));
    table->horizontalHeaderItem(1)->setToolTip(QObject::tr("Channel"));
    table->horizontalHeaderItem(2)->setToolTip(QObject::tr("Band"));
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void FillHeard(QTableWidget* table, const std::vector<HeardEntry>& heard) {
    const bool sorting = table->isSortingEnabled();
    table->setSortingEnabled(false);
    table->setRowCount(static_cast<int>(heard.size()));
    for (int row = 0; row < static_cast<int>(heard.size()); ++row) {
        const HeardEntry& entry = heard[row];
        table->setItem(row, 0, NumberItem(entry.rssi));
        table->setItem(row, 1, NumberItem(entry.channel));
        table->setItem(row, 2, TextItem(entry.band.empty() ? "?" : entry.band));
        table->setItem(row, 3, TextItem(entry.bssid));
        table->setItem(row, 4, TextItem(entry.ssid.empty() ? "(hidden)" : entry.ssid));
    }
    table->setSortingEnabled(sorting);
}

}  // namespace

LiveScanPanel::LiveScanPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LiveScanPanel"));
    auto* layout = new QVBoxLayout(this);
    m_state = new QLabel(tr("Click the plan to take a survey point."), this);
    m_state->setWordWrap(true);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 16);
    m_progress->setValue(0);
    m_progress->setFormat(tr("channel step %v of 16"));
    m_table = HeardTable(this);
    layout->addWidget(m_state);
    layout->addWidget(m_progress);
    layout->addWidget(m_table, 1);
}

void LiveScanPanel::Update(const std::string& progress, bool running,
                           const sitefile::SiteMeta* extras) {
    const std::vector<HeardEntry> heard = HeardInSweep(extras);
    FillHeard(m_table, heard);
    bool numeric = false;
    const int step = QString::fromStdString(progress).toInt(&numeric);
    if (running) {
        m_state->setText(tr("Taking a survey point: %n access point(s) heard so far. Esc cancels.",
                            nullptr, static_cast<int>(heard.size())));
        if (numeric) {
            m_progress->setRange(0, 16);
            m_progress->setValue(std::min(std::max(step - 1, 0), 16));
        } else {
            m_progress->setRange(0, 0);  // busy, without steps to count
        }
    } else {
        m_state->setText(heard.empty() ? tr("Click the plan to take a survey point.")
                                       : tr("Last survey point: %n access point(s) heard.", nullptr,
                                            static_cast<int>(heard.size())));
        m_progress->setRange(0, 16);
        m_progress->setValue(heard.empty() ? 0 : 16);
    }
}

AccessPointsPanel::AccessPointsPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AccessPointsPanel"));
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(6);
    m_tree->setHeaderLabels(
        {tr("SSID / BSSID"), tr("GHz"), tr("Ch"), tr("Best"), tr("Points"), tr("Radio")});
    m_tree->headerItem()->setToolTip(1, tr("Band"));
    m_tree->headerItem()->setToolTip(2, tr("Channel"));
    m_tree->headerItem()->setToolTip(3, tr("Best signal heard, dBm"));
    m_tree->headerItem()->setToolTip(4, tr("Survey points that heard it"));
    m_tree->headerItem()->setToolTip(5, tr("The transmitter it belongs to"));
    m_tree->setSortingEnabled(true);
    m_tree->sortByColumn(0, Qt::AscendingOrder);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->setToolTip(
        tr("Check the access points the overlay maps. A radio is one "
           "transmitter: BSSIDs with the same radio number are one radio."));
    layout->addWidget(m_summary);
    layout->addWidget(m_tree, 1);
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
        if (!m_filling && column == 0) {
            emit SelectionChanged();
        }
    });
}

void AccessPointsPanel::Rebuild(const std::vector<SiteAccessPoint>& aps) {
    // What was unchecked stays unchecked.
    std::map<std::string, bool> unchecked;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* group = m_tree->topLevelItem(i);
        for (int j = 0; j < group->childCount(); ++j) {
            if (group->child(j)->checkState(0) == Qt::Unchecked) {
                unchecked[group->child(j)->data(0, Qt::UserRole).toString().toStdString()] = true;
            }
        }
    }
    m_filling = true;
    m_tree->setSortingEnabled(false);
    m_tree->clear();
    std::map<std::string, QTreeWidgetItem*> groups;
    int radios = 0;
    for (const SiteAccessPoint& ap : aps) {
        const std::string ssid = ap.entry.ssid.empty() ? "(hidden)" : ap.entry.ssid;
        QTreeWidgetItem*& group = groups[ssid];
        if (group == nullptr) {
            group = new QTreeWidgetItem(m_tree);
            group->setText(0, QString::fromStdString(ssid));
            group->setFlags(group->flags() | Qt::ItemIsAutoTristate | Qt::ItemIsUserCheckable);
            group->setExpanded(true);
        }
        auto* item = new QTreeWidgetItem(group);
        item->setText(0, QString::fromStdString(ap.entry.bssid));
        item->setData(0, Qt::UserRole, QString::fromStdString(ap.entry.bssid));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, unchecked.count(ap.entry.bssid) ? Qt::Unchecked : Qt::Checked);
        item->setText(1, QString::fromStdString(ap.entry.band.empty() ? "?" : ap.entry.band));
        item->setData(2, Qt::DisplayRole, ap.entry.channel);
        item->setData(3, Qt::DisplayRole, ap.entry.rssi);
        item->setData(4, Qt::DisplayRole, ap.points);
        item->setData(5, Qt::DisplayRole, ap.radio);
        radios = std::max(radios, ap.radio);
    }
    m_tree->setSortingEnabled(true);
    m_filling = false;
    m_summary->setText(tr("%1 BSSID(s) of %2 radio(s) in %3 network(s).")
                           .arg(aps.size())
                           .arg(radios)
                           .arg(groups.size()));
}

std::vector<coverage::Bssid> AccessPointsPanel::Checked(bool& all) const {
    std::vector<coverage::Bssid> checked;
    all = true;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* group = m_tree->topLevelItem(i);
        for (int j = 0; j < group->childCount(); ++j) {
            QTreeWidgetItem* item = group->child(j);
            coverage::Bssid bssid{};
            if (item->checkState(0) != Qt::Checked) {
                all = false;
            } else if (coverage::ParseBssid(item->data(0, Qt::UserRole).toString().toStdString(),
                                            bssid)) {
                checked.push_back(bssid);
            }
        }
    }
    return checked;
}

PointPanel::PointPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PointPanel"));
    auto* layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_title->setWordWrap(true);
    m_table = HeardTable(this);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(0, Qt::DescendingOrder);
    auto* buttons = new QHBoxLayout;
    m_rename = new QPushButton(tr("&Rename…"), this);
    m_rename->setToolTip(tr("Give the selected point another name"));
    m_delete = new QPushButton(tr("&Delete"), this);
    m_delete->setToolTip(tr("Delete the selected point (Edit → Undo brings it back)"));
    buttons->addWidget(m_rename);
    buttons->addWidget(m_delete);
    buttons->addStretch(1);
    layout->addWidget(m_title);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    connect(m_rename, &QPushButton::clicked, this, [this] {
        if (onRename) {
            onRename();
        }
    });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        if (onDelete) {
            onDelete();
        }
    });
    Show(QString(), {});
}

void PointPanel::Show(const QString& title, const std::vector<HeardEntry>& heard) {
    m_title->setText(title.isEmpty() ? tr("No point selected: click a circle on the plan.")
                                     : title);
    FillHeard(m_table, heard);
    m_rename->setEnabled(!title.isEmpty() && onRename != nullptr);
    m_delete->setEnabled(!title.isEmpty() && onDelete != nullptr);
}

OverlayPanel::OverlayPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("OverlayPanel"));
    auto* form = new QFormLayout(this);
    m_metric = new QComboBox(this);
    m_metric->addItems({tr("Off"), tr("Strongest signal"), tr("Second strongest radio"),
                        tr("Radios at the threshold"), tr("Co-channel radios"),
                        tr("Signal to noise"), tr("Pass / fail of the profile")});
    m_metric->setToolTip(tr("What the overlay maps (the metrics of ksf heatmap)"));
    m_threshold = new QSpinBox(this);
    m_threshold->setRange(-100, -20);
    m_threshold->setValue(-67);
    m_threshold->setSuffix(tr(" dBm"));
    m_threshold->setToolTip(tr("The level the counting metrics count radios at"));
    m_profile = new QComboBox(this);
    m_profile->addItems(
        {QStringLiteral("voice"), QStringLiteral("data"), QStringLiteral("location")});
    m_profile->setToolTip(tr("The requirement profile the pass/fail map judges"));
    auto* bands = new QHBoxLayout;
    for (const char* band : {"2.4", "5", "6"}) {
        auto* box = new QCheckBox(tr("%1 GHz").arg(QLatin1String(band)), this);
        box->setChecked(true);
        box->setProperty("band", QLatin1String(band));
        bands->addWidget(box);
        m_bands.push_back(box);
        connect(box, &QCheckBox::toggled, this, &OverlayPanel::Changed);
    }
    form->addRow(tr("&Metric:"), m_metric);
    form->addRow(tr("&Threshold:"), m_threshold);
    form->addRow(tr("&Profile:"), m_profile);
    form->addRow(tr("Bands:"), bands);
    connect(m_metric, &QComboBox::currentIndexChanged, this, &OverlayPanel::Changed);
    connect(m_threshold, &QSpinBox::valueChanged, this, &OverlayPanel::Changed);
    connect(m_profile, &QComboBox::currentIndexChanged, this, &OverlayPanel::Changed);
}

int OverlayPanel::MetricIndex() const {
    return m_metric->currentIndex();
}

void OverlayPanel::SetMetricIndex(int index) {
    m_metric->setCurrentIndex(index);
}

int OverlayPanel::ThresholdDbm() const {
    return m_threshold->value();
}

std::string OverlayPanel::ProfileName() const {
    return m_profile->currentText().toStdString();
}

std::vector<channels::Band> OverlayPanel::Bands() const {
    std::vector<channels::Band> bands;
    bool all = true;
    for (QCheckBox* box : m_bands) {
        channels::Band band = channels::Band::kUnknown;
        if (box->isChecked() &&
            channels::ParseBand(box->property("band").toString().toStdString(), band)) {
            bands.push_back(band);
        } else {
            all = false;
        }
    }
    // Every band checked maps every access point, of a band known or not.
    return all ? std::vector<channels::Band>() : bands;
}

}  // namespace workspace
