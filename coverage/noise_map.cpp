#include "coverage/noise_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace coverage {

NoiseMap::NoiseMap(const std::vector<NoiseSample>& samples) {
    struct Sum {
        double total = 0;
        int count = 0;
    };
    std::map<std::pair<channels::Band, int>, std::map<std::pair<double, double>, Sum>> sums;
    for (const NoiseSample& s : samples) {
        const channels::Channel channel =
            channels::ChannelFromFrequency(static_cast<uint32_t>(std::max(s.frequencyMhz, 0)));
        if (channel.number == 0 || !std::isfinite(s.noiseDbm)) {
            continue;
        }
        Sum& sum = sums[{channel.band, channel.number}][{s.x, s.y}];
        sum.total += s.noiseDbm;
        ++sum.count;
        m_places.insert({s.x, s.y});
    }
    for (const auto& [channel, places] : sums) {
        std::vector<Place>& out = m_channels[channel];
        for (const auto& [at, sum] : places) {
            out.push_back({at.first, at.second, sum.total / sum.count});
        }
    }
}

std::optional<double> NoiseMap::Nearest(channels::Band band, int channel, double x,
                                        double y) const {
    const auto it = m_channels.find({band, channel});
    if (it == m_channels.end()) {
        return std::nullopt;
    }
    double best = std::numeric_limits<double>::infinity();
    std::optional<double> noise;
    for (const Place& p : it->second) {
        const double d = (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y);
        if (d < best) {
            best = d;
            noise = p.noiseDbm;
        }
    }
    return noise;
}

std::optional<double> NoiseMap::At(channels::Band band, int channel, double x, double y) const {
    const auto it = m_channels.find({band, channel});
    if (it != m_channels.end()) {
        for (const Place& p : it->second) {
            if (p.x == x && p.y == y) {
                return p.noiseDbm;
            }
        }
    }
    return std::nullopt;
}

}  // namespace coverage
