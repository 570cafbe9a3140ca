// Site file speed: opening and saving a large site against plain file I/O of
// the same bytes, and how loading grows with the number of stored entries.
// Prints figures; not a test.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"

namespace {

constexpr int kMapSide = 4096;
constexpr int kEntriesPerPoint = 6;
constexpr int kRuns = 7;

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median of kRuns runs, with `prepare` run untimed before each.
double Median(
    const std::function<void()>& work, const std::function<void()>& prepare = [] {}) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        prepare();
        times.push_back(Seconds(work));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_sitefile: %s\n", what.c_str());
    std::exit(1);
}

// Fills g_surveyList with `points` survey points of kEntriesPerPoint records.
void MakeSurvey(int points) {
    g_surveyList.Clear();
    for (int p = 0; p < points; ++p) {
        for (int e = 0; e < kEntriesPerPoint; ++e) {
            ApRecord* r = nullptr;
            if (g_surveyList.AllocRecord(r) != 0) {
                Fail("out of memory");
            }
            r->x = (p * 37) % kMapSide;
            r->y = (p * 53) % kMapSide;
            std::snprintf(r->pointName, sizeof r->pointName, "TEST");
            r->channel = static_cast<int16_t>(36 + 4 * e);
            r->rssi = static_cast<int16_t>(-40 - (p + e) % 50);
            for (int i = 0; i < 6; ++i) {
                r->mac[i] = static_cast<uint8_t>(p * 7 + e + i);
            }
            std::snprintf(r->ssid, sizeof r->ssid, "Network-%d", e);
            g_surveyList.Append(r);
        }
    }
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        Fail("cannot open " + path);
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, done);
        if (n <= 0) {
            Fail("cannot read " + path);
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0) {
        Fail("cannot write " + path);
    }
}

// Opens the site as the open command does, keeping its points: the map, the
// layout check and the identity a save checks against are all part of it.
size_t OpenSite(const std::string& path, sitefile::FileIdentity* identity = nullptr) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    sitefile::SiteMap map;
    sitefile::FileIdentity opened;
    if (!reader.Open(path, error) || !reader.ReadMap(map, error) || !reader.CheckLayout(error) ||
        !reader.Identify(opened, error, &map)) {
        Fail(path + ": " + error.Describe());
    }
    if (identity != nullptr) {
        *identity = opened;
    }
    std::vector<sitefile::PointCircle> circles;
    sitefile::TakeSite(reader, true, g_surveyList, circles);
    return circles.size();
}

std::string MakeSite(const std::string& dir, const std::string& name, int points) {
    sitefile::SiteMap map;
    map.width = kMapSide;
    map.height = kMapSide;
    map.stride = kMapSide;
    map.pixels.resize(size_t{kMapSide} * kMapSide);
    for (size_t i = 0; i < map.pixels.size(); ++i) {
        map.pixels[i] = static_cast<uint8_t>(i * 31 / 7);
    }
    for (int i = 0; i < 256; ++i) {
        map.colors[i] = 0xFF000000u | (i * 0x010101u);
    }
    const std::string path = dir + "/" + name;
    std::string detail;
    const std::vector<uint8_t> fresh = sitefile::BuildNewSiteFile(map);
    if (!platform::ReplaceFileContents(path, fresh, detail)) {
        Fail(detail);
    }
    CSiteHeader header;
    std::memcpy(header.m_fileHeader, fresh.data(), kFileHeaderSize);
    MakeSurvey(points);
    sitefile::FileIdentity opened;
    if (!sitefile::IdentifySiteFile(path, header.m_fileHeader, opened, detail)) {
        Fail(detail);
    }
    sitefile::SaveError error;
    if (!sitefile::SaveSite(path, header, g_surveyList, nullptr, 1, opened, error)) {
        Fail(error.detail);
    }
    g_surveyList.Clear();
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "";
    char templ[] = "/tmp/bench_sitefile_XXXXXX";
    const bool ownDir = dir.empty();
    if (ownDir) {
        if (::mkdtemp(templ) == nullptr) {
            Fail("cannot make a temporary directory");
        }
        dir = templ;
    }

    const std::string site = MakeSite(dir, "big.ksf", 5000);
    const std::vector<uint8_t> bytes = ReadWholeFile(site);
    std::printf("site: %d x %d map, 5000 points, %d entries, %zu bytes (median of %d runs)\n",
                kMapSide, kMapSide, 5000 * kEntriesPerPoint, bytes.size(), kRuns);

    const double plainRead = Median([&] { ReadWholeFile(site); });
    const double open = Median([&] { OpenSite(site); }, [] { g_surveyList.Clear(); });
    std::printf(
        "open:  %8.2f ms   plain read of the same bytes %8.2f ms   ratio %.2f (target <= 3)\n",
        open * 1e3, plainRead * 1e3, open / plainRead);

    // Save the points loaded from the site; compare with writing its bytes
    // to a new file and flushing it, as the save does.
    sitefile::FileIdentity opened;
    OpenSite(site, &opened);
    sitefile::SiteFileReader reader;
    sitefile::OpenError openError;
    reader.Open(site, openError);
    CSiteHeader header = reader.Header();
    const std::string copy = dir + "/plain.bin";
    const double plainWrite = Median([&] { WriteWholeFile(copy, bytes); });
    const double save = Median([&] {
        sitefile::SaveError error;
        if (!sitefile::SaveSite(site, header, g_surveyList, nullptr, 1, opened, error)) {
            Fail(error.detail);
        }
    });
    std::printf(
        "save:  %8.2f ms   plain write+fsync of the same bytes %8.2f ms   ratio %.2f (target <= "
        "2)\n",
        save * 1e3, plainWrite * 1e3, save / plainWrite);
    if (ReadWholeFile(site) != bytes) {
        Fail("the saved site differs from the original");
    }

    // Loading the points alone, for two sizes of the points section.
    for (int points : {5000, 10000}) {
        const std::string path = points == 5000 ? site : MakeSite(dir, "bigger.ksf", points);
        const double load = Median(
            [&] {
                sitefile::SiteFileReader r;
                sitefile::OpenError e;
                r.Open(path, e);
                std::vector<sitefile::PointCircle> circles;
                sitefile::TakeSite(r, true, g_surveyList, circles);
            },
            [] { g_surveyList.Clear(); });
        const int entries = points * kEntriesPerPoint;
        std::printf("load %5d entries: %7.2f ms  (%.0f ns an entry)\n", entries, load * 1e3,
                    load * 1e9 / entries);
    }
    g_surveyList.Clear();

    if (ownDir) {
        std::system(("rm -rf " + dir).c_str());
    }
    return 0;
}
