// Feeds arbitrary bytes through the whole site-file open (header, map, layout,
// points kept) and saves the loaded points again, as the open and save
// commands do. Every file the open accepts must be saved, the saved file must
// be accepted by the open again, and it must read back with every access
// point that was saved, in order and unchanged. The identity the open takes
// must be the one the save finds in the unchanged file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"

namespace {

struct SavedEntry {
    uint8_t channel;
    int8_t rssi;
    uint8_t mac[6];
};

// Collects the entries of a points section as the reader sees them.
class EntryCollector : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint&) override {}
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& e) override {
        SavedEntry s{e.channel, static_cast<int8_t>(e.RssiDbm()), {}};
        std::memcpy(s.mac, e.mac, sizeof s.mac);
        entries.push_back(s);
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    std::vector<SavedEntry> entries;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    if (!reader.Open(std::make_unique<MemoryByteSource>(data, size), error)) {
        return 0;
    }
    sitefile::SiteMap map;
    const bool accepted = reader.ReadMap(map, error) && reader.CheckLayout(error);
    if (accepted) {
        // The open takes the map's pixels from memory, the save reads them
        // from the file: both must come to the same identity.
        sitefile::FileIdentity opened;
        sitefile::FileIdentity read;
        MemoryByteSource file(data, size);
        if (!reader.Identify(opened, error, &map) ||
            !sitefile::IdentifySiteFile(file, reader.Header().m_fileHeader, read) ||
            opened != read) {
            std::abort();
        }
    }
    std::vector<sitefile::PointCircle> circles;
    std::unique_ptr<CSiteHeader> header =
        sitefile::TakeSite(reader, accepted, g_surveyList, circles);

    // What the save must write: one entry for every record that is not a marker.
    std::vector<SavedEntry> expected;
    ApRecord* r = nullptr;
    for (int rc = g_surveyList.GetAt(1, r); rc != -2; rc = g_surveyList.GetNext(r)) {
        if (r->channel != 0) {
            SavedEntry s{static_cast<uint8_t>(r->channel), static_cast<int8_t>(r->rssi), {}};
            std::memcpy(s.mac, r->mac, sizeof s.mac);
            expected.push_back(s);
        }
    }

    // Rebuild the saved file from the same bytes and read it back.
    std::vector<uint8_t> saved;
    std::string detail;
    const bool savedOk =
        sitefile::BuildSavedFile(data, size, *header, g_surveyList, nullptr, 0, saved, detail);
    if (accepted && !savedOk) {
        std::abort();  // a site that opens but can never be saved
    }
    if (savedOk) {
        sitefile::SiteFileReader again;
        if (!again.Open(std::make_unique<MemoryByteSource>(saved.data(), saved.size()), error)) {
            std::abort();  // the header was accepted once and is written back unchanged
        }
        sitefile::SiteMap mapAgain;
        if (accepted && (!again.ReadMap(mapAgain, error) || !again.CheckLayout(error) ||
                         mapAgain.pixels != map.pixels)) {
            std::abort();  // the save left a site that no longer opens, or another map
        }
        EntryCollector collector;
        again.VisitPoints(collector);
        if (collector.entries.size() != expected.size()) {
            std::abort();
        }
        for (size_t i = 0; i < expected.size(); ++i) {
            const SavedEntry& a = expected[i];
            const SavedEntry& b = collector.entries[i];
            if (a.channel != b.channel || a.rssi != b.rssi ||
                std::memcmp(a.mac, b.mac, sizeof a.mac) != 0) {
                std::abort();
            }
        }
        std::vector<sitefile::PointCircle> circlesAgain;
        sitefile::TakeSite(again, true, g_surveyList, circlesAgain);
    }
    g_surveyList.Clear();
    return 0;
}
