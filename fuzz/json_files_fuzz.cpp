// Feeds arbitrary bytes to every JSON file the program reads: as a profile,
// a sidecar and a simulator scenario. Besides the sanitizers' checks: no
// exception leaves a reader, a refusal is one line, and a sidecar that is
// read is written so that it reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "coverage/requirements.h"
#include "sim/scenario.h"
#include "sitefile/site_meta.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void CheckOneLine(bool ok, const std::string& error) {
    Check(ok || (!error.empty() && error.find('\n') == std::string::npos));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    try {
        coverage::Profile profile;
        CheckOneLine(coverage::ParseProfile(text, profile, error), error);
        sim::Scenario scenario;
        error.clear();
        CheckOneLine(sim::ParseScenario(text, scenario, error), error);
        sitefile::SiteMeta meta;
        error.clear();
        const bool read = sitefile::ParseSiteMeta(text, "sidecar", meta, error);
        CheckOneLine(read, error);
        if (read) {
            sitefile::SiteMeta again;
            Check(sitefile::ParseSiteMeta(sitefile::MetaText(meta), "again", again, error));
            Check(sitefile::MetaText(again) == sitefile::MetaText(meta));
        }
    } catch (...) {
        std::abort();
    }
    return 0;
}
