#include "coverage/radios.h"

#include <map>
#include <utility>

namespace coverage {

RadioSet::RadioSet(const std::vector<AccessPoint>& aps) {
    std::map<RadioKey, size_t> index;
    m_radioOf.reserve(aps.size());
    for (size_t a = 0; a < aps.size(); ++a) {
        const RadioKey key = RadioKeyOf(aps[a]);
        const auto [it, added] = index.emplace(key, m_radios.size());
        if (added) {
            Radio radio;
            radio.band = key.band;
            radio.channel = key.channel;
            m_radios.push_back(radio);
        }
        Radio& radio = m_radios[it->second];
        radio.aps.push_back(a);
        radio.widthMhz = std::max(radio.widthMhz, aps[a].widthMhz);
        m_radioOf.push_back(it->second);
    }
    const size_t n = m_radios.size();
    for (Radio& radio : m_radios) {
        radio.span = channels::ChannelSpan(radio.band, radio.channel, radio.widthMhz);
    }
    m_cochannel.assign(n * n, 0);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            const Radio& a = m_radios[i];
            const Radio& b = m_radios[j];
            // 2.4 GHz channels a few apart overlap too, but that is
            // interference from a neighbour, not a shared channel.
            const bool wide = a.band == channels::Band::k5GHz || a.band == channels::Band::k6GHz;
            m_cochannel[i * n + j] =
                a.band == b.band && (a.channel == b.channel || (wide && a.span.Overlaps(b.span)));
        }
    }
}

RadioCombiner::RadioCombiner(const RadioSet& radios, std::vector<size_t> selectedAps)
    : m_radios(&radios), m_selected(std::move(selectedAps)) {
    std::vector<bool> active(radios.Count(), false);
    for (size_t a : m_selected) {
        active[radios.RadioOf(a)] = true;
    }
    for (size_t r = 0; r < radios.Count(); ++r) {
        if (active[r]) {
            m_active.push_back(r);
        }
    }
}

RadioLevels RadioCombiner::Rank(const std::vector<double>& radioLevels, double threshold,
                                bool cochannel) const {
    RadioLevels out;
    for (size_t r : m_active) {
        const double v = radioLevels[r];
        if (out.strongestRadio == kNoRadio || v > out.strongest) {
            if (out.strongestRadio != kNoRadio) {
                out.second = out.strongest;
                out.secondRadio = out.strongestRadio;
            }
            out.strongest = v;
            out.strongestRadio = r;
        } else if (out.secondRadio == kNoRadio || v > out.second) {
            out.second = v;
            out.secondRadio = r;
        }
        out.reaching += v >= threshold;
    }
    if (cochannel && out.strongestRadio != kNoRadio) {
        for (size_t r : m_active) {
            out.cochannel +=
                m_radios->Cochannel(out.strongestRadio, r) && radioLevels[r] >= threshold;
        }
    }
    return out;
}

std::string ChannelText(channels::Band band, int channel) {
    const char* name = channels::BandName(band);
    return (name ? std::string(name) + " GHz channel " : std::string("channel ")) +
           std::to_string(channel);
}

}  // namespace coverage
