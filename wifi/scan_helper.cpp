#include "wifi/scan_helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace wifi {

namespace {

constexpr int kHelperTimeoutMs = 5000;

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool Executable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

// kscan beside the running program (both installed in one place), else the
// first on PATH.
std::string FindKscan() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string dir(self);
        dir.resize(dir.rfind('/') + 1);
        if (Executable(dir + "kscan")) {
            return dir + "kscan";
        }
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/' && Executable(dir + "/kscan")) {
            return dir + "/kscan";
        }
        start = end + 1;
    }
    return std::string();
}

// The helper's answer line: the code, and the reason after it.
bool ParseHelperAnswer(const std::string& line, int& code, std::string& reason) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(line.c_str(), &end, 10);
    if (end == line.c_str() || errno != 0 || value > 0 || value < -4095) {
        return false;
    }
    code = static_cast<int>(value);
    reason = *end == ' ' ? std::string(end + 1) : std::string();
    return true;
}

class KscanHelper : public TriggerHelper {
  public:
    explicit KscanHelper(std::string path) : m_path(std::move(path)) {}

    int Trigger(const std::string& iface, const ScanRequest& request,
                std::string& reason) override {
        std::vector<std::string> args = {"--trigger-scan", "--iface", iface};
        if (request.passive) {
            args.push_back("--passive");
        }
        if (!request.colocated6Ghz) {
            args.push_back("--no-colocated");
        }
        if (!request.frequencies.empty()) {
            std::string list;
            for (uint32_t f : request.frequencies) {
                list += (list.empty() ? "" : ",") + std::to_string(f);
            }
            args.push_back("--frequencies");
            args.push_back(list);
        }
        return Run(args, reason);
    }

    int Abort(const std::string& iface, std::string& reason) override {
        return Run({"--abort-scan", "--iface", iface}, reason);
    }

  private:
    int Run(const std::vector<std::string>& args, std::string& reason) {
        const std::string path = m_path.empty() ? FindKscan() : m_path;
        if (!Executable(path)) {
            reason = "the scan helper kscan was not found";
            return -ENOENT;
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            reason = std::string("cannot run the scan helper: ") + std::strerror(errno);
            return -EIO;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            ::close(out[0]);
            reason = "cannot run the scan helper " + path + ": " + std::strerror(spawned);
            return -ENOENT;
        }
        // Its answer is one short line; read until it closes its end.
        std::string text;
        const int64_t deadline = MonotonicMs() + kHelperTimeoutMs;
        for (;;) {
            const int64_t left = deadline - MonotonicMs();
            pollfd pfd{out[0], POLLIN, 0};
            if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
                if (left <= 0 || errno != EINTR) {
                    break;
                }
                continue;
            }
            char buffer[256];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0 || text.size() > 4096) {
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
        }
        ::close(out[0]);
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && MonotonicMs() < deadline) {
            ::usleep(2000);  // it has closed its output and is ending
        }
        if (done == 0) {
            ::kill(pid, SIGKILL);  // it hangs: ours to end
            ::waitpid(pid, &status, 0);
            reason = "the scan helper " + path + " did not answer";
            return -ETIMEDOUT;
        }
        int code = 0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) > 1 ||
            !ParseHelperAnswer(text.substr(0, text.find('\n')), code, reason)) {
            reason = "the scan helper " + path + " gave no answer (is it as new as this program?)";
            return -ENOENT;
        }
        if (code == -EPERM || code == -EACCES) {
            reason = "the scan helper " + path + " has not been given the capability";
        }
        return code;
    }

    std::string m_path;
};

}  // namespace

std::unique_ptr<TriggerHelper> MakeKscanHelper(const std::string& path) {
    return std::make_unique<KscanHelper>(path);
}

}  // namespace wifi
