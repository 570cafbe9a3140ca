#include "plan/plan_palette.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

namespace plan {

namespace {

// Paper: every channel at least this bright is taken as the white of the sheet
// (a scan's or a JPEG's paper is never quite 255).
constexpr int kPaperLevel = 250;
// How much each channel's difference counts, roughly as the eye weighs them.
constexpr int kWeight[3] = {3, 4, 2};

int Channel(uint32_t rgb, int c) {
    return static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
}

bool IsPaper(uint32_t rgb) {
    return Channel(rgb, 0) >= kPaperLevel && Channel(rgb, 1) >= kPaperLevel &&
           Channel(rgb, 2) >= kPaperLevel;
}

struct Colour {
    uint32_t rgb;
    uint64_t count;
};

using Entry = std::array<int, 3>;

long Distance(const Entry& e, uint32_t rgb) {
    long d = 0;
    for (int c = 0; c < 3; ++c) {
        const long diff = e[c] - Channel(rgb, c);
        d += kWeight[c] * diff * diff;
    }
    return d;
}

// A box of the median cut: a range of the colour list and its bounds.
struct Box {
    size_t begin = 0;
    size_t end = 0;
    uint64_t count = 0;
    int lo[3] = {255, 255, 255};
    int hi[3] = {0, 0, 0};

    uint64_t Volume() const {
        uint64_t v = 1;
        for (int c = 0; c < 3; ++c) {
            v *= static_cast<uint64_t>(hi[c] - lo[c] + 1);
        }
        return v;
    }
};

Box MakeBox(const std::vector<Colour>& colours, size_t begin, size_t end) {
    Box box;
    box.begin = begin;
    box.end = end;
    for (size_t i = begin; i < end; ++i) {
        box.count += colours[i].count;
        for (int c = 0; c < 3; ++c) {
            box.lo[c] = std::min(box.lo[c], Channel(colours[i].rgb, c));
            box.hi[c] = std::max(box.hi[c], Channel(colours[i].rgb, c));
        }
    }
    return box;
}

// Splits the box at the weighted median of its widest channel.
std::pair<Box, Box> Split(std::vector<Colour>& colours, const Box& box) {
    int axis = 0;
    for (int c = 1; c < 3; ++c) {
        if ((box.hi[c] - box.lo[c]) * kWeight[c] > (box.hi[axis] - box.lo[axis]) * kWeight[axis]) {
            axis = c;
        }
    }
    std::sort(colours.begin() + static_cast<long>(box.begin),
              colours.begin() + static_cast<long>(box.end),
              [axis](const Colour& a, const Colour& b) {
                  return Channel(a.rgb, axis) != Channel(b.rgb, axis)
                             ? Channel(a.rgb, axis) < Channel(b.rgb, axis)
                             : a.rgb < b.rgb;
              });
    uint64_t below = 0;
    size_t cut = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
        below += colours[i].count;
        cut = i + 1;
        if (2 * below >= box.count) {
            break;
        }
    }
    return {MakeBox(colours, box.begin, cut), MakeBox(colours, cut, box.end)};
}

Entry MeanOf(const std::vector<Colour>& colours, size_t begin, size_t end) {
    double sum[3] = {0, 0, 0};
    double n = 0;
    for (size_t i = begin; i < end; ++i) {
        for (int c = 0; c < 3; ++c) {
            sum[c] += static_cast<double>(Channel(colours[i].rgb, c)) * colours[i].count;
        }
        n += static_cast<double>(colours[i].count);
    }
    Entry e;
    for (int c = 0; c < 3; ++c) {
        e[c] = static_cast<int>(sum[c] / n + 0.5);
    }
    return e;
}

// An entry that is nearly grey becomes exactly grey: a plan's greys are.
void Neutralise(Entry& e) {
    const auto [lo, hi] = std::minmax({e[0], e[1], e[2]});
    if (hi - lo <= 4) {
        const int grey = (e[0] + e[1] + e[2] + 1) / 3;
        e = {grey, grey, grey};
    }
}

// Up to `wanted` entries for `colours` by median cut: boxes are split by
// their pixel count first, then, for the second half, by count times volume,
// so a colour few pixels have but far from the rest still gets its own.
std::vector<Entry> MedianCut(std::vector<Colour>& colours, size_t wanted) {
    std::vector<Box> boxes;
    if (!colours.empty()) {
        boxes.push_back(MakeBox(colours, 0, colours.size()));
    }
    while (boxes.size() < wanted) {
        const bool byVolume = boxes.size() >= wanted / 2;
        size_t best = boxes.size();
        double bestPriority = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) {
                continue;
            }
            const double priority = static_cast<double>(boxes[i].count) *
                                    (byVolume ? static_cast<double>(boxes[i].Volume()) : 1.0);
            if (priority > bestPriority) {
                bestPriority = priority;
                best = i;
            }
        }
        if (best == boxes.size()) {
            break;  // every box holds one colour
        }
        auto [a, b] = Split(colours, boxes[best]);
        boxes[best] = a;
        boxes.push_back(b);
    }
    std::vector<Entry> entries;
    for (const Box& box : boxes) {
        Entry e = MeanOf(colours, box.begin, box.end);
        Neutralise(e);
        entries.push_back(e);
    }
    return entries;
}

