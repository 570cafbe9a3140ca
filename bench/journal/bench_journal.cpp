// The survey journal's cost: the time a commit (and a deletion) adds before
// the surveyor sees the point, against a 400 ms sweep, and the journal's size
// per point. The journal is written to a folder on this machine's disk (the
// first argument, the current folder by default), where its flushes go to
// the disk itself. Prints figures; not a test.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "journal/survey_journal.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace {

constexpr int kSitePoints = 1000;   // points the site already holds
constexpr int kCommits = 300;       // points taken in the measured survey
constexpr int kDeletions = 30;      // of them deleted again
constexpr int kAccessPoints = 12;   // heard at each point
constexpr double kSweepMs = 400.0;  // one sweep of the 16 channel steps
constexpr double kTargetPercent = 2.0;

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_journal: %s\n", what.c_str());
    std::exit(1);
}

// One point as CommitPoint leaves it: kAccessPoints records at (x, y).
void AddPoint(int32_t x, int32_t y, int seed) {
    static const char* kSsids[] = {
        "Halloway-Corp", "Halloway-Guest", "Printers", "lab-5g", "", "Conference Room 2 AP"};
    for (int i = 0; i < kAccessPoints; ++i) {
        ApRecord* r = nullptr;
        if (g_surveyList.AllocRecord(r) != 0) {
            Fail("out of memory");
        }
        r->x = x;
        r->y = y;
        std::snprintf(r->pointName, sizeof r->pointName, "TEST");
        for (int b = 0; b < 6; ++b) {
            r->mac[b] = static_cast<uint8_t>((seed * 7 + i * 13 + b) & 0xFF);
        }
        std::snprintf(r->macText, sizeof r->macText, "%02x%02x%02x%02x%02x%02x", r->mac[0],
                      r->mac[1], r->mac[2], r->mac[3], r->mac[4], r->mac[5]);
        std::snprintf(r->ssid, sizeof r->ssid, "%s", kSsids[i % 6]);
        r->channel = static_cast<int16_t>(36 + 4 * (i % 8));
        r->rssi = static_cast<int16_t>(-40 - (seed + i) % 50);
        g_surveyList.Append(r);
    }
}

struct Figures {
    double median;
    double mean;
    double p95;
    double max;
};

Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) {
        sum += v;
    }
    return {ms[ms.size() / 2], sum / static_cast<double>(ms.size()),
            ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back()};
}

void Print(const char* what, const Figures& f) {
    std::printf("%-10s median %.3f ms  mean %.3f ms  95th %.3f ms  max %.3f ms\n", what, f.median,
                f.mean, f.p95, f.max);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : ".";
    std::string pattern = base + "/bench-journal-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("cannot make a folder in " + base);
    }
    const std::string folder = pattern;
    journal::SiteIdentity site;
    site.path = folder + "/site.ksf";
    std::ofstream(site.path) << "site";
    std::string error;
    if (!journal::StatSite(site, error)) {
        Fail(error);
    }

    g_surveyList.Clear();
    for (int p = 0; p < kSitePoints; ++p) {
        AddPoint(p % 640, p / 640 * 10, p);
    }
    journal::SurveyJournal journal;
    journal.Follow(site, g_surveyList);

    std::vector<double> commits;
    for (int p = 0; p < kCommits; ++p) {
        AddPoint(10 + p % 600, 300 + p / 600, kSitePoints + p);
        const auto start = std::chrono::steady_clock::now();
        if (!journal.PointCommitted(g_surveyList, error)) {
            Fail(error);
        }
        commits.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const uint64_t size = journal.Size();

    std::vector<double> deletions;
    CSiteHeader header;
    for (int d = 0; d < kDeletions; ++d) {
        const int p = d * 7;
        if (header.SelectPointNear(10 + p % 600, 300 + p / 600) != 1) {
            Fail("no point to delete");
        }
        header.DeleteSelectedPoint();
        const auto start = std::chrono::steady_clock::now();
        if (!journal.PointDeleted(static_cast<int32_t>(header.m_selX),
                                  static_cast<int32_t>(header.m_selY), header.m_selFirstIndex,
                                  g_surveyList, error)) {
            Fail(error);
        }
        deletions.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    journal.Stop();
    std::filesystem::remove_all(folder);
    g_surveyList.Clear();

    std::printf("journal in %s, a site of %d points, %d points taken of %d access points each\n",
                base.c_str(), kSitePoints, kCommits, kAccessPoints);
    const Figures c = Summarise(commits);
    const Figures d = Summarise(deletions);
    Print("commit", c);
    Print("deletion", d);
    std::printf("first commit (creates the journal): %.3f ms\n", commits.front());
    // The typical commit is judged; the 95th percentile shows what a busy
    // disk does to it.
    std::printf(
        "commit against a %.0f ms sweep: median %.2f %% (target <= %.1f %%: %s), "
        "95th %.2f %%\n",
        kSweepMs, 100.0 * c.median / kSweepMs, kTargetPercent,
        100.0 * c.median / kSweepMs <= kTargetPercent ? "within" : "OVER",
        100.0 * c.p95 / kSweepMs);
    const size_t headerSize = journal::EncodeHeader({site, 0}).size();
    std::printf(
        "journal size: %llu bytes, %zu of them the header; %.1f bytes a point "
        "(%.1f an access point)\n",
        static_cast<unsigned long long>(size), headerSize,
        static_cast<double>(size - headerSize) / kCommits,
        static_cast<double>(size - headerSize) / kCommits / kAccessPoints);
    return 0;
}
