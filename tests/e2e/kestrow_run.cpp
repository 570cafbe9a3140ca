#include "kestrow_run.h"

#include "sitefile/site_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/kestrow-e2e-XXXXXX";
    m_path = mkdtemp(pattern);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& content) const {
    return Write(name, std::vector<uint8_t>(content.begin(), content.end()));
}

std::string ScratchFolder::Write(const std::string& name,
                                 const std::vector<uint8_t>& content) const {
    const std::string path = m_path + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

const char* const kLabScenario = R"({
  "baud": 0, "dwell_ms": 0, "seed": 1,
  "access_points": [
    {"mac": "00:0a:1b:2c:3d:4e", "ssid": "Lab", "step": 1, "frequency": 5180, "rssi": -45},
    {"mac": "00:0a:1b:2c:3d:4f", "ssid": "Lab-2", "step": 6, "frequency": 5300, "rssi": -62},
    {"mac": "00:0a:1b:2c:3d:50", "ssid": "Guest", "step": 16, "frequency": 5805, "rssi": -71}
  ]})";

const char* const kKeepQuestion = "MSGBOX Tarnwick | Do you wish to keep existing data points?";

std::vector<uint8_t> MakeSite(uint8_t wall) {
    sitefile::SiteMap map;
    map.width = 240;
    map.height = 320;
    map.stride = 240;
    for (uint32_t i = 0; i < 256; ++i) {
        map.colors[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
    }
    map.pixels.assign(240 * 320, 255);
    for (int y = 0; y < 320; ++y) {
        for (int x = 0; x < 240; ++x) {
            if (x % 60 == 0 || y % 80 == 0) {
                map.pixels[y * 240 + x] = wall;
            }
        }
    }
    return sitefile::BuildNewSiteFile(map);
}

KestrowResult RunKestrow(const ScratchFolder& folder, const std::string& scenarioPath,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine,
                         const std::string& extraArguments, const std::string& shellPrefix) {
    return RunKestrowWith(folder, "--simulate='" + scenarioPath + "'", script, onLine,
                          extraArguments, shellPrefix);
}

namespace {

KestrowResult RunInFrame(const char* frame, const ScratchFolder& folder, const std::string& scanner,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine,
                         const std::string& extraArguments, const std::string& shellPrefix);

}  // namespace

KestrowResult RunKestrowWith(const ScratchFolder& folder, const std::string& scanner,
                             const std::string& script,
                             const std::function<void(const std::string&)>& onLine,
                             const std::string& extraArguments, const std::string& shellPrefix) {
    return RunInFrame("--handheld", folder, scanner, script, onLine, extraArguments, shellPrefix);
}

KestrowResult RunKestrowWorkspace(const ScratchFolder& folder, const std::string& scanner,
                                  const std::string& script, const std::string& extraArguments) {
    return RunInFrame("", folder, scanner, script, nullptr, extraArguments, std::string());
}

namespace {

KestrowResult RunInFrame(const char* frame, const ScratchFolder& folder, const std::string& scanner,
                         const std::string& script,
                         const std::function<void(const std::string&)>& onLine,
                         const std::string& extraArguments, const std::string& shellPrefix) {
    const std::string scriptPath = folder.Write("script.txt", script);
    const std::string errorsPath = folder.Path() + "/stderr.txt";
    const std::string command = "cd '" + folder.Path() + "' && " + shellPrefix +
                                " KESTROW_SOUND=off timeout 120 '" + KESTROW_EXE + "' " + frame +
                                " --headless --startup-pause 0 " + scanner + " " + extraArguments +
                                " --script - < '" + scriptPath + "' 2> '" + errorsPath + "'";
    KestrowResult result;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) {
        return result;
    }
    std::string line;
    int c;
    while ((c = std::fgetc(out)) != EOF) {
        if (c == '\n') {
            if (onLine) {
                onLine(line);
            }
            result.lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) {
        result.lines.push_back(line);
    }
    const int status = pclose(out);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> errors = ReadBytes(errorsPath);
    result.errors.assign(errors.begin(), errors.end());
    return result;
}

}  // namespace

KestrowProcess::KestrowProcess(const ScratchFolder& folder, const std::string& scenarioPath) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        return;
    }
    const std::string simulate = "--simulate=" + scenarioPath;
    const std::string errors = folder.Path() + "/stderr.txt";
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, 2);
        if (::chdir(folder.Path().c_str()) != 0) {
            ::_exit(127);
        }
        ::setenv("KESTROW_SOUND", "off", 1);
        ::execl(KESTROW_EXE, KESTROW_EXE, "--handheld", "--headless", "--startup-pause", "0",
                simulate.c_str(), "--script", "-", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    m_input = input[1];
    m_output = output[0];
}

KestrowProcess::~KestrowProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        Wait();
    }
    if (m_input >= 0) {
        ::close(m_input);
    }
    if (m_output >= 0) {
        ::close(m_output);
    }
}

void KestrowProcess::Send(const std::string& script) {
    size_t sent = 0;
    while (sent < script.size()) {
        const ssize_t n = ::write(m_input, script.data() + sent, script.size() - sent);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

bool KestrowProcess::WaitFor(const std::string& prefix) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        size_t newline;
        while ((newline = m_pending.find('\n')) != std::string::npos) {
            m_lines.push_back(m_pending.substr(0, newline));
            m_pending.erase(0, newline + 1);
            if (m_lines.back().rfind(prefix, 0) == 0) {
                return true;
            }
        }
        pollfd fd{m_output, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(m_output, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        m_pending.append(buffer, static_cast<size_t>(n));
    }
    return false;
}

void KestrowProcess::Signal(int signo) {
    if (m_pid > 0) {
        ::kill(m_pid, signo);
    }
}

int KestrowProcess::Wait() {
    if (m_pid <= 0) {
        return -1;
    }
    // A program that does not end within a minute is ended, and reported so.
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 600 && !ended; ++waited) {
        ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
        if (!ended) {
            ::usleep(100000);
        }
    }
    if (!ended) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        status = -1;
    }
    m_pid = -1;
    while (WaitFor("\x01")) {
    }
    if (!m_pending.empty()) {
        m_lines.push_back(m_pending);
        m_pending.clear();
    }
    if (status == -1) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

KestrowResult RunKestrowCommand(const ScratchFolder& folder, const std::string& arguments) {
    const std::string command = "cd '" + folder.Path() + "' && KESTROW_SOUND=off timeout 60 '" +
                                KESTROW_EXE + "' " + arguments + " 2>&1";
    KestrowResult result;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) {
        result.errors.append(buffer, n);
    }
    const int status = pclose(out);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
