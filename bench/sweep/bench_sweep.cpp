// Sweep speed over the simulated unit, and the serial reader's CPU use on an
// idle line. Prints figures; it is not a test.
//
//   bench_sweep [--sweeps N] [--idle-seconds S]
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_messages.h"
#include "scanner/scanner_device.h"
#include "scanner/serial_link.h"
#include "sim/scenario.h"
#include "sim/simulated_unit.h"
#include "survey/record_list.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineBytesPerSecond = 3840.0;  // 38400 baud, 10 bits a byte

class NullWindow : public platform::WindowHandle {
  public:
    bool PostMessage(platform::MessageId, uintptr_t, intptr_t) override { return true; }
};

class Counter {
  public:
    void Add(const sim::UnitEvent& e) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (e.kind == sim::UnitEvent::kHostMessage && sim::ScanCommandStep(e.message)) {
            ++m_scanCommands;
        }
    }
    int TakeScanCommands() {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = m_scanCommands;
        m_scanCommands = 0;
        return n;
    }

  private:
    std::mutex m_mutex;
    int m_scanCommands = 0;
};

// The view's sweep loop: one pass of the device's ContinueSweep at a time.
bool ViewSweep(CScannerDevice& device) {
    device.BeginSweep();
    SweepState state = SweepState::kRunning;
    while (state == SweepState::kRunning) {
        state = device.ContinueSweep();
    }
    return state == SweepState::kDone && device.TakeFinishedSweep();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Bytes on the wire for one sweep with one request a step: the 16 scan
// commands and the unit's answers to them.
size_t WireBytesOfOneSweep(const sim::Scenario& scenario) {
    sim::UnitResponder unit(scenario);
    size_t bytes = 0;
    for (int step = 1; step <= wire::kSweepSteps; ++step) {
        sim::WireMessage command{3,
                                 {0x01, 0x00, 0x1C, 0x00, 0x00, static_cast<uint8_t>(step), 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x3A}};
        bytes += sim::EncodeUnitFrame(command.type, command.payload).size();
        for (const sim::OutgoingMessage& out : unit.Answer(command, std::nullopt).messages) {
            bytes += out.garbage.size() +
                     sim::EncodeUnitFrame(out.message.type, out.message.payload).size();
        }
    }
    return bytes;
}

std::set<int> ThreadIds() {
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ids.insert(std::atoi(entry->d_name));
            }
        }
        closedir(dir);
    }
    return ids;
}

