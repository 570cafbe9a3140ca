// Feeds arbitrary bytes through the whole site-file open (header, map, points
// kept) and saves the loaded points again, as the open and save commands do.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    if (!reader.Open(std::make_unique<MemoryByteSource>(data, size), error)) {
        return 0;
    }
    sitefile::SiteMap map;
    const bool mapRead = reader.ReadMap(map, error);
    std::vector<sitefile::PointCircle> circles;
    std::unique_ptr<CSiteHeader> header = reader.LoadPoints(mapRead, circles);

    // Rebuild the saved file from the same bytes and read it back.
    std::vector<uint8_t> saved;
    std::string detail;
    if (sitefile::BuildSavedFile(data, size, *header, g_surveyList, nullptr, 0, saved, detail)) {
        sitefile::SiteFileReader again;
        if (again.Open(std::make_unique<MemoryByteSource>(saved.data(), saved.size()), error)) {
            std::vector<sitefile::PointCircle> circlesAgain;
            again.LoadPoints(true, circlesAgain);
        }
    }
    g_surveyList.Clear();
    return 0;
}
