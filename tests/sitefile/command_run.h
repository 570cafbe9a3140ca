// Runs a command line as a person would from a shell, for the tests of the
// command-line tools: its exit status and what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Standard error goes through a file in `dir`; with no `dir` it is dropped.
inline CommandRun RunCommand(const std::string& command, const std::string& dir = std::string()) {
    const std::string errFile = dir.empty() ? std::string("/dev/null") : dir + "/stderr.txt";
    CommandRun r;
    FILE* pipe = popen((command + " 2>" + errFile).c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        r.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!dir.empty()) {
        std::ifstream in(errFile);
        r.err.assign(std::istreambuf_iterator<char>(in), {});
    }
    return r;
}

// A whole file's bytes as a string.
inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
