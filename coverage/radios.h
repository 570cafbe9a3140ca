// Radios: the transmitters behind a survey's BSSIDs (RadioKeyOf groups them),
// and what one place hears of them. Every figure that counts access points
// (second, count, co-channel, a profile's minimum number) counts radios, so a
// radio that sends a Staff and a Guest SSID is one, never two. A radio's
// level is that of its strongest selected BSSID: a filter selects BSSIDs, and
// a radio counts when one of its selected BSSIDs does.
//
//   RadioSet radios(model.AccessPoints());
//   RadioCombiner combine(radios, selectedAps);
//   std::vector<double> scratch;
//   RadioLevels heard = combine.Combine(levels, -67, scratch);  // levels per access point
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "coverage/survey.h"

namespace coverage {

struct Radio {
    channels::Band band = channels::Band::kUnknown;
    int channel = 0;
    int widthMhz = 0;  // the widest any of its BSSIDs reported; 0 unknown
    channels::Span span;
    std::vector<size_t> aps;  // its access points (indices into the set's list), in order
};

class RadioSet {
  public:
    RadioSet() = default;
    // The radios of `aps`, numbered in the order they are first met there
    // (as RadioNumbers numbers them, from 0 here).
    explicit RadioSet(const std::vector<AccessPoint>& aps);

    size_t Count() const { return m_radios.size(); }
    const Radio& At(size_t radio) const { return m_radios[radio]; }
    size_t RadioOf(size_t ap) const { return m_radioOf[ap]; }
    // Two radios share a channel: the same band and channel, or, on 5 and
    // 6 GHz, channels whose reported widths make them overlap (an 80 MHz
    // radio on 36 shares the air of a 20 MHz one on 44). A radio whose width
    // is unknown occupies its 20 MHz channel.
    bool Cochannel(size_t a, size_t b) const { return m_cochannel[a * Count() + b] != 0; }

  private:
    std::vector<Radio> m_radios;
    std::vector<size_t> m_radioOf;
    std::vector<uint8_t> m_cochannel;
};

constexpr size_t kNoRadio = std::numeric_limits<size_t>::max();

// What one place hears of the selected radios.
struct RadioLevels {
    double strongest = kNotHeardDbm;  // dBm
    size_t strongestRadio = kNoRadio;
    double second = kNotHeardDbm;  // the second strongest radio, dBm
    size_t secondRadio = kNoRadio;
    int reaching = 0;   // radios at or above the threshold
    int cochannel = 0;  // of those, radios sharing the strongest one's channel, it included
};

// Combines the levels of access points (indexed as the set's list) into
// radio levels over the selected access points. Ties go to the radio met
// first, so the walk is the same at a map's cell and at a survey point.
class RadioCombiner {
  public:
    RadioCombiner(const RadioSet& radios, std::vector<size_t> selectedAps);

    // `scratch` is the caller's, one per thread. `cochannel` false leaves
    // RadioLevels::cochannel at 0, for callers that do not ask for it.
    template <typename Level>
    RadioLevels Combine(const Level* levels, double threshold, std::vector<double>& scratch,
                        bool cochannel = true) const {
        // Only the radios that count are touched: a filter that keeps a few
        // access points of many costs as little as those few.
        scratch.resize(m_radios->Count());
        for (size_t r : m_active) {
            scratch[r] = kNotHeardDbm;
        }
        for (size_t a : m_selected) {
            double& level = scratch[m_radios->RadioOf(a)];
            level = std::max(level, static_cast<double>(levels[a]));
        }
        return Rank(scratch, threshold, cochannel);
    }

    const RadioSet& Radios() const { return *m_radios; }

  private:
    RadioLevels Rank(const std::vector<double>& radioLevels, double threshold,
                     bool cochannel) const;

    const RadioSet* m_radios;
    std::vector<size_t> m_selected;
    std::vector<size_t> m_active;  // radios with a selected access point, in order
};

// "5 GHz channel 36", or "channel 36" where the band is unknown: how messages
// name a channel.
std::string ChannelText(channels::Band band, int channel);

}  // namespace coverage
