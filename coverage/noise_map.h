// The noise floors a survey measured (the Wi-Fi adapter's channel survey at
// each point), by channel, for the signal-to-noise figures.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "coverage/survey.h"

namespace coverage {

class NoiseMap {
  public:
    NoiseMap() = default;
    // Readings at one position on one channel are averaged; a frequency that
    // is no channel is left out.
    explicit NoiseMap(const std::vector<NoiseSample>& samples);

    bool Empty() const { return m_places.empty(); }
    // The channel's noise at the measuring position nearest (x, y); none
    // where no position measured that channel.
    std::optional<double> Nearest(channels::Band band, int channel, double x, double y) const;
    // The channel's noise measured at exactly (x, y).
    std::optional<double> At(channels::Band band, int channel, double x, double y) const;
    // Whether any noise was measured at (x, y).
    bool MeasuredAt(double x, double y) const { return m_places.count({x, y}) != 0; }

  private:
    struct Place {
        double x;
        double y;
        double noiseDbm;
    };
    std::map<std::pair<channels::Band, int>, std::vector<Place>> m_channels;
    std::set<std::pair<double, double>> m_places;
};

}  // namespace coverage
