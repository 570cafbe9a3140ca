// Feeds arbitrary bytes through the journal reader, as an open does with a
// journal found beside a site (it may be damaged, cut or not a journal at
// all), and replays what it read on top of a site's own points, keeping
// what its sweeps learnt for the sidecar. Everything
// read must encode back to the very bytes it was read from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "journal/journal_format.h"
#include "journal/survey_journal.h"
#include "survey/record_list.h"

namespace {

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The same bytes with every checksum made right, so that mutations reach
// the decoding of headers and entries rather than stopping at their checks.
std::vector<uint8_t> WithChecksumsRight(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (size < 12) {
        return bytes;
    }
    const size_t headerLength = bytes[10] | (bytes[11] << 8);
    if (headerLength < 4 || headerLength > size) {
        return bytes;
    }
    PutLe32(&bytes[headerLength - 4], journal::Crc32(bytes.data(), headerLength - 4));
    for (size_t at = headerLength; size - at >= 8;) {
        const uint32_t length = Le32(&bytes[at]);
        if (length > size - at - 8) {
            break;
        }
        PutLe32(&bytes[at + 4 + length], journal::Crc32(&bytes[at], 4 + size_t{length}));
        at += 8 + size_t{length};
    }
    return bytes;
}

void Check(const uint8_t* data, size_t size) {
    const journal::JournalContents contents = journal::ParseJournal(data, size);
    if (contents.status != journal::ReadStatus::kOk) {
        return;
    }
    std::vector<uint8_t> again = journal::EncodeHeader(contents.header);
    for (const journal::Entry& entry : contents.entries) {
        journal::EncodeEntry(entry, again);
    }
    if (contents.wholeBytes > size || again.size() != contents.wholeBytes ||
        std::memcmp(again.data(), data, again.size()) != 0) {
        std::abort();
    }

    // Two points of the site's own at places the entries may name.
    g_surveyList.Clear();
    for (int i = 0; i < 4; ++i) {
        ApRecord* r = nullptr;
        if (g_surveyList.AllocRecord(r) != 0) {
            std::abort();
        }
        r->x = i < 2 ? 0 : 1;
        r->y = 0;
        g_surveyList.Append(r);
    }
    const journal::ReplayOutcome outcome = journal::Replay(contents.entries, g_surveyList);
    // What sweeps learnt, as a recovered survey's save takes it.
    journal::SweepFindings findings;
    for (const journal::Entry& entry : outcome.compacted) {
        findings.Add(entry);
    }
    sitefile::SiteMeta meta;
    findings.MergeInto(meta, {{0, 0}, {1, 0}});
    g_surveyList.Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(data, size);
    const std::vector<uint8_t> repaired = WithChecksumsRight(data, size);
    Check(repaired.data(), repaired.size());
    return 0;
}