size_t Nearest(const std::vector<Entry>& entries, uint32_t rgb) {
    size_t best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    for (size_t i = 0; i < entries.size(); ++i) {
        const long d = Distance(entries[i], rgb);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// One step of k-means over the colours: every entry moves to the mean of the
// colours nearest to it. Entry 0, the paper's white, stays.
void Refine(const std::vector<Colour>& colours, std::vector<Entry>& entries) {
    std::vector<std::array<double, 4>> sums(entries.size(), {0, 0, 0, 0});
    for (const Colour& colour : colours) {
        std::array<double, 4>& s = sums[Nearest(entries, colour.rgb)];
        for (int c = 0; c < 3; ++c) {
            s[c] += static_cast<double>(Channel(colour.rgb, c)) * colour.count;
        }
        s[3] += static_cast<double>(colour.count);
    }
    for (size_t i = 1; i < entries.size(); ++i) {
        if (sums[i][3] > 0) {
            for (int c = 0; c < 3; ++c) {
                entries[i][c] = static_cast<int>(sums[i][c] / sums[i][3] + 0.5);
            }
            Neutralise(entries[i]);
        }
    }
}

uint32_t Rgb(const Entry& e) {
    return static_cast<uint32_t>(e[0] << 16 | e[1] << 8 | e[2]);
}

}  // namespace

sitefile::SiteMap IndexedSiteMap(const QImage& plan) {
    const QImage picture = plan.convertToFormat(QImage::Format_RGB32);
    sitefile::SiteMap map;
    map.width = picture.width();
    map.height = picture.height();
    map.stride = (static_cast<size_t>(map.width) + 3) / 4 * 4;
    map.bottomUp = false;
    map.pixels.assign(map.stride * static_cast<size_t>(map.height), 0);
    std::fill(std::begin(map.colors), std::end(map.colors), 0xFFFFFFFFu);

    // How many pixels have each colour.
    std::unordered_map<uint32_t, uint64_t> counts;
    for (int y = 0; y < map.height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        uint32_t last = 0;
        uint64_t* lastCount = nullptr;
        for (int x = 0; x < map.width; ++x) {
            const uint32_t rgb = row[x] & 0xFFFFFF;
            if (lastCount == nullptr || rgb != last) {
                last = rgb;
                lastCount = &counts[rgb];
            }
            ++*lastCount;
        }
    }
    std::vector<Colour> colours;
    colours.reserve(counts.size());
    for (const auto& [rgb, count] : counts) {
        colours.push_back({rgb, count});
    }
    std::sort(colours.begin(), colours.end(),
              [](const Colour& a, const Colour& b) { return a.rgb < b.rgb; });

    std::vector<Entry> entries;
    std::unordered_map<uint32_t, uint8_t> index;
    if (colours.size() <= sitefile::kColorTableEntries) {
        for (const Colour& colour : colours) {
            index[colour.rgb] = static_cast<uint8_t>(entries.size());
            entries.push_back(
                {Channel(colour.rgb, 0), Channel(colour.rgb, 1), Channel(colour.rgb, 2)});
        }
    } else {
        std::vector<Colour> ink;
        for (const Colour& colour : colours) {
            if (!IsPaper(colour.rgb)) {
                ink.push_back(colour);
            }
        }
        entries.push_back({255, 255, 255});
        std::vector<Entry> cut = MedianCut(ink, sitefile::kColorTableEntries - 1);
        entries.insert(entries.end(), cut.begin(), cut.end());
        Refine(ink, entries);
        for (const Colour& colour : colours) {
            index[colour.rgb] =
                IsPaper(colour.rgb) ? 0 : static_cast<uint8_t>(Nearest(entries, colour.rgb));
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        map.colors[i] = 0xFF000000u | Rgb(entries[i]);
    }

    for (int y = 0; y < map.height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        uint8_t* out = map.Row(y);
        uint32_t last = 0;
        uint8_t lastIndex = 0;
        bool haveLast = false;
        for (int x = 0; x < map.width; ++x) {
            const uint32_t rgb = row[x] & 0xFFFFFF;
            if (!haveLast || rgb != last) {
                last = rgb;
                lastIndex = index[rgb];
                haveLast = true;
            }
            out[x] = lastIndex;
        }
    }
    return map;
}

}  // namespace plan