// CPU time of a thread of this process in seconds (scheduler statistics,
// nanoseconds; the tick counts of stat when those are not available).
double ThreadCpuSeconds(int tid) {
    std::string base = "/proc/self/task/" + std::to_string(tid);
    std::ifstream schedstat(base + "/schedstat");
    unsigned long long runNs = 0;
    if (schedstat >> runNs) {
        return runNs / 1e9;
    }
    std::ifstream stat(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    char* cursor = &text[close + 2];
    unsigned long long utime = 0, stime = 0;
    for (int field = 3; field <= 15; ++field) {
        unsigned long long value = std::strtoull(cursor, &cursor, 10);
        if (field == 14) {
            utime = value;
        } else if (field == 15) {
            stime = value;
        }
        if (field == 3) {  // state is a letter, not a number
            while (*cursor == ' ') {
                ++cursor;
            }
            ++cursor;
        }
    }
    return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

// Whether a thread sits waiting for the port (the reader) rather than on its
// event (the writer, in a futex wait).
bool WaitsOnThePort(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    in >> number;
#ifdef SYS_poll
    if (number == SYS_poll) {
        return true;
    }
#endif
    return number == SYS_ppoll || number == SYS_read || number == SYS_pselect6;
}

// Runs `sweeps` sweeps of the view's loop against the unit on this scenario
// and prints them against the wire-time floor plus one settle interval. With
// idleSeconds, then measures the link's threads on an idle line.
bool MeasureSweeps(const char* name, sim::Scenario scenario, int sweeps, int idleSeconds) {
    scenario.baud = 38400;
    scenario.dwellMs = 0;
    Counter counter;
    std::string error;
    auto unit = sim::SimulatedUnit::Start(scenario, error,
                                          [&counter](const sim::UnitEvent& e) { counter.Add(e); });
    if (!unit) {
        std::fprintf(stderr, "bench_sweep: %s\n", error.c_str());
        return false;
    }
    std::set<int> before = ThreadIds();
    CSerialScannerDevice device;
    NullWindow window;
    device.SetViewWindow(&window);
    CSerialLink link(&device, unit->SlavePath());
    if (!link.IsPortOpen()) {
        std::fprintf(stderr, "bench_sweep: cannot open %s\n", unit->SlavePath().c_str());
        return false;
    }
    std::set<int> linkThreads;
    for (int id : ThreadIds()) {
        if (before.count(id) == 0) {
            linkThreads.insert(id);
        }
    }

    const size_t floorBytes = WireBytesOfOneSweep(scenario);
    const double wireSeconds = floorBytes / kLineBytesPerSecond;
    const double settleSeconds = device.Timing().settle.count() / 1e3;
    const double floorSeconds = wireSeconds + settleSeconds;
    std::printf("%s scenario, 38400 baud, no dwell, %d sweeps\n", name, sweeps);
    std::printf("  wire time: %zu bytes (16 scan commands and their answers) = %.1f ms\n",
                floorBytes, wireSeconds * 1e3);
    std::printf(
        "  settle after step 16: %.0f ms (the line must stay quiet that long before the\n"
        "    sweep ends, so every access point of the last step is in: three channel-\n"
        "    result messages' time at 38400 baud)\n",
        settleSeconds * 1e3);
    std::printf("  floor = wire time + settle = %.1f ms\n", floorSeconds * 1e3);

    std::vector<double> times;
    std::vector<double> requests;
    for (int i = 0; i < sweeps + 1; ++i) {
        {
            std::lock_guard<std::mutex> lock(g_scanListMutex);
            g_scanList.Clear();
        }
        // Let the last sweep's line go quiet, and start with the handshake
        // event set as a finished sweep leaves it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        counter.TakeScanCommands();
        device.m_sendDone.Set();
        Clock::time_point start = Clock::now();
        bool done = ViewSweep(device);
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!done) {
            std::fprintf(stderr, "bench_sweep: the unit stopped answering\n");
            return false;
        }
        if (i > 0) {  // the first sweep warms up
            times.push_back(seconds);
            requests.push_back(counter.TakeScanCommands());
        }
    }
    const double median = Median(times);
    std::printf(
        "  view loop: median sweep %.1f ms (min %.1f, max %.1f), ratio to floor %.2f "
        "(target <= 1.10), scan commands a sweep: median %.0f\n",
        median * 1e3, *std::min_element(times.begin(), times.end()) * 1e3,
        *std::max_element(times.begin(), times.end()) * 1e3, median / floorSeconds,
        Median(requests));
    std::printf("  the settle is %.1f %% of the sweep\n\n", 100.0 * settleSeconds / median);

    if (idleSeconds > 0) {
        // Idle line: nothing queued; the reader wakes on its read time-out.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::vector<std::pair<int, double>> start;
        for (int tid : linkThreads) {
            start.push_back({tid, ThreadCpuSeconds(tid)});
        }
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        for (const auto& [tid, cpu] : start) {
            double used = ThreadCpuSeconds(tid) - cpu;
            const char* role = WaitsOnThePort(tid) ? "reader" : "writer";
            std::printf("idle line, %d s: %s thread %d used %.3f ms CPU = %.4f %% of a core\n",
                        idleSeconds, role, tid, used * 1e3, 100.0 * used / idleSeconds);
        }
    }
    link.Stop();
    unit->Stop();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int sweeps = 15;
    int idleSeconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sweeps") == 0) {
            sweeps = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0) {
            idleSeconds = std::max(0, std::atoi(argv[i + 1]));
        }
    }
    sim::Scenario crowded;
    std::string error;
    if (!sim::LoadScenario(KESTROW_SOURCE_DIR "/examples/crowded-last-step.json", crowded, error)) {
        std::fprintf(stderr, "bench_sweep: %s\n", error.c_str());
        return 1;
    }
    const bool ok = MeasureSweeps("office", sim::BuiltInOfficeScenario(), sweeps, 0) &&
                    MeasureSweeps("crowded last step (12 access points on step 16)", crowded,
                                  sweeps, idleSeconds);
    return ok ? 0 : 1;
}
